#include "glyphexport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>

#include "offsettext.h"

namespace dotmatrix {

namespace {

int luminance(std::uint32_t colour)
{
    return static_cast<int>(((colour >> 16) & 0xFF) * 299 + ((colour >> 8) & 0xFF) * 587 + (colour & 0xFF) * 114)
           / 1000;
}

// The dots of glyph `glyph` as rows of pixels, top first, leftmost in the
// highest bit of each row's first byte, as BDF keeps them.
std::vector<std::vector<std::uint8_t>> rowsOf(const GlyphRun& run, int glyph)
{
    const GlyphFormat format = run.glyphFormat();
    const auto bytes = run.glyph(glyph);
    std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(format.height),
                                                std::vector<std::uint8_t>(static_cast<std::size_t>((format.width + 7) / 8)));
    for (int y = 0; y < format.height; ++y) {
        for (int x = 0; x < format.width; ++x) {
            const GlyphFormat::Bit at = format.bitAt(x, y);
            if (((bytes[static_cast<std::size_t>(at.byte)] >> at.bit) & 1) != 0)
                rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
    return rows;
}

} // namespace

int GlyphRun::code(int glyph) const
{
    if (!mark)
        return glyph;
    return static_cast<int>(mark->code + (position(glyph).number() - mark->position.number()) / glyphFormat().step());
}

SheetSize sheetSize(int count, int glyphWidth)
{
    return sheetSize(count, GlyphFormat::original(glyphWidth));
}

SheetSize sheetSize(int count, const GlyphFormat& format)
{
    const int columns = std::min(count, kSheetColumns);
    const int rows = (count + kSheetColumns - 1) / kSheetColumns;
    return {1 + columns * (format.width + 1), 1 + rows * (format.height + 1)};
}

SheetPixel sheetPixel(int glyph, int x, int y, int glyphWidth)
{
    return sheetPixel(glyph, x, y, GlyphFormat::original(glyphWidth));
}

SheetPixel sheetPixel(int glyph, int x, int y, const GlyphFormat& format)
{
    return {1 + (glyph % kSheetColumns) * (format.width + 1) + x, 1 + (glyph / kSheetColumns) * (format.height + 1) + y};
}

SheetGlyphs readSheet(int width, int height, const std::function<std::uint32_t(int, int)>& pixel, int glyphWidth,
                      DotOrder order)
{
    return readSheet(width, height, pixel, GlyphFormat::original(glyphWidth, order));
}

SheetGlyphs readSheet(int width, int height, const std::function<std::uint32_t(int, int)>& pixel,
                      const GlyphFormat& format)
{
    SheetGlyphs sheet;
    const int glyphWidth = format.width;
    const int kRows = format.height;
    const int pitch = glyphWidth + 1;
    if (width < 1 + pitch || height < 1 + kRows + 1 || (width - 1) % pitch != 0 || (height - 1) % (kRows + 1) != 0) {
        sheet.problem = "The image is " + std::to_string(width) + " x " + std::to_string(height)
                        + " pixels: a sheet of glyphs " + std::to_string(glyphWidth)
                        + " dots wide is a whole number of cells of " + std::to_string(pitch) + " x "
                        + std::to_string(kRows + 1) + " pixels, with one pixel more on the right and at the bottom.";
        return sheet;
    }
    const int columns = (width - 1) / pitch;
    const int cells = columns * ((height - 1) / (kRows + 1));
    const std::uint32_t gap = pixel(0, 0);
    // The dot colours first: the darker of two is lit.
    std::map<std::uint32_t, int> colours;
    for (int cell = 0; cell < cells; ++cell) {
        const int left = 1 + (cell % columns) * pitch;
        const int top = 1 + (cell / columns) * (kRows + 1);
        for (int y = 0; y < kRows; ++y) {
            for (int x = 0; x < glyphWidth; ++x)
                ++colours[pixel(left + x, top + y)];
        }
    }
    colours.erase(gap);
    if (colours.size() > 2) {
        sheet.problem = "The image has " + std::to_string(colours.size())
                        + " colours in its dots: a sheet of glyphs has two, one for lit dots and one for unlit ones.";
        return sheet;
    }
    std::uint32_t lit = 0x000000;
    if (colours.size() == 2)
        lit = luminance(colours.begin()->first) <= luminance(std::next(colours.begin())->first)
                  ? colours.begin()->first
                  : std::next(colours.begin())->first;
    else if (colours.size() == 1 && luminance(colours.begin()->first) < 128)
        lit = colours.begin()->first;
    else if (colours.size() == 1)
        lit = ~colours.begin()->first;  // all unlit
    for (int cell = 0; cell < cells; ++cell) {
        const int left = 1 + (cell % columns) * pitch;
        const int top = 1 + (cell / columns) * (kRows + 1);
        std::vector<std::uint8_t> glyph(static_cast<std::size_t>(format.glyphBytes()), 0);
        bool onlyGap = true;
        bool someGap = false;
        for (int y = 0; y < kRows; ++y) {
            for (int x = 0; x < glyphWidth; ++x) {
                const std::uint32_t colour = pixel(left + x, top + y);
                onlyGap = onlyGap && colour == gap;
                someGap = someGap || colour == gap;
                if (someGap && !onlyGap) {
                    sheet.problem = "The glyph in cell " + std::to_string(cell + 1)
                                    + " has dots of the gap's colour: a sheet's dots are lit or unlit.";
                    return sheet;
                }
                if (colour != lit)
                    continue;
                const GlyphFormat::Bit address = format.bitAt(x, y);
                glyph[static_cast<std::size_t>(address.byte)] |= static_cast<std::uint8_t>(1 << address.bit);
            }
        }
        if (onlyGap)
            break;  // the rest of the last row
        sheet.bytes.insert(sheet.bytes.end(), glyph.begin(), glyph.end());
    }
    if (sheet.bytes.empty())
        sheet.problem = "The image holds no glyph: every cell is of the gap's colour.";
    return sheet;
}

std::string bdfText(const GlyphRun& run, const std::string& name)
{
    const int count = run.count();
    const GlyphFormat format = run.glyphFormat();
    const std::string wide = std::to_string(format.width);
    const std::string tall = std::to_string(format.height);
    std::string text = "STARTFONT 2.1\n";
    text += "COMMENT " + std::to_string(count)
            + (format.isOriginal() ? " glyphs of " + wide + " bytes from position " + decimalText(run.first) + ", "
                                         + dotOrderText(format.order)
                                   : " glyphs from position " + decimalText(run.first) + ", " + format.words())
            + "\n";
    text += "FONT -dotmatrix-" + name + "-medium-r-normal--" + tall + "-" + std::to_string(format.height * 10)
            + "-75-75-c-" + std::to_string(format.width * 10) + "-iso8859-1\n";
    text += "SIZE " + tall + " 75 75\n";
    text += "FONTBOUNDINGBOX " + wide + " " + tall + " 0 0\n";
    // Glyphs in front of the marked code 0 have none: BDF calls them unencoded (-1).
    int defaultCode = -1;
    for (int glyph = 0; glyph < count && defaultCode < 0; ++glyph)
        defaultCode = run.code(glyph);
    text += "STARTPROPERTIES " + std::string(defaultCode >= 0 ? "5" : "4") + "\n";
    text += "FONT_ASCENT " + tall + "\nFONT_DESCENT 0\nSPACING \"C\"\n";
    text += "PIXEL_SIZE " + tall + "\n";
    if (defaultCode >= 0)
        text += "DEFAULT_CHAR " + std::to_string(defaultCode) + "\n";
    text += "ENDPROPERTIES\n";
    text += "CHARS " + std::to_string(count) + "\n";
    for (int glyph = 0; glyph < count; ++glyph) {
        const int code = run.code(glyph);
        text += "STARTCHAR " + (code >= 0 ? "char" + std::to_string(code) : "glyph" + std::to_string(glyph)) + "\n";
        text += "ENCODING " + std::to_string(std::max(code, -1)) + "\n";
        text += "SWIDTH " + std::to_string(format.width * 120 * 8 / format.height) + " 0\n";
        text += "DWIDTH " + wide + " 0\n";
        text += "BBX " + wide + " " + tall + " 0 0\nBITMAP\n";
        for (const std::vector<std::uint8_t>& row : rowsOf(run, glyph)) {
            for (const std::uint8_t byte : row)
                text += hexDigits(byte, 2);
            text += "\n";
        }
        text += "ENDCHAR\n";
    }
    return text + "ENDFONT\n";
}

std::string cSourceText(const GlyphRun& run, const std::string& name)
{
    const int count = run.count();
    const GlyphFormat format = run.glyphFormat();
    std::string text = "/* " + std::to_string(count)
                       + (format.isOriginal() ? " glyphs of " + std::to_string(format.width) + " bytes from position "
                                                    + decimalText(run.first) + ", " + dotOrderText(format.order)
                                              : " glyphs from position " + decimalText(run.first) + ", "
                                                    + format.words())
                       + ", in file order. */\n";
    text += "const unsigned char " + name + "[" + std::to_string(run.bytes.size()) + "] = {\n";
    for (int glyph = 0; glyph < count; ++glyph) {
        text += "   ";
        for (const std::uint8_t byte : run.glyph(glyph))
            text += " 0x" + hexDigits(byte, 2) + ",";
        text += " /* " + decimalText(run.position(glyph));
        if (run.mark) {
            const std::string character = codeText(run.code(glyph));
            // A lone slash after a star would end the comment early.
            text += ": " + (character.back() == '/' ? character + " " : character);
        }
        text += " */\n";
    }
    return text + "};\n";
}

namespace {

constexpr const char* kSheetPositionKey = "dotmatrix-position";
constexpr const char* kSheetWidthKey = "dotmatrix-width";
constexpr const char* kSheetOrderKey = "dotmatrix-order";
constexpr const char* kSheetFormatKey = "dotmatrix-format";

std::optional<std::int64_t> wholeNumber(const std::string& text)
{
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        }))
        return std::nullopt;
    return std::stoll(text);
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string_view fileName(std::string_view path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<std::pair<std::string, std::string>> sheetTexts(const GlyphRun& run)
{
    std::vector<std::pair<std::string, std::string>> texts{
        {kSheetPositionKey, std::to_string(run.first.number())},
        {kSheetWidthKey, std::to_string(run.width)},
        {kSheetOrderKey, std::string(run.order.bit0OnTop ? "1" : "0") + (run.order.firstByteLeft ? "1" : "0")}};
    if (!run.glyphFormat().isOriginal())
        texts.emplace_back(kSheetFormatKey, run.glyphFormat().words());
    return texts;
}

SheetInfo readSheetInfo(const std::function<std::string(const std::string& key)>& text)
{
    SheetInfo info;
    if (const auto position = wholeNumber(text(kSheetPositionKey)); position && *position >= 1)
        info.position = Position(*position);
    if (const auto width = wholeNumber(text(kSheetWidthKey)); width && *width >= 1 && *width <= 64)
        info.width = static_cast<int>(*width);
    const std::string order = text(kSheetOrderKey);
    if (order.size() == 2 && (order[0] == '0' || order[0] == '1') && (order[1] == '0' || order[1] == '1'))
        info.order = DotOrder{order[0] == '1', order[1] == '1'};
    if (const std::string words = text(kSheetFormatKey); !words.empty())
        info.format = readGlyphFormat(words).format;
    return info;
}

SheetImage drawSheet(const GlyphRun& run)
{
    const int count = run.count();
    const GlyphFormat format = run.glyphFormat();
    const SheetSize size = sheetSize(count, format);
    SheetImage sheet{size.width, size.height,
                     std::vector<std::uint32_t>(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height),
                                                kSheetGap)};
    for (int glyph = 0; glyph < count; ++glyph) {
        const auto bytes = run.glyph(glyph);
        for (int y = 0; y < format.height; ++y) {
            for (int x = 0; x < format.width; ++x) {
                const GlyphFormat::Bit bit = format.bitAt(x, y);
                const SheetPixel at = sheetPixel(glyph, x, y, format);
                sheet.pixels[static_cast<std::size_t>(at.y) * static_cast<std::size_t>(size.width)
                             + static_cast<std::size_t>(at.x)] =
                    ((bytes[static_cast<std::size_t>(bit.byte)] >> bit.bit) & 1) != 0 ? kSheetLit : kSheetUnlit;
            }
        }
    }
    return sheet;
}

std::uint32_t overWhite(std::uint32_t argb)
{
    const std::uint32_t alpha = argb >> 24;
    std::uint32_t rgb = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t channel = (argb >> shift) & 0xFF;
        rgb |= ((channel * alpha + 255 * (255 - alpha) + 127) / 255) << shift;
    }
    return rgb;
}

