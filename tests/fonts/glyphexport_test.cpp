#include "glyphexport.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

#ifdef DOTMATRIX_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H
#endif

namespace dotmatrix {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A sheet as an image of 0xRRGGBB pixels, drawn as the overview exports it.
struct Sheet {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
    [[nodiscard]] std::uint32_t pixel(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

constexpr std::uint32_t kGap = 0x8080C0;

Sheet drawSheet(const Bytes& bytes, int width, DotOrder order)
{
    const int count = static_cast<int>(bytes.size()) / width;
    const SheetSize size = sheetSize(count, width);
    Sheet sheet{size.width, size.height, std::vector<std::uint32_t>(static_cast<std::size_t>(size.width * size.height), kGap)};
    for (int glyph = 0; glyph < count; ++glyph) {
        for (int column = 0; column < width; ++column) {
            for (int bit = 0; bit < 8; ++bit) {
                const DotPlace place = dotPlace(column, bit, width, order);
                const SheetPixel pixel = sheetPixel(glyph, place.x, place.y, width);
                const bool lit = ((bytes[static_cast<std::size_t>(glyph * width + column)] >> bit) & 1) != 0;
                sheet.at(pixel.x, pixel.y) = lit ? 0x000000 : 0xFFFFFF;
            }
        }
    }
    return sheet;
}

SheetGlyphs read(const Sheet& sheet, int width, DotOrder order)
{
    return readSheet(sheet.width, sheet.height, [&sheet](int x, int y) { return sheet.pixel(x, y); }, width, order);
}

TEST(GlyphSheets, GoOutAndBackInEveryDotOrderAndRefuseWhatIsNoSheet)
{
    Bytes font;
    for (int i = 0; i < 20 * 5; ++i)
        font.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    for (const DotOrder order : {DotOrder{false, false}, DotOrder{true, false}, DotOrder{false, true}, DotOrder{true, true}}) {
        SCOPED_TRACE(dotOrderText(order));
        Sheet sheet = drawSheet(font, 5, order);
        EXPECT_EQ(sheet.width, 1 + 16 * 6);
        EXPECT_EQ(sheet.height, 1 + 2 * 9);
        // A paint program switches dot (0, 0), the top left, of glyph 17.
        const SheetPixel corner = sheetPixel(17, 0, 0, 5);
        sheet.at(corner.x, corner.y) ^= 0xFFFFFF;
        const SheetGlyphs back = read(sheet, 5, order);
        ASSERT_EQ(back.problem, "");
        Bytes expected = font;
        const DotAddress address = dotAddress(0, 0, 5, order);
        expected[static_cast<std::size_t>(17 * 5 + address.column)] ^= static_cast<std::uint8_t>(1 << address.bit);
        EXPECT_EQ(back.bytes, expected);
    }

    const Sheet good = drawSheet(font, 5, {});
    Sheet grey = good;
    grey.at(3, 3) = 0x777777;
    Sheet gapInGlyph = good;
    gapInGlyph.at(2, 2) = kGap;
    Sheet blank = good;
    std::fill(blank.pixels.begin(), blank.pixels.end(), kGap);
    const std::pair<Sheet, const char*> refused[] = {
        {Sheet{good.width - 1, good.height, good.pixels}, "is 96 x 19 pixels"},
        {grey, "has 3 colours in its dots"},
        {gapInGlyph, "dots of the gap's colour"},
        {blank, "holds no glyph"},
    };
    for (const auto& [sheet, said] : refused) {
        const SheetGlyphs back = read(sheet, 5, {});
        EXPECT_TRUE(back.bytes.empty()) << said;
        EXPECT_NE(back.problem.find(said), std::string::npos) << back.problem;
    }
    EXPECT_NE(read(good, 6, {}).problem.find("a whole number of cells of 7 x 9 pixels"), std::string::npos);
}

TEST(GlyphSheets, BdfAndCSourceNameEachGlyph)
{
    GlyphRun run;
    run.first = Position(1001);
    run.width = 5;
    run.order = {true, true};
    run.mark = CharacterMark{Position(1001), 'A'};
    // "A" and "B" stored bit 0 on top, first byte on the left.
    run.bytes = {0x7E, 0x11, 0x11, 0x11, 0x7E, 0x7F, 0x49, 0x49, 0x49, 0x36};
    const std::string c = cSourceText(run, "font");
    EXPECT_NE(c.find("const unsigned char font[10] = {\n    0x7E, 0x11, 0x11, 0x11, 0x7E, /* 1001: 65 A */\n"
                     "    0x7F, 0x49, 0x49, 0x49, 0x36, /* 1006: 66 B */\n};\n"),
              std::string::npos)
        << c;
    const std::string bdf = bdfText(run, "font");
    EXPECT_NE(bdf.find("STARTCHAR char65\nENCODING 65\n"), std::string::npos);

#ifdef DOTMATRIX_FREETYPE
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(bdf.data()), static_cast<FT_Long>(bdf.size()),
                                 0, &face),
              0)
        << bdf;
    EXPECT_EQ(face->num_glyphs, 2 + 1);  // FreeType adds the default glyph's slot
    ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 8), 0);
    // The "A" as FreeType draws it: rows top first, leftmost dot in the highest bit.
    ASSERT_EQ(FT_Load_Char(face, 'A', FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO), 0);
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    ASSERT_EQ(bitmap.width, 5U);
    ASSERT_EQ(bitmap.rows, 8U);
    std::string drawn;
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        for (unsigned x = 0; x < bitmap.width; ++x)
            drawn += ((bitmap.buffer[row * static_cast<unsigned>(bitmap.pitch)] << x) & 0x80) != 0 ? '#' : '.';
        drawn += '\n';
    }
    EXPECT_EQ(drawn, ".###.\n#...#\n#...#\n#...#\n#####\n#...#\n#...#\n.....\n");
    FT_Done_Face(face);

    // Glyphs in front of the marked code 0 are unencoded, and none is lost.
    GlyphRun before = run;
    before.mark = CharacterMark{Position(1006), 0};
    const std::string early = bdfText(before, "font");
    EXPECT_EQ(early.find("ENCODING -2"), std::string::npos);
    EXPECT_NE(early.find("ENCODING -1\n"), std::string::npos);
    EXPECT_NE(early.find("DEFAULT_CHAR 0\n"), std::string::npos);
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(early.data()),
                                 static_cast<FT_Long>(early.size()), 0, &face),
              0)
        << early;
    EXPECT_GE(face->num_glyphs, 2);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
