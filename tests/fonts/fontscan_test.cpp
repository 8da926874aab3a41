#include "fontscan.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "fontimages.h"
#include "testfiles.h"

namespace dotmatrix {
namespace {

using fontimages::Bytes;
using fontimages::consoleGlyphs;
using fontimages::randomBytes;
using fontimages::textBytes;
using testing::TempFolder;
using testing::writeFile;

// The bytes of a real program that holds no font (this one holds the test fonts).
Bytes programBytes(std::size_t count)
{
    std::ifstream shell("/bin/bash", std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(shell)), std::istreambuf_iterator<char>());
    bytes.resize(std::min(count, bytes.size()));
    return bytes;
}

// A table of 32-bit little-endian integers, small and growing, as firmware keeps offsets.
Bytes integerTable(std::size_t count, std::mt19937& random)
{
    Bytes bytes;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value += static_cast<std::uint32_t>(random() % 700);
        for (int b = 0; b < 4; ++b)
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
    }
    return bytes;
}

// Strings one after the other, each ended by a zero, as a string table holds them.
Bytes stringTable(std::size_t count)
{
    static const char* const kWords[] = {"OK", "Error", "Setup", "Boot device", "Press F2", "Memory test", "CPU",
                                         "Keyboard", "Timeout", "Disk", "Retry", "Cancel"};
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string word = kWords[i % std::size(kWords)];
        bytes.insert(bytes.end(), word.begin(), word.end());
        bytes.push_back(0);
    }
    return bytes;
}

// What surrounds fonts in firmware, none of it a font.
Bytes surroundings(std::mt19937& random)
{
    Bytes bytes = randomBytes(9000 + random() % 777, random);
    const Bytes program = programBytes(64 * 1024);
    bytes.insert(bytes.end(), program.begin(), program.end());
    const Bytes integers = integerTable(3000, random);
    bytes.insert(bytes.end(), integers.begin(), integers.end());
    const Bytes strings = stringTable(900);
    bytes.insert(bytes.end(), strings.begin(), strings.end());
    const Bytes text = textBytes(4000);
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.insert(bytes.end(), 2000, 0xFF);
    return bytes;
}

ScanOutcome scan(const std::string& path)
{
    return scanForFonts({path, {}, Position(0)}, [](std::int64_t, std::int64_t) { return true; });
}

GlyphFormat format(const char* words)
{
    return *readGlyphFormat(words).format;
}

