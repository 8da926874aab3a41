#include "glyphformat.h"

#include <set>
#include <string>
#include <utility>

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
