#include "glyphtools.h"

#include "offsettext.h"

#include <algorithm>

namespace dotmatrix {

namespace {

std::uint8_t reversedBits(std::uint8_t byte)
{
    std::uint8_t reversed = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if ((byte >> bit) & 1)
            reversed = static_cast<std::uint8_t>(reversed | (0x80 >> bit));
    }
    return reversed;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';';
}

} // namespace

std::string dotOrderText(DotOrder order)
{
    return std::string(order.bit0OnTop ? "bit 0 on top" : "bit 7 on top")
           + (order.firstByteLeft ? ", first byte on the left" : ", first byte on the right");
}

void applyGlyphTool(GlyphTool tool, std::span<std::uint8_t> columns, DotOrder order)
{
    // Up on screen is towards bit 7 where it is on top; left is towards the
    // last byte where the first is rightmost.
    if (order.bit0OnTop && (tool == GlyphTool::ShiftUp || tool == GlyphTool::ShiftDown))
        tool = tool == GlyphTool::ShiftUp ? GlyphTool::ShiftDown : GlyphTool::ShiftUp;
    if (order.firstByteLeft && (tool == GlyphTool::ShiftLeft || tool == GlyphTool::ShiftRight))
        tool = tool == GlyphTool::ShiftLeft ? GlyphTool::ShiftRight : GlyphTool::ShiftLeft;
    switch (tool) {
    case GlyphTool::Clear:
        std::fill(columns.begin(), columns.end(), std::uint8_t{0});
        break;
    case GlyphTool::Invert:
        for (std::uint8_t& byte : columns)
            byte = static_cast<std::uint8_t>(~byte);
        break;
    case GlyphTool::MirrorLeftRight:
        std::reverse(columns.begin(), columns.end());
        break;
    case GlyphTool::FlipTopBottom:
        for (std::uint8_t& byte : columns)
            byte = reversedBits(byte);
        break;
    case GlyphTool::ShiftUp:
        for (std::uint8_t& byte : columns)
            byte = static_cast<std::uint8_t>(byte << 1);
        break;
    case GlyphTool::ShiftDown:
        for (std::uint8_t& byte : columns)
            byte = static_cast<std::uint8_t>(byte >> 1);
        break;
    case GlyphTool::ShiftLeft:
        // Leftwards on screen is towards the last byte.
        if (!columns.empty()) {
            std::shift_right(columns.begin(), columns.end(), 1);
            columns.front() = 0;
        }
        break;
    case GlyphTool::ShiftRight:
        if (!columns.empty()) {
            std::shift_left(columns.begin(), columns.end(), 1);
            columns.back() = 0;
        }
        break;
    }
}

std::string hexText(std::span<const std::uint8_t> columns)
{
    std::string text;
    for (const std::uint8_t byte : columns) {
        if (!text.empty())
            text += ' ';
        text += hexDigits(byte, 2);
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text)
{
    // Braces may open and close the list, as in a C array.
    while (!text.empty() && isSeparator(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSeparator(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '{') {
        if (text.back() != '}')
            return std::nullopt;
        text = text.substr(1, text.size() - 2);
    }
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    while (at < text.size()) {
        if (isSeparator(text[at])) {
            ++at;
            continue;
        }
        if (text[at] == '0' && at + 1 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X'))
            at += 2;
        int value = 0;
        int digits = 0;
        // Past two digits it is no byte: the value stops growing, so a long run can't overflow.
        for (; at < text.size() && hexDigit(text[at]) >= 0; ++at, ++digits) {
            if (digits < 2)
                value = value * 16 + hexDigit(text[at]);
        }
        if (digits < 1 || digits > 2 || (at < text.size() && !isSeparator(text[at])))
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

} // namespace dotmatrix
