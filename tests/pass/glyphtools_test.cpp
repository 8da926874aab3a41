#include "glyphtools.h"

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
    for (const char* text : {"", " , ", "{}", "7E11", "0x", "0x100", "7G", "hello", "{7E 11", "7E 11}", "-1", "7E/11"})
        EXPECT_FALSE(parseHexBytes(text)) << text;
}

} // namespace
} // namespace dotmatrix
