#pragma once

#include <optional>
#include <vector>

#include <QImage>
#include <QString>

#include "glyphexport.h"

namespace dotmatrix {

// A PNG sheet as Qt holds it, for the window and the command line alike.

// `run` drawn as a sheet that says where it came from, how wide and in which order.
[[nodiscard]] QImage sheetImage(const GlyphRun& run);
// What a sheet says of itself.
[[nodiscard]] SheetInfo sheetInfoOf(const QImage& sheet);
// The glyphs of `sheet`, `glyphWidth` dots wide, read in `order`; a
// transparent dot reads as the white under it.
[[nodiscard]] SheetGlyphs readSheetImage(const QImage& sheet, int glyphWidth, DotOrder order);
[[nodiscard]] SheetGlyphs readSheetImage(const QImage& sheet, const GlyphFormat& format);

// A PNG sheet read for a pass in `format`: its glyphs and where it says it
// belongs, or why it can't be brought in, said as the window says it.
struct SheetForPass {
    std::vector<std::uint8_t> bytes;
    std::optional<Position> position;
    QString problem;
};
[[nodiscard]] SheetForPass readSheetForPass(const QString& path, GlyphFormat format);

} // namespace dotmatrix
