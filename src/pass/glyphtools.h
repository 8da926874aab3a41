#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dotmatrix {

// What the grid's tools do to a character. Directions are as on screen: the
// first byte is the rightmost column and bit 7 the top row.
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

// Where dot `bit` of byte `column` of a character `width` bytes wide stands
// on screen, counted from the character's left edge and top: the first byte
// is the rightmost column and bit 7 the top row, in the grid and in every
// other view.
struct DotPlace {
    int x;
    int y;
};
[[nodiscard]] constexpr DotPlace dotPlace(int column, int bit, int width)
{
    return {width - 1 - column, 7 - bit};
}

// Applies `tool` to the columns of a character, given in file order. Dots
// shifted out are dropped; the row or column shifted in is clear.
void applyGlyphTool(GlyphTool tool, std::span<std::uint8_t> columns);

// The columns as two upper-case hex digits each, in file order, one space
// between: "7E 11 11 11 7E".
[[nodiscard]] std::string hexText(std::span<const std::uint8_t> columns);

// Reads bytes written as hex, either as hexText() writes them or as a C
// array ("{0x7E, 0x11}"): one or two hex digits a byte, in either case, an
// optional 0x, separated by blanks, line breaks, commas or semicolons, within
// optional braces. Nothing where the text holds anything else.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text);

} // namespace dotmatrix
