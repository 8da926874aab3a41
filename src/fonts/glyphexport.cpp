#include "glyphexport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

#include "offsettext.h"

namespace dotmatrix {

namespace {

constexpr int kRows = 8;

int luminance(std::uint32_t colour)
{
    return static_cast<int>(((colour >> 16) & 0xFF) * 299 + ((colour >> 8) & 0xFF) * 587 + (colour & 0xFF) * 114)
           / 1000;
}

// The dots of glyph `glyph` as rows of pixels, top first, leftmost in the
// highest bit of each row's byte, as BDF keeps them.
std::array<std::uint8_t, kRows> rowsOf(const GlyphRun& run, int glyph)
{
    std::array<std::uint8_t, kRows> rows{};
    for (int column = 0; column < run.width; ++column) {
        const std::uint8_t byte = run.bytes[static_cast<std::size_t>(glyph * run.width + column)];
        for (int bit = 0; bit < kRows; ++bit) {
            if (((byte >> bit) & 1) == 0)
                continue;
            const DotPlace place = dotPlace(column, bit, run.width, run.order);
            rows[static_cast<std::size_t>(place.y)] |= static_cast<std::uint8_t>(0x80 >> place.x);
        }
    }
    return rows;
}

} // namespace

int GlyphRun::code(int glyph) const
{
    if (!mark)
        return glyph;
    return static_cast<int>(mark->code + (position(glyph).number() - mark->position.number()) / width);
}

SheetSize sheetSize(int count, int glyphWidth)
{
    const int columns = std::min(count, kSheetColumns);
    const int rows = (count + kSheetColumns - 1) / kSheetColumns;
    return {1 + columns * (glyphWidth + 1), 1 + rows * (kRows + 1)};
}

SheetPixel sheetPixel(int glyph, int x, int y, int glyphWidth)
{
    return {1 + (glyph % kSheetColumns) * (glyphWidth + 1) + x, 1 + (glyph / kSheetColumns) * (kRows + 1) + y};
}

SheetGlyphs readSheet(int width, int height, const std::function<std::uint32_t(int, int)>& pixel, int glyphWidth,
                      DotOrder order)
{
    SheetGlyphs sheet;
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
        std::vector<std::uint8_t> glyph(static_cast<std::size_t>(glyphWidth), 0);
        bool onlyGap = true;
        for (int y = 0; y < kRows; ++y) {
            for (int x = 0; x < glyphWidth; ++x) {
                const std::uint32_t colour = pixel(left + x, top + y);
                onlyGap = onlyGap && colour == gap;
                if (colour == gap && !onlyGap) {
                    sheet.problem = "The glyph in cell " + std::to_string(cell + 1)
                                    + " has dots of the gap's colour: a sheet's dots are lit or unlit.";
                    return sheet;
                }
                if (colour != lit)
                    continue;
                const DotAddress address = dotAddress(x, y, glyphWidth, order);
                glyph[static_cast<std::size_t>(address.column)] |= static_cast<std::uint8_t>(1 << address.bit);
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
    std::string text = "STARTFONT 2.1\n";
    text += "COMMENT " + std::to_string(count) + " glyphs of " + std::to_string(run.width) + " bytes from position "
            + decimalText(run.first) + ", " + dotOrderText(run.order) + "\n";
    text += "FONT -dotmatrix-" + name + "-medium-r-normal--8-80-75-75-c-" + std::to_string(run.width * 10)
            + "-iso8859-1\n";
    text += "SIZE 8 75 75\n";
    text += "FONTBOUNDINGBOX " + std::to_string(run.width) + " 8 0 0\n";
    text += "STARTPROPERTIES 5\n";
    text += "FONT_ASCENT 8\nFONT_DESCENT 0\nSPACING \"C\"\n";
    text += "PIXEL_SIZE 8\n";
    text += "DEFAULT_CHAR " + std::to_string(run.code(0)) + "\n";
    text += "ENDPROPERTIES\n";
    text += "CHARS " + std::to_string(count) + "\n";
    for (int glyph = 0; glyph < count; ++glyph) {
        const int code = run.code(glyph);
        text += "STARTCHAR char" + std::to_string(code) + "\n";
        text += "ENCODING " + std::to_string(code) + "\n";
        text += "SWIDTH " + std::to_string(run.width * 120) + " 0\n";
        text += "DWIDTH " + std::to_string(run.width) + " 0\n";
        text += "BBX " + std::to_string(run.width) + " 8 0 0\nBITMAP\n";
        for (const std::uint8_t row : rowsOf(run, glyph))
            text += hexDigits(row, 2) + "\n";
        text += "ENDCHAR\n";
    }
    return text + "ENDFONT\n";
}

std::string cSourceText(const GlyphRun& run, const std::string& name)
{
    const int count = run.count();
    std::string text = "/* " + std::to_string(count) + " glyphs of " + std::to_string(run.width)
                       + " bytes from position " + decimalText(run.first) + ", " + dotOrderText(run.order)
                       + ", in file order. */\n";
    text += "const unsigned char " + name + "[" + std::to_string(run.bytes.size()) + "] = {\n";
    for (int glyph = 0; glyph < count; ++glyph) {
        text += "   ";
        for (int column = 0; column < run.width; ++column)
            text += " 0x" + hexDigits(run.bytes[static_cast<std::size_t>(glyph * run.width + column)], 2) + ",";
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

} // namespace dotmatrix
