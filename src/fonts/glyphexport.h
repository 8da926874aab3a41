#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "charactercode.h"
#include "glyphtools.h"
#include "position.h"

namespace dotmatrix {

// A run of glyphs taken out of a file: `width` bytes each from `first` on,
// in file order, drawn in `order`, named by `mark` where a character is marked.
struct GlyphRun {
    Position first{1};
    int width = 5;
    DotOrder order;
    std::optional<CharacterMark> mark;
    std::vector<std::uint8_t> bytes;

    [[nodiscard]] int count() const { return width > 0 ? static_cast<int>(bytes.size()) / width : 0; }
    [[nodiscard]] Position position(int glyph) const { return first + std::int64_t{glyph} * width; }
    // The glyph's character code: from the mark, else counted from 0.
    [[nodiscard]] int code(int glyph) const;
};

// A sheet of glyphs as one image: 16 glyphs a row, one pixel a dot, a
// pixel of gap around each glyph.
inline constexpr int kSheetColumns = 16;
struct SheetSize {
    int width = 0;
    int height = 0;
};
[[nodiscard]] SheetSize sheetSize(int count, int glyphWidth);
// Where dot (x, y) of glyph `glyph` stands on the sheet.
struct SheetPixel {
    int x;
    int y;
};
[[nodiscard]] SheetPixel sheetPixel(int glyph, int x, int y, int glyphWidth);

// The glyphs of a sheet `width` x `height` pixels, `pixel` giving each
// pixel's colour as 0xRRGGBB: the gap's colour is the one at (0, 0), the
// darker of two dot colours the lit dots. Cells of nothing but gap end the
// run. Either the bytes in file order, or why the sheet is none.
struct SheetGlyphs {
    std::vector<std::uint8_t> bytes;
    std::string problem;
};
[[nodiscard]] SheetGlyphs readSheet(int width, int height, const std::function<std::uint32_t(int, int)>& pixel,
                                    int glyphWidth, DotOrder order);

// The run as a BDF 2.1 font named `name`, eight dots tall.
[[nodiscard]] std::string bdfText(const GlyphRun& run, const std::string& name);
// The run as C source: one array of bytes in file order, a line a glyph with
// its position and character in a comment.
[[nodiscard]] std::string cSourceText(const GlyphRun& run, const std::string& name);

} // namespace dotmatrix
