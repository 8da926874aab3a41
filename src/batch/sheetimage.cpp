#include "sheetimage.h"

#include <QDir>
#include <QImageReader>
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

SheetForPass readSheetForPass(const QString& path, GlyphFormat format)
{
    const auto fail = [](const QString& problem) { return SheetForPass{{}, std::nullopt, problem}; };
    const QString shown = QDir::toNativeSeparators(path);
    QImageReader reader(path, "png");
    reader.setDecideFormatFromContent(true);
    // Sheets have 16 glyphs a row: a wider or far taller image is none, whatever it holds.
    const QSize size = reader.size();
    const SheetSize largest = sheetSize(65536, format);
    if (size.isValid() && (size.width() > largest.width || size.height() > largest.height))
        return fail(QStringLiteral("\"%1\" is no sheet of glyphs: the image is %2 x %3 pixels, and a sheet of glyphs "
                                   "%4 x %5 dots is at most %6 x %7.")
                        .arg(shown)
                        .arg(size.width())
                        .arg(size.height())
                        .arg(format.width)
                        .arg(format.height)
                        .arg(largest.width)
                        .arg(largest.height));
    const QImage sheet = reader.read();
    if (sheet.isNull())
        return fail(QStringLiteral("Cannot read \"%1\" as a PNG sheet: %2.").arg(shown, reader.errorString()));
    const SheetInfo info = sheetInfoOf(sheet);
    // The sheet's own format, where it says one, and the order it was drawn in.
    const std::optional<GlyphFormat> drawn = info.drawnFormat(format.order);
    if (drawn && (drawn->lines != format.lines || drawn->width != format.width || drawn->height != format.height
                  || drawn->glyphBytes() != format.glyphBytes())) {
        GlyphFormat named = *drawn;
        named.pitch = 0;
        return fail(QStringLiteral("The sheet \"%1\" holds glyphs of %2, and the pass is in %3. Choose that format and "
                                   "import again.")
                        .arg(shown, QString::fromStdString(named.words()), QString::fromStdString(format.words())));
    }
    if (drawn)
        format.order = drawn->order;
    const SheetGlyphs glyphs = readSheetImage(sheet, format);
    if (!glyphs.problem.empty())
        return fail(QStringLiteral("\"%1\" is no sheet of glyphs: %2").arg(shown, QString::fromStdString(glyphs.problem)));
    return {glyphs.bytes, info.position, {}};
}

} // namespace dotmatrix
