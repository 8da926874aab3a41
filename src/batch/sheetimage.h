#pragma once

#include <QImage>

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

} // namespace dotmatrix
