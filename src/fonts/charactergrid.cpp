#include "charactergrid.h"

#include <algorithm>

namespace dotmatrix {

void CharacterGrid::resize(int columns)
{
    columns_ = std::clamp(columns, 0, kMaxBytes);
    cells_ = {};
}

std::uint8_t CharacterGrid::columnByte(int column) const
{
    std::uint8_t byte = 0;
    for (int bit = kBits - 1; bit >= 0; --bit) {
        if (cells_[column][bit] == 1)
            byte = static_cast<std::uint8_t>(byte + (1 << bit));
    }
    return byte;
}

void CharacterGrid::setColumnByte(int column, std::uint8_t byte)
{
    for (int bit = kBits - 1; bit >= 0; --bit)
        cells_[column][bit] = (byte >> bit) & 1;
}

} // namespace dotmatrix
