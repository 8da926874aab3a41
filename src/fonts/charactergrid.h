#pragma once

#include <array>
#include <cstdint>

namespace dotmatrix {

// The dots of one character as its bytes hold them: a cell for each bit of
// each byte, addressed by byte ("column", as the original sizes keep one
// column a byte) and bit. Cells hold 1 (dot set) or 0 (dot clear). Which
// cell stands where on screen is the glyph format's to say.
class CharacterGrid {
public:
    // The widest of the original sizes, one byte a column.
    static constexpr int kMaxColumns = 7;
    // The bytes of the largest glyph of any format: 32 x 32 dots.
    static constexpr int kMaxBytes = 128;
    static constexpr int kBits = 8;

    // Discards every cell and sizes the grid to `columns` bytes; 0 leaves no cells.
    void resize(int columns);

    [[nodiscard]] int columns() const { return columns_; }

    [[nodiscard]] bool hasCell(int column, int bit) const
    {
        return column >= 0 && column < columns_ && bit >= 0 && bit < kBits;
    }

    // The cell must exist (hasCell).
    [[nodiscard]] std::uint8_t dot(int column, int bit) const { return cells_[column][bit]; }
    void setDot(int column, int bit, std::uint8_t value) { cells_[column][bit] = value; }

    // The byte that column `column` encodes: bit b is set where cell (column, b) holds 1.
    [[nodiscard]] std::uint8_t columnByte(int column) const;
    // Sets column `column`'s cells to the bits of `byte`, the other way round.
    void setColumnByte(int column, std::uint8_t byte);

private:
    int columns_ = 0;
    std::array<std::array<std::uint8_t, kBits>, kMaxBytes> cells_{};
};

} // namespace dotmatrix