// Fonts of every format real firmware uses, each hidden in the middle of
// what surrounds fonts there: the first row names it, on a glyph of it, in
// its format and order, with 'A' where it is; nothing else ranks above it.
TEST(FontScan, FindsEachKindOfFontFirstAmongWhatSurroundsIt)
{
    using fontimages::Font;
    using fontimages::fontGlyphs;
    struct Case {
        const char* what;
        GlyphFormat format;
        Bytes glyphs;  // codes 0x20 to 0x7F
    };
    const GlyphFormat noGap = format("width 5, first byte on the left");
    const GlyphFormat topUnused = format("width 5, first byte on the left");
    const GlyphFormat seven = format("width 7, bit 0 on top, first byte on the left");
    const GlyphFormat eight = format("width 8, bit 0 on top");
    const GlyphFormat paged = format("width 8, 16 tall, page by page, bit 0 on top, first byte on the left");
    const GlyphFormat together = format("width 8, 16 tall, column by column, bit 0 on top, first byte on the left");
    const GlyphFormat rows8 = format("8x8, bytes as rows");
    const GlyphFormat rows14 = format("8x14, bytes as rows");
    const GlyphFormat rows16 = format("8x16, bytes as rows");
    const Case cases[] = {
        // 6x9's letters without their spacing column: every byte inked.
        {"5 wide, no gap column", noGap, fontGlyphs(Font::X6x9, noGap, 0x20, 96, 0, 1)},
        // 5x8 a row lower: bit 7, the top row, never set.
        {"top row unused", topUnused, fontGlyphs(Font::X5x8, topUnused, 0x20, 96, 0, -1)},
        // The first 34 glyphs, punctuation and digits, are much alike either way round.
        {"96 glyphs, bit 0 on top, first byte on the left", seven, fontGlyphs(Font::Vga8, seven, 0x20, 96)},
        {"8 wide columns", eight, fontGlyphs(Font::Vga8, eight, 0x20, 96)},
        {"16 tall, page by page", paged, fontGlyphs(Font::Terminus16, paged, 0x20, 96)},
        {"16 tall, column by column", together, fontGlyphs(Font::Terminus16, together, 0x20, 96)},
        {"8x8 rows", rows8, fontGlyphs(Font::Vga8, rows8, 0x20, 96)},
        {"8x14 rows", rows14, fontGlyphs(Font::Terminus14, rows14, 0x20, 96)},
        {"8x16 rows", rows16, fontGlyphs(Font::Terminus16, rows16, 0x20, 96)},
    };
    TempFolder folder;
    const std::string image = folder.path("firmware.bin");
    std::mt19937 random(20261208);
    for (const Case& font : cases) {
        SCOPED_TRACE(font.what);
        Bytes bytes = surroundings(random);
        const auto placed = static_cast<std::int64_t>(bytes.size()) + 1;
        bytes.insert(bytes.end(), font.glyphs.begin(), font.glyphs.end());
        const Bytes after = surroundings(random);
        bytes.insert(bytes.end(), after.begin(), after.end());
        writeFile(image, bytes);

        const ScanOutcome outcome = scan(image);
        ASSERT_EQ(outcome.problem, "");
        ASSERT_FALSE(outcome.found.empty());
        const FontCandidate& best = outcome.found.front();
        EXPECT_EQ(best.format, font.format) << describeCandidate(best);
        const std::int64_t into = best.first.number() - placed;
        const std::int64_t size = font.format.glyphBytes();
        EXPECT_TRUE(into >= 0 && into < 96 * size && into % size == 0) << describeCandidate(best);
        EXPECT_EQ(best.positionOfCode('A'), Position(placed + ('A' - ' ') * size)) << describeCandidate(best);
        EXPECT_GE(best.glyphs, 80) << describeCandidate(best);
        for (std::size_t row = 1; row < outcome.found.size(); ++row)
            EXPECT_LT(outcome.found[row].score, best.score) << describeCandidate(outcome.found[row]);
        EXPECT_LE(outcome.found.size(), static_cast<std::size_t>(FontScanner::kMostCandidates));
    }
}

// What is no font is not listed as one; a font whose glyphs stand for no
// characters in order is found all the same, upright, just not named.
TEST(FontScan, ListsNothingThatIsNoFontAndFindsFontsItCannotName)
{
    TempFolder folder;
    const std::string image = folder.path("data.bin");
    std::mt19937 random(37);
    Bytes nothing = surroundings(random);
    const Bytes more = programBytes(1 << 20);
    nothing.insert(nothing.end(), more.begin(), more.end());
    writeFile(image, nothing);
    const ScanOutcome none = scan(image);
    EXPECT_EQ(none.problem, "");
    for (const FontCandidate& row : none.found)
        ADD_FAILURE() << describeCandidate(row);

    // The 5x8 font, its glyphs shuffled.
    std::vector<int> codes;
    for (int code = 0x21; code < 0x7F; ++code)
        codes.push_back(code);
    std::shuffle(codes.begin(), codes.end(), random);
    Bytes bytes = surroundings(random);
    const auto placed = static_cast<std::int64_t>(bytes.size()) + 1;
    for (const int code : codes) {
        const Bytes glyph = consoleGlyphs(code, 1, 5, {});
        bytes.insert(bytes.end(), glyph.begin(), glyph.end());
    }
    const Bytes after = surroundings(random);
    bytes.insert(bytes.end(), after.begin(), after.end());
    writeFile(image, bytes);
    const ScanOutcome shuffled = scan(image);
    ASSERT_EQ(shuffled.found.size(), 1U);
    const FontCandidate& found = shuffled.found.front();
    EXPECT_EQ(found.format, GlyphFormat::original(5)) << describeCandidate(found);
    EXPECT_FALSE(found.firstCode);
    const std::int64_t into = found.first.number() - placed;
    EXPECT_TRUE(into >= 0 && into < 94 * 5 && into % 5 == 0) << describeCandidate(found);
    EXPECT_GE(found.glyphs, 48);
    EXPECT_EQ(describeCandidate(found).find('\''), std::string::npos);
}

