#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "glyphformat.h"

namespace dotmatrix {

// A glyph as shown: W x H dots, a row a word, dot x of a row in bit
// (width - 1 - x).
struct GlyphBitmap {
    int width = 0;
    int height = 0;
    std::array<std::uint32_t, GlyphFormat::kLargest> rows{};

    [[nodiscard]] bool lit(int x, int y) const { return ((rows[static_cast<std::size_t>(y)] >> (width - 1 - x)) & 1) != 0; }
    [[nodiscard]] bool blank() const;
    // Mirrored left-right, flipped top-bottom.
    [[nodiscard]] GlyphBitmap mirrored() const;
    [[nodiscard]] GlyphBitmap flipped() const;
};

// Draws glyphs of one format fast: where each bit of each byte stands.
class GlyphPainter {
public:
    explicit GlyphPainter(const GlyphFormat& format);
    [[nodiscard]] GlyphBitmap paint(std::span<const std::uint8_t> glyph) const;

private:
    GlyphFormat format_;
    struct Place {
        std::int8_t x;
        std::int8_t y;
    };
    // Per byte of the glyph, per bit; x < 0 where the bit holds no dot.
    std::vector<std::array<Place, 8>> places_;
};

// What a glyph's strokes are like, from its dots alone.
struct StrokeFacts {
    static constexpr int kManyPieces = 4;
    int dots = 0;
    // Groups of dots that touch, corners too, counted up to many; many
    // where more than one dot is lone.
    int pieces = 0;
    int isolated = 0;    // dots touching no other
    int pairsAcross = 0; // neighbours side by side
    int pairsDown = 0;   // neighbours one above the other
    int pairsAslant = 0; // neighbours corner to corner
    int columns = 0;     // columns with a dot
    int rows = 0;        // rows with a dot
    bool fullLine = false;  // a whole row or column lit, edge to edge
};
[[nodiscard]] StrokeFacts strokeFactsOf(const GlyphBitmap& glyph);

// The shape of a glyph's ink, scaled to a fixed grid and normalized so that
// the dot product of two shapes is their correlation: alike shapes of
// different fonts and sizes come out near 1.
struct GlyphShape {
    static constexpr int kAcross = 6;
    static constexpr int kDown = 8;
    std::array<float, kAcross * kDown> cells{};
    float logAspect = 0;  // of the ink's height over its width
    bool empty = true;

    // The shape of the glyph mirrored left-right and flipped top-bottom.
    [[nodiscard]] GlyphShape turned(bool mirror, bool flip) const;
};
[[nodiscard]] GlyphShape shapeOf(const GlyphBitmap& glyph);
[[nodiscard]] double similarity(const GlyphShape& a, const GlyphShape& b);

// Where the glyphs of a run look like the digits and letters of ASCII in
// order, the code of the run's first glyph: compared with the shapes of
// Debian's bitmap fonts. `score` is the mean likeness at that code, `margin`
// how far it leads the next best code. A few distinctive characters pick the
// likely codes first; each of those is then weighed on every digit and letter.
struct AsciiMatch {
    int firstCode = 0;
    double score = 0;
    double margin = 0;
};
[[nodiscard]] std::optional<AsciiMatch> matchAscii(std::span<const GlyphShape> glyphs);
// A glyph's likeness to the digit or letter it looks most like.
[[nodiscard]] double mostLikeAscii(const GlyphShape& glyph);
// A glyph's likeness to one digit or letter; 0 for other codes.
[[nodiscard]] double asciiLikeness(const GlyphShape& glyph, int code);

// How many blank lines the digits and capitals of Debian's fonts have
// before their ink, as a share of the cell, across (`across`, from the
// left) or down (from the top), from the fonts nearest `lines` lines that way.
[[nodiscard]] double referenceLead(bool across, int lines);

} // namespace dotmatrix
