#include "glyphshape.h"

#include <vector>

#include <gtest/gtest.h>

#include "fontimages.h"

namespace dotmatrix {
namespace {

using fontimages::Font;
using fontimages::fontGlyphs;

GlyphBitmap bitmapOf(const std::vector<const char*>& rows)
{
    GlyphBitmap bitmap;
    bitmap.height = static_cast<int>(rows.size());
    bitmap.width = static_cast<int>(std::string(rows.front()).size());
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            if (rows[static_cast<std::size_t>(y)][x] == '#')
                bitmap.rows[static_cast<std::size_t>(y)] |= 1u << (bitmap.width - 1 - x);
        }
    }
    return bitmap;
}

// Strokes are counted as the eye sees them: pieces touching at corners are
// one, a dot alone is lone, and noise has many pieces.
TEST(GlyphShapes, CountStrokesAsTheEyeSeesThem)
{
    const StrokeFacts letter = strokeFactsOf(bitmapOf({"..#..", ".#.#.", "#...#", "#####", "#...#", "#...#", "....."}));
    EXPECT_EQ(letter.dots, 14);
    EXPECT_EQ(letter.pieces, 1);
    EXPECT_EQ(letter.isolated, 0);
    EXPECT_TRUE(letter.fullLine);
    const StrokeFacts equals = strokeFactsOf(bitmapOf({".....", "#####", ".....", "#####", "....."}));
    EXPECT_EQ(equals.pieces, 2);
    EXPECT_EQ(equals.isolated, 0);
    // More than one lone dot: no letter, and its pieces are not counted.
    const StrokeFacts colon = strokeFactsOf(bitmapOf({".....", "..#..", ".....", ".....", "..#..", "....."}));
    EXPECT_EQ(colon.isolated, 2);
    EXPECT_EQ(colon.pieces, StrokeFacts::kManyPieces);
    const StrokeFacts noise = strokeFactsOf(bitmapOf({"#.#.#", ".....", "#.#.#", ".....", "#.#.#"}));
    EXPECT_EQ(noise.isolated, 9);
    EXPECT_EQ(noise.pieces, StrokeFacts::kManyPieces);
    // Wider than a byte: glyphs of 32 dots are counted whole.
    const StrokeFacts wide = strokeFactsOf(bitmapOf({"################################", "#..............................#"}));
    EXPECT_EQ(wide.pieces, 1);
    EXPECT_EQ(wide.dots, 34);
}

// Shapes of one letter in fonts of other sizes and designs are alike, those
// of other letters are not, and a run of a font's glyphs in code order is
// named by the code of its first, in the order that draws it upright.
TEST(GlyphShapes, NameTheCharactersOfAFontOfAnotherDesign)
{
    const GlyphFormat rows = *readGlyphFormat("8x16, bytes as rows").format;
    const GlyphPainter painter(rows);
    const auto shape = [&](Font font, int code) {
        return shapeOf(painter.paint(fontGlyphs(font, rows, code, 1)));
    };
    // Terminus's A is most like ASCII's A, and much like it.
    EXPECT_GT(asciiLikeness(shape(Font::Terminus16, 'A'), 'A'), 0.6);
    EXPECT_DOUBLE_EQ(mostLikeAscii(shape(Font::Terminus16, 'A')), asciiLikeness(shape(Font::Terminus16, 'A'), 'A'));
    EXPECT_GT(mostLikeAscii(shape(Font::X5x8, 'k')), 0.5);

    std::vector<GlyphShape> run;
    for (int code = 0x28; code < 0x7F; ++code)
        run.push_back(shape(Font::Terminus16, code));
    const auto named = matchAscii(run);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->firstCode, 0x28);
    EXPECT_GT(named->margin, 0.12);
    // Upside down the letters name nothing; turned upright again they do.
    std::vector<GlyphShape> flipped;
    for (const GlyphShape& glyph : run)
        flipped.push_back(glyph.turned(false, true));
    EXPECT_FALSE(matchAscii(flipped));
    std::vector<GlyphShape> back;
    for (const GlyphShape& glyph : flipped)
        back.push_back(glyph.turned(false, true));
    EXPECT_EQ(matchAscii(back)->firstCode, 0x28);
    // Too few glyphs name nothing.
    EXPECT_FALSE(matchAscii(std::span(run).first(10)));
}

} // namespace
} // namespace dotmatrix
