#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "glyphformat.h"
#include "glyphtools.h"
#include "testfonts.h"

// Images with fonts in them for the font scan's tests and benchmark: fonts
// Debian ships (X11's 4x6, 5x8 and 6x9, the console's VGA 8x8 and Terminus
// 8x14 and 8x16) kept in any format and dot order, and what surrounds fonts in
// firmware.
namespace dotmatrix::fontimages {

using Bytes = std::vector<std::uint8_t>;

enum class Font { X4x6, X5x8, X6x9, Vga8, Terminus14, Terminus16 };

inline const testfonts::Font& fontOf(Font font)
{
    return testfonts::kFonts[static_cast<int>(font)];
}

// Whether dot (x, y) of `code` is lit in `font`; codes outside printable
// ASCII are blank, as the space is.
inline bool lit(const testfonts::Font& font, int code, int x, int y)
{
    if (code < testfonts::kFirstCode || code > testfonts::kLastCode || x < 0 || x >= font.width || y < 0
        || y >= font.height)
        return false;
    const std::uint32_t row = font.rows[(code - testfonts::kFirstCode) * font.height + y];
    return ((row >> (font.width - 1 - x)) & 1) != 0;
}

// Glyphs `first` to `first + count - 1` of `font` kept in `format`, one a
// pitch apart (the bytes between them zero): the font's dot (x + left,
// y + top) at dot (x, y) of the format.
inline Bytes fontGlyphs(Font which, const GlyphFormat& format, int first, int count, int left = 0, int top = 0)
{
    const testfonts::Font& font = fontOf(which);
    Bytes bytes;
    for (int code = first; code < first + count; ++code) {
        std::vector<std::uint8_t> glyph(static_cast<std::size_t>(format.step()), 0);
        for (int y = 0; y < format.height; ++y) {
            for (int x = 0; x < format.width; ++x) {
                if (lit(font, code, x + left, y + top))
                    setLitAt(glyph, format, x, y, true);
            }
        }
        bytes.insert(bytes.end(), glyph.begin(), glyph.end());
    }
    return bytes;
}

// The glyphs of a font of column bytes `width` wide and eight tall, as
// small displays keep them: X11's 4x6, 5x8 and 6x9 (its top row left out)
// at widths 4 to 6, the console's VGA 8x8 at 7 (its blank last column left
// out) and 8.
inline Bytes consoleGlyphs(int first, int count, int width, DotOrder order)
{
    const GlyphFormat format = GlyphFormat::original(width, order);
    switch (width) {
    case 4:
        return fontGlyphs(Font::X4x6, format, first, count);
    case 5:
        return fontGlyphs(Font::X5x8, format, first, count);
    case 6:
        return fontGlyphs(Font::X6x9, format, first, count, 0, 1);
    default: {
        GlyphFormat wide = format;
        wide.width = width;
        return fontGlyphs(Font::Vga8, wide, first, count);
    }
    }
}

inline Bytes randomBytes(std::size_t count, std::mt19937& random)
{
    Bytes bytes(count);
    for (std::uint8_t& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

inline Bytes textBytes(std::size_t count)
{
    static const std::string kText =
        "Press any key to continue. Firmware version 2.14 (c) 1998. Checksum error in block %d, retrying... ";
    Bytes bytes;
    while (bytes.size() < count)
        bytes.insert(bytes.end(), kText.begin(), kText.end());
    bytes.resize(count);
    return bytes;
}

} // namespace dotmatrix::fontimages
