#include "charactergrid.h"

#include <algorithm>

namespace dotmatrix {

void CharacterGrid::resize(int columns)
{
    columns_ = std::clamp(columns, 0, kMaxColumns);
    cells_ = {};
}

} // namespace dotmatrix
