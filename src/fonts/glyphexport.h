#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "charactercode.h"
#include "glyphformat.h"
#include "glyphtools.h"
#include "position.h"

namespace dotmatrix {

// A run of glyphs taken out of a file: `width` bytes each from `first` on,
// in file order, drawn in `order`, named by `mark` where a character is marked.
// `bytes` holds the glyphs' own bytes one after the other, whatever the
// pitch. In the original sizes `width` and `order` say the format; `format`,
// where set, says it for any other.
struct GlyphRun {
    Position first{1};
    int width = 5;
    DotOrder order;
    std::optional<GlyphFormat> format;
    std::optional<CharacterMark> mark;
    std::vector<std::uint8_t> bytes;

    // `count` glyphs of `format` from `first`, taken from `span`, the
    // file's bytes from `first` on; the bytes between glyphs are left out.
    [[nodiscard]] static GlyphRun of(Position first, const GlyphFormat& format, std::span<const std::uint8_t> span,
                                     std::int64_t count);

    [[nodiscard]] GlyphFormat glyphFormat() const { return format ? *format : GlyphFormat::original(width, order); }
    [[nodiscard]] int count() const
    {
        const int size = glyphFormat().glyphBytes();
        return size > 0 ? static_cast<int>(bytes.size()) / size : 0;
    }
    [[nodiscard]] Position position(int glyph) const { return first + std::int64_t{glyph} * glyphFormat().step(); }
    // The bytes of glyph `glyph`.
    [[nodiscard]] std::span<const std::uint8_t> glyph(int glyph) const
    {
        const auto size = static_cast<std::size_t>(glyphFormat().glyphBytes());
        return std::span(bytes).subspan(static_cast<std::size_t>(glyph) * size, size);
    }
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
[[nodiscard]] SheetSize sheetSize(int count, const GlyphFormat& format);
// Where dot (x, y) of glyph `glyph` stands on the sheet.
struct SheetPixel {
    int x;
    int y;
};
[[nodiscard]] SheetPixel sheetPixel(int glyph, int x, int y, int glyphWidth);
[[nodiscard]] SheetPixel sheetPixel(int glyph, int x, int y, const GlyphFormat& format);

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
[[nodiscard]] SheetGlyphs readSheet(int width, int height, const std::function<std::uint32_t(int, int)>& pixel,
                                    const GlyphFormat& format);

// The texts a PNG sheet of `run` carries, key and value, so that an import
// lands where the export came from and reads the dots in the same order.
[[nodiscard]] std::vector<std::pair<std::string, std::string>> sheetTexts(const GlyphRun& run);
// What a sheet's texts say; nothing of what it does not carry.
struct SheetInfo {
    std::optional<Position> position;
    std::optional<int> width;
    std::optional<DotOrder> order;
    // Where the sheet is of a format other than the four sizes.
    std::optional<GlyphFormat> format;

    // The format the sheet was drawn in, where it says so; an order it
    // leaves unsaid is `order`.
    [[nodiscard]] std::optional<GlyphFormat> drawnFormat(DotOrder unsaid) const
    {
        if (!format && width)
            return GlyphFormat::original(*width, order.value_or(unsaid));
        return format;
    }
};
[[nodiscard]] SheetInfo readSheetInfo(const std::function<std::string(const std::string& key)>& text);

// The colours of a sheet, 0xRRGGBB: the gap between glyphs, lit and unlit dots.
inline constexpr std::uint32_t kSheetGap = 0x8080C0;
inline constexpr std::uint32_t kSheetLit = 0x000000;
inline constexpr std::uint32_t kSheetUnlit = 0xFFFFFF;
// The run drawn as a sheet, a pixel a dot, row by row.
struct SheetImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};
[[nodiscard]] SheetImage drawSheet(const GlyphRun& run);
// A colour with alpha, 0xAARRGGBB, as it shows over white: how a paint
// program's transparent dots read on a sheet.
[[nodiscard]] std::uint32_t overWhite(std::uint32_t argb);

// The forms a run can be exported in, told apart by their file's extension.
enum class ExportFormat { PngSheet, Bdf, CSource, Raw };
// The format `path` names by its extension (".png", ".bdf", ".c", ".bin",
// in any case); nothing where it has none, or one of no format.
[[nodiscard]] std::optional<ExportFormat> exportFormatOfPath(std::string_view path);
// True where the file name in `path` has an extension at all.
[[nodiscard]] bool hasExtension(std::string_view path);
// "png", "bdf", "c", "bin".
[[nodiscard]] std::string exportExtension(ExportFormat format);
// A C identifier made of a file's base name: other characters become '_',
// and one that would start with a digit, or be empty, starts "font_".
[[nodiscard]] std::string cIdentifier(std::string_view baseName);
// Whole glyphs of `width` bytes from `first` to the end of a file of
// `length` bytes; at least 1.
[[nodiscard]] std::int64_t glyphsLeft(std::int64_t length, Position first, int width);
// Of `span`, which starts at a glyph, the bytes of `count` glyphs of
// `format` one after the other, without the bytes between them.
[[nodiscard]] std::vector<std::uint8_t> glyphsOf(std::span<const std::uint8_t> span, const GlyphFormat& format,
                                                 std::int64_t count);
// The run in a text format (BDF, C or raw bytes), named `name` where it names itself.
[[nodiscard]] std::string exportText(const GlyphRun& run, ExportFormat format, const std::string& name);

// The run as a BDF 2.1 font named `name`, of the glyphs' real size.
[[nodiscard]] std::string bdfText(const GlyphRun& run, const std::string& name);
// The run as C source: one array of bytes in file order, a line a glyph with
// its position and character in a comment.
[[nodiscard]] std::string cSourceText(const GlyphRun& run, const std::string& name);

} // namespace dotmatrix
