#pragma once

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

} // namespace dotmatrix
