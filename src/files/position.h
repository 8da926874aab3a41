#pragma once

#include <compare>
#include <cstdint>

namespace dotmatrix {

// A 1-based byte position in a file: position 1 is the first byte. One number
// addresses the same byte place in the source and in the target. Lengths and
// counts stay plain integers, so the two can't be mixed up.
class Position {
public:
    constexpr explicit Position(std::int64_t number) : number_(number) {}

    [[nodiscard]] constexpr std::int64_t number() const { return number_; }

    constexpr auto operator<=>(const Position&) const = default;

    [[nodiscard]] friend constexpr Position operator+(Position position, std::int64_t count)
    {
        return Position(position.number_ + count);
    }
    [[nodiscard]] friend constexpr Position operator-(Position position, std::int64_t count)
    {
        return Position(position.number_ - count);
    }

private:
    std::int64_t number_;
};

inline constexpr Position kFirstPosition{1};

// The one place where a 1-based position becomes a zero-based file offset.
[[nodiscard]] constexpr std::int64_t offsetOf(Position position)
{
    return position.number() - 1;
}

// Offsets are carried as signed 32-bit numbers, so no character may reach
// beyond this position. Copies of whole files are not bound by it.
inline constexpr Position kLastCharacterPosition{2147483647};

// True where a character `width` bytes wide at `first` lies whole between
// position 1 and the highest a character may reach.
[[nodiscard]] constexpr bool characterFits(Position first, std::int64_t width)
{
    return first >= kFirstPosition && first + (width - 1) <= kLastCharacterPosition;
}

} // namespace dotmatrix
