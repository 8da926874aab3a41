#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "position.h"

namespace dotmatrix {

// The starting offset as read from the text of `Offset`, or why it is refused.
struct StartingOffset {
    std::optional<Position> position;
    std::string problem;
};

// Reads a decimal whole number from 1 to 2147483647. Leading zeros carry no
// meaning ("0010" is 10); blanks around the digits are ignored.
[[nodiscard]] StartingOffset readStartingOffset(std::string_view text);

// A position in plain decimal digits, as `curoff` shows it.
[[nodiscard]] std::string decimalText(Position position);

// Refuses `what` ("A glyph of 8 bytes at position 9") for ending beyond the
// highest position, in the one wording every refusal of it uses.
[[nodiscard]] std::string endsBeyondTheHighest(const std::string& what);

// `value` as upper-case hex digits, at least `digits` of them: "7E", "00D7".
[[nodiscard]] std::string hexDigits(std::uint64_t value, int digits);
// The same with "0x" in front, as messages name a byte or a field's value.
[[nodiscard]] std::string hexText(std::uint64_t value, int digits);

} // namespace dotmatrix
