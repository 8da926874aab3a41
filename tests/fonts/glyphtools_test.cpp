#include "glyphtools.h"

#include <string>

#include <gtest/gtest.h>


namespace dotmatrix {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(GlyphTools, ChangeTheCharacterAsSeenOnScreenAndReadHexInBothForms)
{
    // An "A" of width 5, first byte rightmost on screen: 7E 11 11 11 7E with a
    // mark in the last byte so that left and right can be told apart.
    const Bytes glyph{0x7E, 0x11, 0x11, 0x11, 0xFF};
    const std::pair<GlyphTool, Bytes> tools[] = {
        {GlyphTool::Clear, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {GlyphTool::Invert, {0x81, 0xEE, 0xEE, 0xEE, 0x00}},
        {GlyphTool::MirrorLeftRight, {0xFF, 0x11, 0x11, 0x11, 0x7E}},
        {GlyphTool::FlipTopBottom, {0x7E, 0x88, 0x88, 0x88, 0xFF}},
        {GlyphTool::ShiftUp, {0xFC, 0x22, 0x22, 0x22, 0xFE}},
        {GlyphTool::ShiftDown, {0x3F, 0x08, 0x08, 0x08, 0x7F}},
        {GlyphTool::ShiftLeft, {0x00, 0x7E, 0x11, 0x11, 0x11}},
        {GlyphTool::ShiftRight, {0x11, 0x11, 0x11, 0xFF, 0x00}},
    };
    for (const auto& [tool, expected] : tools) {
        Bytes columns = glyph;
        applyGlyphTool(tool, columns);
        EXPECT_EQ(columns, expected) << static_cast<int>(tool);
    }

    EXPECT_EQ(hexText(glyph), "7E 11 11 11 FF");
    const std::pair<const char*, Bytes> accepted[] = {
        {"7E 11 11 11 7E", {0x7E, 0x11, 0x11, 0x11, 0x7E}},
        {"0x7e, 0x11,\n0X11, 0x11, 0x7E", {0x7E, 0x11, 0x11, 0x11, 0x7E}},
        {"  { 0x00, 0xff, 0x5, a };\n", {0x00, 0xFF, 0x05, 0x0A}},
        {"{0x01,0x02}", {0x01, 0x02}},
    };
    for (const auto& [text, expected] : accepted) {
        const auto bytes = parseHexBytes(text);
        ASSERT_TRUE(bytes) << text;
        EXPECT_EQ(*bytes, expected) << text;
    }
    for (const char* text : {"", " , ", "{}", "7E11", "0x", "0x100", "7G", "hello", "{7E 11", "7E 11}", "-1", "7E/11",
                             "0xFFFFFFFFFFFFFFFF", "123456789ABCDEF0123"})
        EXPECT_FALSE(parseHexBytes(text)) << text;
}

// The dots of a character as rows of text, top row first, in `order`.
std::string onScreen(const Bytes& columns, DotOrder order)
{
    const int width = static_cast<int>(columns.size());
    std::string rows(static_cast<std::size_t>(8 * (width + 1)), '\n');
    for (int column = 0; column < width; ++column) {
        for (int bit = 0; bit < 8; ++bit) {
            const DotPlace place = dotPlace(column, bit, width, order);
            const DotAddress back = dotAddress(place.x, place.y, width, order);
            EXPECT_EQ(back.column, column);
            EXPECT_EQ(back.bit, bit);
            rows[static_cast<std::size_t>(place.y * (width + 1) + place.x)] =
                ((columns[static_cast<std::size_t>(column)] >> bit) & 1) != 0 ? '#' : '.';
        }
    }
    return rows;
}

TEST(GlyphTools, EachDotOrderDrawsTheLetterUprightAndTheToolsActAsShown)
{
    // An "F" of five columns, stored the four ways fonts keep it.
    const std::string upright = "#####\n"
                                "#....\n"
                                "#....\n"
                                "####.\n"
                                "#....\n"
                                "#....\n"
                                "#....\n"
                                ".....\n";
    const std::string shiftedUp = upright.substr(6) + ".....\n";
    struct Stored {
        DotOrder order;
        Bytes bytes;
    };
    const Stored stored[] = {
        {{false, false}, {0x80, 0x90, 0x90, 0x90, 0xFE}},
        {{true, false}, {0x01, 0x09, 0x09, 0x09, 0x7F}},
        {{false, true}, {0xFE, 0x90, 0x90, 0x90, 0x80}},
        {{true, true}, {0x7F, 0x09, 0x09, 0x09, 0x01}},
    };
    for (const auto& [order, bytes] : stored) {
        SCOPED_TRACE(dotOrderText(order));
        EXPECT_EQ(onScreen(bytes, order), upright);
        Bytes up = bytes;
        applyGlyphTool(GlyphTool::ShiftUp, up, order);
        EXPECT_EQ(onScreen(up, order), shiftedUp);
        Bytes right = bytes;
        applyGlyphTool(GlyphTool::ShiftRight, right, order);
        EXPECT_EQ(onScreen(right, order), ".####\n.#...\n.#...\n.####\n.#...\n.#...\n.#...\n.....\n");
    }
    EXPECT_EQ(dotOrderText({true, true}), "bit 0 on top, first byte on the left");
}

} // namespace
} // namespace dotmatrix
