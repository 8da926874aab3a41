#include "sheetimage.h"

#include <QString>

namespace dotmatrix {

QImage sheetImage(const GlyphRun& run)
{
    const SheetImage drawn = drawSheet(run);
    QImage sheet(drawn.width, drawn.height, QImage::Format_RGB32);
    for (int y = 0; y < drawn.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(sheet.scanLine(y));
        for (int x = 0; x < drawn.width; ++x)
            line[x] = 0xFF000000u | drawn.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(drawn.width)
                                                 + static_cast<std::size_t>(x)];
    }
    for (const auto& [key, value] : sheetTexts(run))
        sheet.setText(QString::fromStdString(key), QString::fromStdString(value));
    return sheet;
}

SheetInfo sheetInfoOf(const QImage& sheet)
{
    return readSheetInfo([&sheet](const std::string& key) { return sheet.text(QString::fromStdString(key)).toStdString(); });
}

SheetGlyphs readSheetImage(const QImage& sheet, int glyphWidth, DotOrder order)
{
    return readSheetImage(sheet, GlyphFormat::original(glyphWidth, order));
}

SheetGlyphs readSheetImage(const QImage& sheet, const GlyphFormat& format)
{
    const QImage pixels = sheet.convertToFormat(QImage::Format_ARGB32);
    return readSheet(
        pixels.width(), pixels.height(), [&pixels](int x, int y) { return overWhite(pixels.pixel(x, y)); }, format);
}

} // namespace dotmatrix