// Real files of Debian packages, as a user's firmware would be.
TEST(FontScan, FindsTheFontsOfRealFiles)
{
    std::string whyNot;
    const std::string root = testing::realFonts(whyNot);
    if (root.empty())
        GTEST_SKIP() << whyNot;
    struct Real {
        std::string path;
        std::vector<std::string> rows;  // the first rows, as --find-fonts prints them
    };
    const Real files[] = {
        {"/ktechlab/usr/bin/ktechlab",
         {"Position 2675073, width 5, bit 7 on top, first byte on the left, 204 glyphs, 'A' at 2675238"}},
        {"/hackrf-firmware/usr/share/hackrf/hackrf_rad1o_usb.bin",
         {"Position 63549, width 7, bit 0 on top, first byte on the left, 96 glyphs, 'A' at 63780"}},
        {"/vgabios/usr/share/vgabios/vgabios.bin",
         {"Position 9593, 8x16, bytes as rows, bit 7 on the left, 256 glyphs, 'A' at 10633",
          "Position 6009, 8x14, bytes as rows, bit 7 on the left, 256 glyphs, 'A' at 6919",
          "Position 3961, 8x8, bytes as rows, bit 7 on the left, 256 glyphs, 'A' at 4481"}},
    };
    for (const Real& real : files) {
        SCOPED_TRACE(real.path);
        const ScanOutcome outcome = scan(root + real.path);
        std::vector<std::string> rows;
        for (const FontCandidate& row : outcome.found)
            rows.push_back(describeCandidate(row));
        EXPECT_EQ(rows, real.rows);
    }
}

TEST(FontScan, SaysWhyAFileHoldsNoFontAndStopsWhenAsked)
{
    TempFolder folder;
    const std::string empty = folder.path("empty.bin");
    writeFile(empty, {});
    EXPECT_NE(scan(empty).problem.find("is empty"), std::string::npos);
    const std::string tiny = folder.path("tiny.bin");
    writeFile(tiny, Bytes(20, 0x11));
    EXPECT_NE(scan(tiny).problem.find("only 20 bytes"), std::string::npos);
    EXPECT_NE(scan(folder.path("missing.bin")).problem.find("Cannot read the source file"), std::string::npos);

    // A hole of a sparse image is passed over: the font behind it is found all the same.
    const std::string sparse = folder.path("sparse.bin");
    const Bytes font = consoleGlyphs(0x20, 96, 6, {});
    {
        std::ofstream out(sparse, std::ios::binary);
        out.seekp(std::int64_t{1} << 30);
        out.write(reinterpret_cast<const char*>(font.data()), static_cast<std::streamsize>(font.size()));
    }
    int calls = 0;
    const ScanOutcome found = scanForFonts({sparse, {}, Position(0)}, [&](std::int64_t, std::int64_t) {
        ++calls;
        return true;
    });
    ASSERT_FALSE(found.found.empty());
    // On a glyph of the font, its characters named.
    const std::int64_t into = found.found.front().first.number() - ((std::int64_t{1} << 30) + 1);
    EXPECT_TRUE(into >= 0 && into < 96 * 6 && into % 6 == 0) << describeCandidate(found.found.front());
    EXPECT_EQ(found.found.front().positionOfCode('A'), Position((std::int64_t{1} << 30) + 1 + 33 * 6));
    EXPECT_LT(calls, 64);  // the hole is not read block by block

    // Stopped at once: nothing more is read.
    const ScanOutcome stopped = scanForFonts({sparse, {}, Position(0)}, [](std::int64_t, std::int64_t) { return false; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_TRUE(stopped.found.empty());
}

} // namespace
} // namespace dotmatrix
