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

// `value` as `digits` upper-case hex digits: "7E", "00D7".
[[nodiscard]] std::string hexDigits(std::uint32_t value, int digits);
// The same with "0x" in front, as messages name a byte or a field's value.
[[nodiscard]] std::string hexText(std::uint32_t value, int digits);

} // namespace dotmatrix
