#pragma once

namespace dotmatrix {

// The title of every box the tool shows.
inline constexpr char kApplicationName[] = "Dot matrix character generator";

} // namespace dotmatrix
