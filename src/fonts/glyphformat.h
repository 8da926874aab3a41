#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "glyphtools.h"

namespace dotmatrix {

// How a font keeps its glyphs in bytes, of any size: bytes as columns (a
// column of H dots in ceil(H / 8) bytes) or as rows (a row of W dots in
// ceil(W / 8) bytes), the order of a tall column's bytes, the dot order, and
// the pitch from one glyph to the next. The four original sizes are column
// formats 4 to 7 wide, eight tall, one glyph right after the other.
struct GlyphFormat {
    enum class Lines { Columns, Rows };
    // For columns taller than 8: a column's bytes together, or the top 8
    // rows of every column first, then the next 8 (the "page" order of
    // common OLED controllers).
    enum class Pages { ColumnByColumn, PageByPage };

    static constexpr int kLargest = 32;

    Lines lines = Lines::Columns;
    int width = 5;   // dots, 1 to 32
    int height = 8;  // dots, 1 to 32
    Pages pages = Pages::ColumnByColumn;
    // Columns: bit 0 on top, the first byte on the left. Rows, the
    // matching pair: bit 0 on the left, the first row at the bottom.
    DotOrder order;
    int pitch = 0;  // bytes from glyph to glyph; 0 where the glyph's own bytes

    // A column format of the original sizes: `width` bytes, eight tall.
    [[nodiscard]] static GlyphFormat original(int width, DotOrder order = {});

    [[nodiscard]] bool valid() const;
    [[nodiscard]] bool isOriginal() const;
    // Bytes of one column (columns) or one row (rows).
    [[nodiscard]] int bytesPerLine() const;
    // Bytes of one glyph, and the bytes from one glyph to the next.
    [[nodiscard]] int glyphBytes() const;
    [[nodiscard]] int step() const { return pitch > glyphBytes() ? pitch : glyphBytes(); }

    // The byte of the glyph, counted from its first, and the bit that hold
    // the dot shown at (x, y), counted from the left and from the top.
    struct Bit {
        int byte = 0;
        int bit = 0;
        friend bool operator==(const Bit&, const Bit&) = default;
    };
    [[nodiscard]] Bit bitAt(int x, int y) const;
    // Where bit `bit` of byte `byte` of the glyph is shown; nothing for bits
    // that hold no dot (a last byte of a row or column only partly used).
    struct Dot {
        int x = 0;
        int y = 0;
        friend bool operator==(const Dot&, const Dot&) = default;
    };
    [[nodiscard]] std::optional<Dot> dotOf(int byte, int bit) const;

    // The format in words, as the window, "Fonts found", the command line
    // and the manual name it: "width 6, bit 0 on top, first byte on the
    // left", "width 16, 16 tall, page by page, bit 0 on top, first byte on
    // the left", "8x16, bytes as rows, bit 7 on the left".
    [[nodiscard]] std::string words() const;

    friend bool operator==(const GlyphFormat&, const GlyphFormat&) = default;
};

// The dot shown at (x, y) of the glyph whose bytes are `glyph`, and setting it.
[[nodiscard]] bool litAt(std::span<const std::uint8_t> glyph, const GlyphFormat& format, int x, int y);
void setLitAt(std::span<std::uint8_t> glyph, const GlyphFormat& format, int x, int y, bool lit);

// Applies `tool` to the W x H dots of the glyph as shown, in the format's dot
// order. Bits that hold no dot keep their values; dots shifted out are
// dropped and the row or column shifted in is clear.
void applyGlyphTool(GlyphTool tool, std::span<std::uint8_t> glyph, const GlyphFormat& format);

// Reads a format from its words (words() and parts of them: "6", "width 6",
// "5x7", "8x16, bytes as rows"); what is left out is the original default.
// Why not, where the words name no format.
struct GlyphFormatReading {
    std::optional<GlyphFormat> format;
    std::string problem;
};
[[nodiscard]] GlyphFormatReading readGlyphFormat(const std::string& words);

} // namespace dotmatrix
