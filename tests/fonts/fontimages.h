#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "consolefont.h"
#include "glyphtools.h"

// Images with fonts in them for the font scan's tests and benchmark: the
// console's 8x8 font cut to 4 to 7 columns and stored in each dot order,
// and what surrounds fonts in firmware.
namespace dotmatrix::fontimages {

using Bytes = std::vector<std::uint8_t>;

// Glyphs `first` to `first + count - 1` of the console font as bytes of a
// font kept in `order`, `width` columns each: `width` - 1 of the console's,
// where more glyphs have more ink on the left than on the right, as letters
// with their stems do, and a blank one on the right, the gap between letters.
inline Bytes consoleGlyphs(int first, int count, int width, DotOrder order)
{
    // The console's glyphs are 8 wide, serifs in the first column.
    const int from = width == 6 ? 2 : 1;
    Bytes bytes;
    for (int code = first; code < first + count; ++code) {
        std::vector<std::uint8_t> glyph(static_cast<std::size_t>(width), 0);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x + 1 < width; ++x) {
                if ((kConsoleFont[code & 0xFF][y] & (0x80 >> (from + x))) == 0)
                    continue;
                const DotAddress address = dotAddress(x, y, width, order);
                glyph[static_cast<std::size_t>(address.column)] |= static_cast<std::uint8_t>(1 << address.bit);
            }
        }
        bytes.insert(bytes.end(), glyph.begin(), glyph.end());
    }
    return bytes;
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
