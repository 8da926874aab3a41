#include "batch.h"

#include <filesystem>
#include <sstream>

#include <QImage>

#include <gtest/gtest.h>

#include "checksum.h"
#include "testfiles.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::readFile;
using testing::writeFile;

struct Outcome {
    int code = 0;
    std::string out;
    std::string err;
};

Outcome run(const std::vector<std::string>& arguments)
{
    const Invocation invocation = readCommandLine(arguments);
    EXPECT_EQ(invocation.problem, "");
    std::ostringstream out;
    std::ostringstream err;
    const int code = runBatch(invocation, out, err, false);
    return {code, out.str(), err.str()};
}

Bytes randomImage(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    std::uint32_t state = seed;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

TEST(CommandLine, ReadsFormatsAndRefusesWhatItCannotDo)
{
    const Invocation rows = readCommandLine(
        {"--export", "a.bin", "--at", "1", "--count", "2", "--format", "8x16, bytes as rows", "--output", "o.png"});
    ASSERT_TRUE(rows.format) << rows.problem;
    EXPECT_EQ(rows.format->lines, GlyphFormat::Lines::Rows);
    EXPECT_EQ(rows.format->height, 16);
    EXPECT_NE(readCommandLine({"--checksum", "a", "--format", "upside down"}).problem, "");
    EXPECT_EQ(readCommandLine({"a.bin", "b.bin"}).target, "b.bin");
    EXPECT_EQ(readCommandLine({"--help", "whatever"}).mode, Invocation::Mode::Help);
    const char* refused[][4] = {
        {"--export", "a.bin", "--count", "3"},        {"--apply", "s.png", "--source", "a"},
        {"--checksum", "a", "--find-fonts", "b"},     {"--at", "0", "a", "b"},
        {"--bogus", "", "", ""},                      {"a", "b", "c", ""},
    };
    for (const auto& line : refused) {
        std::vector<std::string> arguments;
        for (const char* argument : line) {
            if (*argument != '\0')
                arguments.emplace_back(argument);
        }
        EXPECT_NE(readCommandLine(arguments).problem, "") << line[0] << " " << line[1];
    }
}

TEST(Batch, ExportThenApplyMakesWhatThePassWouldAndFailuresLeaveTheTarget)
{
    testing::TempFolder folder;
    const std::string source = folder.path("vendor.bin");
    const std::string target = folder.path("patched.bin");
    const std::string sheet = folder.path("font.png");
    // An image that ends in the CRC-32 of the rest.
    Bytes image = randomImage(8188, 5);
    ChecksumState state;
    state.add(image);
    const Checksum crc{ChecksumKind::Crc32, false, 8188, 8189, 4};
    const Bytes field = checksumBytes(crc, state.value(ChecksumKind::Crc32));
    image.insert(image.end(), field.begin(), field.end());
    writeFile(source, image);

    Outcome done = run({"--export", source, "--at", "1001", "--count", "32", "--format", "width 6, bit 0 on top",
                    "--output", sheet});
    ASSERT_EQ(done.code, 0) << done.err;
    // A paint program switches the top left dot of the third glyph: bit 0 of
    // its last byte, at 1018, the first byte being on the right.
    QImage drawn(QString::fromStdString(sheet), "PNG");
    ASSERT_FALSE(drawn.isNull());
    const bool lit = qGray(drawn.pixel(1 + 2 * 7, 1)) < 128;
    drawn.setPixel(1 + 2 * 7, 1, lit ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    ASSERT_TRUE(drawn.save(QString::fromStdString(sheet), "PNG"));
    Bytes expected = image;
    expected[1017] ^= 0x01;

    // Without --fix-checksum the CRC is left; with it, it holds again.
    done = run({"--apply", sheet, "--source", source, "--target", target});
    ASSERT_EQ(done.code, 0) << done.err;
    EXPECT_NE(done.out.find("Wrote 1 of the sheet's 32 glyphs (width 6, bit 0 on top, first byte on the right) from "
                            "position 1001"),
              std::string::npos)
        << done.out;
    EXPECT_EQ(readFile(target), expected);
    done = run({"--checksum", target});
    EXPECT_EQ(done.code, 2) << done.out;
    done = run({"--apply", sheet, "--source", source, "--target", target, "--fix-checksum"});
    ASSERT_EQ(done.code, 0) << done.err;
    const Bytes fixed = readFile(target);
    ChecksumState edited;
    edited.add(std::span(expected).first(8188));
    const Bytes newField = checksumBytes(crc, edited.value(ChecksumKind::Crc32));
    std::copy(newField.begin(), newField.end(), expected.end() - 4);
    EXPECT_EQ(fixed, expected);
    EXPECT_EQ(run({"--checksum", target}).code, 0);
    // Twice gives the same target.
    ASSERT_EQ(run({"--apply", sheet, "--source", source, "--target", target, "--fix-checksum"}).code, 0);
    EXPECT_EQ(readFile(target), fixed);
    EXPECT_FALSE(std::filesystem::exists(target + ".dotmatrix-partial"));

    // Failures midway say so on one line and leave the target as it was, or unmade.
    const Bytes before = readFile(target);
    done = run({"--apply", sheet, "--source", source, "--target", target, "--format", "width 5"});
    EXPECT_EQ(done.code, 1);
    EXPECT_EQ(done.err, "dotmatrix: the sheet \"" + sheet + "\" holds glyphs 6 x 8 dots, and --format says 5 x 8\n");
    const std::string plain = folder.path("plain.bin");
    writeFile(plain, randomImage(5000, 9));
    done = run({"--apply", sheet, "--source", plain, "--target", target, "--fix-checksum"});
    EXPECT_EQ(done.code, 1);
    EXPECT_NE(done.err.find("no checksum"), std::string::npos) << done.err;
    EXPECT_NE(done.err.find("is left as it was"), std::string::npos) << done.err;
    EXPECT_EQ(std::count(done.err.begin(), done.err.end(), '\n'), 1);
    EXPECT_EQ(readFile(target), before);
    const std::string nowhere = folder.path("missing folder/patched.bin");
    done = run({"--apply", sheet, "--source", source, "--target", nowhere});
    EXPECT_EQ(done.code, 1);
    EXPECT_NE(done.err.find("was not made"), std::string::npos) << done.err;
    EXPECT_FALSE(std::filesystem::exists(nowhere));

    // Any format: 8x16 row glyphs, exported, redrawn and applied.
    const std::string rowsSheet = folder.path("rows.png");
    done = run({"--export", source, "--at", "2001", "--count", "4", "--format", "8x16, bytes as rows, bit 7 on the left",
                "--output", rowsSheet});
    ASSERT_EQ(done.code, 0) << done.err;
    QImage tall(QString::fromStdString(rowsSheet), "PNG");
    ASSERT_EQ(tall.size(), QSize(1 + 4 * 9, 1 + 17));
    const bool on = qGray(tall.pixel(1 + 9 + 3, 1 + 2)) < 128;  // glyph 2, x 3, y 2: byte 2 bit 4
    tall.setPixel(1 + 9 + 3, 1 + 2, on ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    ASSERT_TRUE(tall.save(QString::fromStdString(rowsSheet), "PNG"));
    const std::string rowsTarget = folder.path("rows.bin");
    done = run({"--apply", rowsSheet, "--source", source, "--target", rowsTarget});
    ASSERT_EQ(done.code, 0) << done.err;
    Bytes rowsExpected = image;
    rowsExpected[2000 + 16 + 2] ^= 0x10;
    EXPECT_EQ(readFile(rowsTarget), rowsExpected);
}

TEST(Batch, ChecksumSaysWhetherItHolds)
{
    testing::TempFolder folder;
    // A PC option ROM: 55 AA, its length in 512-byte blocks, bytes summing to zero.
    Bytes rom = randomImage(4096, 3);
    rom[0] = 0x55;
    rom[1] = 0xAA;
    rom[2] = 8;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < rom.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + rom[i]);
    rom.back() = static_cast<std::uint8_t>(0x100 - sum);
    writeFile(folder.path("rom.bin"), rom);
    Outcome done = run({"--checksum", folder.path("rom.bin")});
    EXPECT_EQ(done.code, 0) << done.out;
    EXPECT_NE(done.out.find("sum to zero modulo 256, as option and BIOS ROMs do: it holds"), std::string::npos)
        << done.out;
    rom[100] ^= 4;
    writeFile(folder.path("rom.bin"), rom);
    EXPECT_EQ(run({"--checksum", folder.path("rom.bin")}).code, 1);
    writeFile(folder.path("random.bin"), randomImage(4096, 4));
    EXPECT_EQ(run({"--checksum", folder.path("random.bin")}).code, 2);
    done = run({"--checksum", folder.path("none.bin")});
    EXPECT_EQ(done.code, 1);
    EXPECT_EQ(done.err.rfind("dotmatrix: cannot read", 0), 0U) << done.err;
}

} // namespace
} // namespace dotmatrix
