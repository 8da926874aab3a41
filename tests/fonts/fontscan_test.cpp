#include "fontscan.h"

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

// The bytes of a real program: this one.
Bytes programBytes(std::size_t count)
{
    std::ifstream self("/proc/self/exe", std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
    bytes.resize(std::min(count, bytes.size()));
    return bytes;
}

ScanOutcome scan(const std::string& path)
{
    return scanForFonts({path, {}, Position(0)}, [](std::int64_t, std::int64_t) { return true; });
}

TEST(FontScan, RanksAFontFirstAmongWhatSurroundsItInFirmware)
{
    TempFolder folder;
    const std::string image = folder.path("firmware.bin");
    std::mt19937 random(20261208);
    const Bytes program = programBytes(48 * 1024);
    for (int width = 4; width <= 7; ++width) {
        for (const DotOrder order : {DotOrder{false, false}, DotOrder{true, false}, DotOrder{false, true}, DotOrder{true, true}}) {
            SCOPED_TRACE("width " + std::to_string(width) + ", " + dotOrderText(order));
            Bytes bytes = randomBytes(10000 + static_cast<std::size_t>(random() % 999), random);
            bytes.insert(bytes.end(), program.begin(), program.end());
            bytes.insert(bytes.end(), 3000, 0xFF);
            const Bytes text = textBytes(5000);
            bytes.insert(bytes.end(), text.begin(), text.end());
            const auto placed = static_cast<std::int64_t>(bytes.size()) + 1;
            const Bytes font = consoleGlyphs(0x20, 96, width, order);
            bytes.insert(bytes.end(), font.begin(), font.end());
            const Bytes after = randomBytes(7000, random);
            bytes.insert(bytes.end(), after.begin(), after.end());
            bytes.insert(bytes.end(), program.begin(), program.begin() + 20000);
            writeFile(image, bytes);

            const ScanOutcome outcome = scan(image);
            ASSERT_EQ(outcome.problem, "");
            ASSERT_FALSE(outcome.found.empty());
            const FontCandidate& best = outcome.found.front();
            EXPECT_EQ(best.format.width, width) << describeCandidate(best);
            EXPECT_EQ(best.format.order, order) << describeCandidate(best);
            EXPECT_LE(std::abs(best.first.number() - placed), width) << describeCandidate(best);
            EXPECT_GE(best.glyphs, 64) << describeCandidate(best);  // of 96
            EXPECT_GT(best.score, outcome.found[1].score + 1) << describeCandidate(outcome.found[1]);
            EXPECT_LE(outcome.found.size(), static_cast<std::size_t>(FontScanner::kMostCandidates));
        }
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
    // The font's first glyph is the blank space: the run starts at "!".
    EXPECT_EQ(found.found.front().first, Position((std::int64_t{1} << 30) + 1 + 6));
    EXPECT_LT(calls, 64);  // the hole is not read block by block

    // Stopped at once: nothing more is read.
    const ScanOutcome stopped = scanForFonts({sparse, {}, Position(0)}, [](std::int64_t, std::int64_t) { return false; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_TRUE(stopped.found.empty());
}

} // namespace
} // namespace dotmatrix