std::optional<ExportFormat> exportFormatOfPath(std::string_view path)
{
    const std::string_view name = fileName(path);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    const std::string extension = lowerCase(name.substr(dot + 1));
    for (const ExportFormat format : {ExportFormat::PngSheet, ExportFormat::Bdf, ExportFormat::CSource, ExportFormat::Raw}) {
        if (extension == exportExtension(format))
            return format;
    }
    return std::nullopt;
}

bool hasExtension(std::string_view path)
{
    const std::string_view name = fileName(path);
    const auto dot = name.find_last_of('.');
    return dot != std::string_view::npos && dot > 0 && dot + 1 < name.size();
}

std::string exportExtension(ExportFormat format)
{
    switch (format) {
    case ExportFormat::PngSheet:
        return "png";
    case ExportFormat::Bdf:
        return "bdf";
    case ExportFormat::CSource:
        return "c";
    case ExportFormat::Raw:
        return "bin";
    }
    return {};
}

std::string cIdentifier(std::string_view baseName)
{
    std::string name;
    for (const char c : baseName)
        name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front())) != 0)
        name = "font_" + name;
    return name;
}

std::int64_t glyphsLeft(std::int64_t length, Position first, int width)
{
    return std::max<std::int64_t>(1, (length - first.number()) / std::max(width, 1) + 1);
}

