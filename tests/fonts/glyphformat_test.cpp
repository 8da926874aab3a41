#include "glyphformat.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

using Lines = GlyphFormat::Lines;
using Pages = GlyphFormat::Pages;

GlyphFormat format(Lines lines, int width, int height, Pages pages, DotOrder order, int pitch = 0)
{
    GlyphFormat made;
    made.lines = lines;
    made.width = width;
    made.height = height;
    made.pages = pages;
    made.order = order;
    made.pitch = pitch;
    return made;
}

// Every kind maps each dot to one bit of its own and back, and names itself
// in words that read back as itself.
TEST(GlyphFormats, MapEveryDotToABitAndBackAndNameThemselves)
{
    const GlyphFormat kinds[] = {
        GlyphFormat::original(5),
        GlyphFormat::original(7, {true, true}),
        format(Lines::Columns, 8, 8, Pages::ColumnByColumn, {true, false}),
        format(Lines::Columns, 5, 7, Pages::ColumnByColumn, {}, 8),
        format(Lines::Columns, 16, 16, Pages::ColumnByColumn, {true, true}),
        format(Lines::Columns, 12, 16, Pages::PageByPage, {true, true}),
        format(Lines::Columns, 10, 13, Pages::PageByPage, {false, false}),
        format(Lines::Rows, 8, 8, Pages::ColumnByColumn, {}),
        format(Lines::Rows, 8, 16, Pages::ColumnByColumn, {true, true}),
        format(Lines::Rows, 12, 14, Pages::ColumnByColumn, {}),
        format(Lines::Rows, 1, 1, Pages::ColumnByColumn, {}),
        format(Lines::Rows, 32, 32, Pages::ColumnByColumn, {false, true}, 200),
    };
    for (const GlyphFormat& kind : kinds) {
        SCOPED_TRACE(kind.words());
        std::set<std::pair<int, int>> bits;
        for (int y = 0; y < kind.height; ++y) {
            for (int x = 0; x < kind.width; ++x) {
                const GlyphFormat::Bit at = kind.bitAt(x, y);
                ASSERT_GE(at.byte, 0);
                ASSERT_LT(at.byte, kind.glyphBytes());
                EXPECT_TRUE(bits.insert({at.byte, at.bit}).second) << x << "," << y;
                EXPECT_EQ(kind.dotOf(at.byte, at.bit), (GlyphFormat::Dot{x, y}));
            }
        }
        int shown = 0;
        for (int byte = 0; byte < kind.glyphBytes(); ++byte) {
            for (int bit = 0; bit < 8; ++bit)
                shown += kind.dotOf(byte, bit) ? 1 : 0;
        }
        EXPECT_EQ(shown, kind.width * kind.height);
        const GlyphFormatReading read = readGlyphFormat(kind.words());
        ASSERT_TRUE(read.format) << read.problem;
        EXPECT_EQ(*read.format, kind);
    }
}

// The tools move dots as shown, whatever the format; bits that hold no dot
// stay as they were, and on the original sizes they act as the grid's own.
TEST(GlyphFormats, ToolsActOnTheDotsAsShown)
{
    const GlyphFormat kinds[] = {
        format(Lines::Columns, 6, 16, Pages::PageByPage, {true, false}),
        format(Lines::Columns, 5, 7, Pages::ColumnByColumn, {}, 8),
        format(Lines::Rows, 12, 14, Pages::ColumnByColumn, {true, true}),
        format(Lines::Rows, 8, 16, Pages::ColumnByColumn, {}),
    };
    const std::pair<GlyphTool, std::pair<int, int>> moves[] = {
        {GlyphTool::ShiftRight, {1, 0}}, {GlyphTool::ShiftLeft, {-1, 0}},
        {GlyphTool::ShiftDown, {0, 1}},  {GlyphTool::ShiftUp, {0, -1}},
    };
    for (const GlyphFormat& kind : kinds) {
        SCOPED_TRACE(kind.words());
        // Every bit set but one dot's, at (1, 2): padding bits set too.
        std::vector<std::uint8_t> glyph(static_cast<std::size_t>(kind.glyphBytes()), 0xFF);
        setLitAt(glyph, kind, 1, 2, false);
        applyGlyphTool(GlyphTool::Invert, glyph, kind);
        for (const auto& [tool, by] : moves) {
            std::vector<std::uint8_t> moved = glyph;
            applyGlyphTool(tool, moved, kind);
            for (int y = 0; y < kind.height; ++y) {
                for (int x = 0; x < kind.width; ++x)
                    EXPECT_EQ(litAt(moved, kind, x, y), x == 1 + by.first && y == 2 + by.second) << x << "," << y;
            }
        }
        std::vector<std::uint8_t> mirrored = glyph;
        applyGlyphTool(GlyphTool::MirrorLeftRight, mirrored, kind);
        applyGlyphTool(GlyphTool::FlipTopBottom, mirrored, kind);
        EXPECT_TRUE(litAt(mirrored, kind, kind.width - 2, kind.height - 3));
        applyGlyphTool(GlyphTool::Clear, mirrored, kind);
        // What is left set is padding alone, untouched by every tool.
        for (int byte = 0; byte < kind.glyphBytes(); ++byte) {
            for (int bit = 0; bit < 8; ++bit)
                EXPECT_EQ((mirrored[static_cast<std::size_t>(byte)] >> bit) & 1, kind.dotOf(byte, bit) ? 0 : 1);
        }
    }
    const std::vector<std::uint8_t> letter{0x7E, 0x11, 0x11, 0x91, 0x7E, 0x03};
    for (const DotOrder order : {DotOrder{}, DotOrder{true, true}}) {
        for (const GlyphTool tool : {GlyphTool::MirrorLeftRight, GlyphTool::FlipTopBottom, GlyphTool::ShiftUp,
                                     GlyphTool::ShiftLeft, GlyphTool::Invert}) {
            std::vector<std::uint8_t> asGrid = letter;
            std::vector<std::uint8_t> asFormat = letter;
            applyGlyphTool(tool, asGrid, order);
            applyGlyphTool(tool, asFormat, GlyphFormat::original(6, order));
            EXPECT_EQ(asFormat, asGrid);
        }
    }
}

