#include "glyphlayout.h"

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

TEST(GlyphLayout, PlacesGlyphsInRowsAndFindsThemUnderThePointer)
{
    // Width 5 at 4 px a dot: a pitch of 24 x 36 px; 10 glyphs a row beside
    // a 60 px label, 5 rows in view.
    GlyphLayout layout;
    layout.setWidth(5);
    layout.setDotSize(4);
    layout.setLabelWidth(60);
    layout.setViewport(60 + 240 + 10, 190);
    layout.setLength(1000);
    EXPECT_EQ(layout.columns(), 10);
    EXPECT_EQ(layout.rowsInView(), 5);
    EXPECT_EQ(layout.rowCount(), 20);
    layout.alignTo(Position(1003));  // glyphs start at 3, 8, 13, ...
    EXPECT_EQ(layout.rowStart(1), 53);
    EXPECT_EQ(layout.glyphHolding(57), 53);
    EXPECT_EQ(layout.glyphHolding(2), 3);  // before the first glyph: the first
    EXPECT_EQ(layout.lastGlyph(), 998);

    layout.setTopRow(2);
    EXPECT_EQ(layout.glyphRect(103 + 5 * 3), (GlyphLayout::Rect{60 + 3 * 24, 0, 20, 32}));
    EXPECT_TRUE(layout.glyphRect(104).empty());  // no glyph starts there
    EXPECT_TRUE(layout.glyphRect(53).empty());   // scrolled away
    const std::pair<std::pair<int, int>, std::optional<std::int64_t>> points[] = {
        {{60 + 24 + 1, 36 + 1}, 158},     // second glyph of the second row in view
        {{60 + 24 + 21, 36 + 1}, {}},     // the gap between two glyphs
        {{60 + 24 + 1, 36 + 33}, {}},     // the gap between two rows
        {{30, 10}, {}},                   // on the label
        {{60 + 1, 36 * 5 + 1}, {}},       // below the last row in view
    };
    for (const auto& [point, glyph] : points)
        EXPECT_EQ(layout.glyphAt(point.first, point.second), glyph) << point.first << "," << point.second;
    EXPECT_EQ(layout.glyphsInView().size(), 50U);

    layout.setTopRow(99);  // kept to the last row that fills the view
    EXPECT_EQ(layout.topRow(), 15);
    EXPECT_EQ(layout.glyphsInView().back(), Position(998));
    EXPECT_EQ(layout.glyphAt(60 + 9 * 24 + 1, 4 * 36 + 1), 998);  // the last, cut short by the end
    layout.setLength(990);
    EXPECT_EQ(layout.glyphAt(60 + 9 * 24 + 1, 4 * 36 + 1), std::nullopt);  // behind the end

    layout.setWidth(7);  // the alignment stays within a glyph
    EXPECT_EQ(layout.alignment(), 2);
    layout.shiftAlignment(-3);
    EXPECT_EQ(layout.alignment(), 6);
}

TEST(GlyphLayout, ScrollsThroughHugeDisksSomeRowsAStep)
{
    GlyphLayout layout;
    layout.setWidth(4);
    layout.setDotSize(2);
    layout.setLabelWidth(100);
    layout.setViewport(100 + 10 * 10, 180);
    const std::int64_t length = std::int64_t{1} << 42;  // 4 TiB: 2^36 rows of 40 bytes
    layout.setLength(length);
    EXPECT_GT(layout.rowCount(), GlyphLayout::kMostScrollRows);
    EXPECT_LE(layout.scrollMaximum(), GlyphLayout::kMostScrollRows);
    layout.setTopRow(layout.rowCount() - 3);
    EXPECT_EQ(layout.topRow(), layout.lastTopRow());
    EXPECT_EQ(layout.rowOfScrollValue(layout.scrollValue()), layout.topRow());
    EXPECT_EQ(layout.rowOfScrollValue(7), 7 * layout.rowsPerStep());
    const std::vector<Position> shown = layout.glyphsInView();
    ASSERT_FALSE(shown.empty());
    EXPECT_LE(shown.back().number(), length);
    EXPECT_GT(shown.back().number(), length - layout.rowBytes());
    EXPECT_EQ(layout.rowOf(shown.front().number()), layout.topRow());
}

} // namespace
} // namespace dotmatrix