GlyphRun GlyphRun::of(Position first, const GlyphFormat& format, std::span<const std::uint8_t> span,
                      std::int64_t count)
{
    GlyphRun run;
    run.first = first;
    run.width = format.width;
    run.order = format.order;
    if (!format.isOriginal())
        run.format = format;
    run.bytes = glyphsOf(span, format, count);
    return run;
}

std::vector<std::uint8_t> glyphsOf(std::span<const std::uint8_t> span, const GlyphFormat& format, std::int64_t count)
{
    std::vector<std::uint8_t> bytes;
    const auto size = static_cast<std::size_t>(format.glyphBytes());
    const auto step = static_cast<std::size_t>(format.step());
    for (std::size_t at = 0; count > 0 && at + size <= span.size(); at += step, --count)
        bytes.insert(bytes.end(), span.begin() + static_cast<std::ptrdiff_t>(at),
                     span.begin() + static_cast<std::ptrdiff_t>(at + size));
    return bytes;
}

std::string exportText(const GlyphRun& run, ExportFormat format, const std::string& name)
{
    switch (format) {
    case ExportFormat::Bdf:
        return bdfText(run, name);
    case ExportFormat::CSource:
        return cSourceText(run, name);
    case ExportFormat::Raw:
    case ExportFormat::PngSheet:
        break;
    }
    return std::string(run.bytes.begin(), run.bytes.end());
}

} // namespace dotmatrix
