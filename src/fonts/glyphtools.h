#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dotmatrix {

// What the grid's tools do to a character. Directions are as on screen, in
// the dot order in force.
enum class GlyphTool {
    Clear,
    Invert,
    MirrorLeftRight,
    FlipTopBottom,
    ShiftUp,
    ShiftDown,
    ShiftLeft,
    ShiftRight,
};

// How a font keeps its dots: which bit is the top row and which byte the
// leftmost column. The default, bit 7 on top and the first byte rightmost, is
// how the tool has always drawn characters. It changes only what the screen
// shows, never the bytes.
struct DotOrder {
    bool bit0OnTop = false;
    bool firstByteLeft = false;
    friend bool operator==(const DotOrder&, const DotOrder&) = default;
};

// The order in words: "bit 0 on top, first byte on the left".
[[nodiscard]] std::string dotOrderText(DotOrder order);

// Where dot `bit` of byte `column` of a character `width` bytes wide stands
// on screen, counted from the character's left edge and top, in the grid and
// in every other view.
struct DotPlace {
    int x;
    int y;
};
[[nodiscard]] constexpr DotPlace dotPlace(int column, int bit, int width, DotOrder order = {})
{
    return {order.firstByteLeft ? column : width - 1 - column, order.bit0OnTop ? bit : 7 - bit};
}

// The byte and bit of the dot that stands at (x, y): dotPlace the other way round.
struct DotAddress {
    int column;
    int bit;
};
[[nodiscard]] constexpr DotAddress dotAddress(int x, int y, int width, DotOrder order = {})
{
    return {order.firstByteLeft ? x : width - 1 - x, order.bit0OnTop ? y : 7 - y};
}

// Applies `tool`, as the screen shows the character in `order`, to its
// columns given in file order. Dots shifted out are dropped; the row or
// column shifted in is clear.
void applyGlyphTool(GlyphTool tool, std::span<std::uint8_t> columns, DotOrder order = {});

// The columns as two upper-case hex digits each, in file order, one space
// between: "7E 11 11 11 7E".
[[nodiscard]] std::string hexText(std::span<const std::uint8_t> columns);

// Reads bytes written as hex, either as hexText() writes them or as a C
// array ("{0x7E, 0x11}"): one or two hex digits a byte, in either case, an
// optional 0x, separated by blanks, line breaks, commas or semicolons, within
// optional braces. Nothing where the text holds anything else.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text);

} // namespace dotmatrix
