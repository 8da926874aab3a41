#pragma once

#include <cstdint>
#include <span>

#include <QImage>

#include "glyphformat.h"

namespace dotmatrix {

// Draws the glyph whose bytes are `bytes`, in file order, into `image` (32
// bits a pixel) with its top left at (`left`, `top`), one pixel a dot as
// `format` places them: lit dots in `lit`, the others in `unlit(byte)`, the
// byte counted from the glyph's first. The grid aside, every view of glyphs
// draws them here, so that none can disagree about which bit stands where.
template <typename Unlit>
void drawGlyph(QImage& image, int left, int top, std::span<const std::uint8_t> bytes, const GlyphFormat& format,
               QRgb lit, Unlit unlit)
{
    const auto count = std::min(static_cast<int>(bytes.size()), format.glyphBytes());
    for (int byte = 0; byte < count; ++byte) {
        const std::uint8_t value = bytes[static_cast<std::size_t>(byte)];
        const QRgb background = unlit(byte);
        for (int bit = 0; bit < 8; ++bit) {
            if (const auto dot = format.dotOf(byte, bit))
                reinterpret_cast<QRgb*>(image.scanLine(top + dot->y))[left + dot->x] =
                    ((value >> bit) & 1) != 0 ? lit : background;
        }
    }
}

} // namespace dotmatrix