TEST(GlyphFormats, PlaceBytesAsFontsKeepThem)
{
    // The original sizes are the grid's own mapping.
    for (const DotOrder order : {DotOrder{}, DotOrder{true, true}, DotOrder{true, false}}) {
        const GlyphFormat original = GlyphFormat::original(6, order);
        EXPECT_TRUE(original.isOriginal());
        for (int column = 0; column < 6; ++column) {
            for (int bit = 0; bit < 8; ++bit) {
                const DotPlace place = dotPlace(column, bit, 6, order);
                EXPECT_EQ(original.dotOf(column, bit), (GlyphFormat::Dot{place.x, place.y}));
            }
        }
    }
    // 16 tall, bit 0 on top, first byte on the left: a column's two bytes
    // together, or the top half of every column first.
    const GlyphFormat together = format(Lines::Columns, 8, 16, Pages::ColumnByColumn, {true, true});
    EXPECT_EQ(together.glyphBytes(), 16);
    EXPECT_EQ(together.bitAt(0, 8), (GlyphFormat::Bit{1, 0}));
    EXPECT_EQ(together.bitAt(1, 0), (GlyphFormat::Bit{2, 0}));
    const GlyphFormat paged = format(Lines::Columns, 8, 16, Pages::PageByPage, {true, true});
    EXPECT_EQ(paged.bitAt(0, 8), (GlyphFormat::Bit{8, 0}));
    EXPECT_EQ(paged.bitAt(1, 15), (GlyphFormat::Bit{9, 7}));
    // Rows: bit 7 on the left, as PC video BIOSes keep their fonts; a row of
    // 12 dots takes two bytes, the last half used.
    const GlyphFormat bios = format(Lines::Rows, 8, 16, Pages::ColumnByColumn, {});
    EXPECT_EQ(bios.glyphBytes(), 16);
    EXPECT_EQ(bios.bitAt(0, 0), (GlyphFormat::Bit{0, 7}));
    EXPECT_EQ(bios.bitAt(7, 15), (GlyphFormat::Bit{15, 0}));
    const GlyphFormat wide = format(Lines::Rows, 12, 8, Pages::ColumnByColumn, {});
    EXPECT_EQ(wide.bitAt(9, 0), (GlyphFormat::Bit{1, 6}));
    EXPECT_EQ(wide.dotOf(1, 0), std::nullopt);
    // 5x7 glyphs 8 bytes apart: the pitch, and bit 0 unused with bit 7 on top.
    const GlyphFormat apart = format(Lines::Columns, 5, 7, Pages::ColumnByColumn, {}, 8);
    EXPECT_EQ(apart.step(), 8);
    EXPECT_FALSE(apart.isOriginal());
    EXPECT_EQ(apart.dotOf(0, 0), std::nullopt);
    EXPECT_EQ(apart.dotOf(0, 7), (GlyphFormat::Dot{4, 0}));

    // In words, as the window and the command line name them.
    EXPECT_EQ(GlyphFormat::original(6, {true, true}).words(), "width 6, bit 0 on top, first byte on the left");
    EXPECT_EQ(format(Lines::Columns, 16, 16, Pages::PageByPage, {true, true}).words(),
              "width 16, 16 tall, page by page, bit 0 on top, first byte on the left");
    EXPECT_EQ(bios.words(), "8x16, bytes as rows, bit 7 on the left");
    EXPECT_EQ(apart.words(), "width 5, 7 tall, bit 7 on top, first byte on the right, 8 bytes apart");
    EXPECT_EQ(readGlyphFormat("5x7").format, GlyphFormat::original(5));
    EXPECT_EQ(readGlyphFormat("6").format, GlyphFormat::original(6));
    for (const char* words : {"", "width 40", "8x0", "upside down", "width 8, 16 tall, 8 bytes apart"})
        EXPECT_FALSE(readGlyphFormat(words).format) << words;
}

} // namespace
} // namespace dotmatrix