#endif
}

TEST(GlyphSheets, ExtensionsMetadataAndNamesGoWithTheFormats)
{
    using F = ExportFormat;
    const std::pair<const char*, std::optional<F>> names[] = {
        {"font.png", F::PngSheet}, {"dir.v2/font.BDF", F::Bdf}, {"font.c", F::CSource}, {"a/font.bin", F::Raw},
        {"font", std::nullopt},    {"font.txt", std::nullopt},  {".png", std::nullopt},  {"x.png/font", std::nullopt},
    };
    for (const auto& [name, format] : names)
        EXPECT_EQ(exportFormatOfPath(name), format) << name;
    EXPECT_FALSE(hasExtension("dir.v2/font"));
    EXPECT_TRUE(hasExtension("font.txt"));
    EXPECT_EQ(cIdentifier("my font-1"), "my_font_1");
    EXPECT_EQ(cIdentifier("8x8"), "font_8x8");
    EXPECT_EQ(glyphsLeft(100, Position(91), 5), 2);
    EXPECT_EQ(glyphsLeft(100, Position(200), 5), 1);

    // A sheet says where it came from, how wide and in which order.
    GlyphRun run;
    run.first = Position(1234);
    run.width = 6;
    run.order = {true, false};
    std::map<std::string, std::string> texts;
    for (const auto& [key, value] : sheetTexts(run))
        texts[key] = value;
    const SheetInfo info = readSheetInfo([&](const std::string& key) { return texts[key]; });
    EXPECT_EQ(info.position, Position(1234));
    EXPECT_EQ(info.width, 6);
    EXPECT_EQ(info.order, (DotOrder{true, false}));
    const SheetInfo none = readSheetInfo([](const std::string&) { return std::string("-5x"); });
    EXPECT_FALSE(none.position || none.width || none.order);

    // Transparent dots read as the white under them, opaque ones as they are.
    EXPECT_EQ(overWhite(0x00000000), 0xFFFFFFu);
    EXPECT_EQ(overWhite(0xFF123456), 0x123456u);

    // A dot of the gap's colour in a cell is an error wherever it stands, also first.
    run.width = 2;
    run.order = {};
    run.bytes = {0x81, 0x42};
    const SheetImage sheet = drawSheet(run);
    for (const int at : {0, 5}) {
        std::vector<std::uint32_t> pixels = sheet.pixels;
        const SheetPixel dot = sheetPixel(0, at % 2, at / 2, 2);
        pixels[static_cast<std::size_t>(dot.y * sheet.width + dot.x)] = kSheetGap;
        const SheetGlyphs read = readSheet(
            sheet.width, sheet.height, [&](int x, int y) { return pixels[static_cast<std::size_t>(y * sheet.width + x)]; },
            2, {});
        EXPECT_NE(read.problem.find("dots of the gap's colour"), std::string::npos) << at << ": " << read.problem;
    }
    const SheetGlyphs back = readSheet(
        sheet.width, sheet.height, [&](int x, int y) { return sheet.pixels[static_cast<std::size_t>(y * sheet.width + x)]; },
        2, {});
    EXPECT_EQ(back.bytes, run.bytes);

    // Any format: an 8x16 glyph of row bytes is BBX 8 16, drawn and read back as 8 x 16 dots.
    GlyphFormat rows;
    rows.lines = GlyphFormat::Lines::Rows;
    rows.width = 8;
    rows.height = 16;
    GlyphRun tall;
    tall.format = rows;
    tall.first = Position(101);
    for (int i = 0; i < 32; ++i)
        tall.bytes.push_back(static_cast<std::uint8_t>(i * 37));
    EXPECT_EQ(tall.count(), 2);
    const std::string font = bdfText(tall, "tall");
    EXPECT_NE(font.find("BBX 8 16 0 0\nBITMAP\n00\n25\n"), std::string::npos) << font;
    const SheetImage drawnTall = drawSheet(tall);
    EXPECT_EQ(drawnTall.width, 1 + 2 * 9);
    EXPECT_EQ(drawnTall.height, 1 + 17);
    const SheetGlyphs readTall = readSheet(
        drawnTall.width, drawnTall.height,
        [&](int x, int y) { return drawnTall.pixels[static_cast<std::size_t>(y * drawnTall.width + x)]; }, rows);
    EXPECT_EQ(readTall.bytes, tall.bytes);
    std::map<std::string, std::string> tallTexts;
    for (const auto& [key, value] : sheetTexts(tall))
        tallTexts[key] = value;
    EXPECT_EQ(readSheetInfo([&](const std::string& key) { return tallTexts[key]; }).format, rows);
}

} // namespace
} // namespace dotmatrix
