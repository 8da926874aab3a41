#pragma once

#include <cstdint>
#include <span>

#include <QImage>

#include "glyphtools.h"

namespace dotmatrix {

// Draws the character whose bytes are `columns`, in file order, into
// `image` (32 bits a pixel) with its top left at (`left`, `top`), one pixel
// a dot in `order`: lit dots in `lit`, the others in `unlit(column)`. The
// grid aside, every view of glyphs draws them here, so that none can
// disagree about which bit is on top.
template <typename Unlit>
void drawGlyph(QImage& image, int left, int top, std::span<const std::uint8_t> columns, DotOrder order, QRgb lit,
               Unlit unlit)
{
    const auto width = static_cast<int>(columns.size());
    for (int column = 0; column < width; ++column) {
        const std::uint8_t byte = columns[static_cast<std::size_t>(column)];
        const QRgb background = unlit(column);
        for (int bit = 0; bit < 8; ++bit) {
            const DotPlace place = dotPlace(column, bit, width, order);
            reinterpret_cast<QRgb*>(image.scanLine(top + place.y))[left + place.x] =
                ((byte >> bit) & 1) != 0 ? lit : background;
        }
    }
}

} // namespace dotmatrix
