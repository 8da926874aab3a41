#include "fileservice.h"

#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "testfiles.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::readFile;
using testing::writeFile;

std::uint8_t modelRead(const Bytes& file, std::int64_t position)
{
    return position <= static_cast<std::int64_t>(file.size()) ? file[static_cast<std::size_t>(position - 1)] : 0;
}

void modelWrite(Bytes& file, std::int64_t position, std::uint8_t value)
{
    if (position > static_cast<std::int64_t>(file.size()))
        file.resize(static_cast<std::size_t>(position), 0);
    file[static_cast<std::size_t>(position - 1)] = value;
}

// Random single-byte reads and writes, block copies and flushes across block
// boundaries, compared with plain vectors; after every flush the files on
// disk must hold what the model holds.
void checkAgainstModel(bool sameFile, std::uint32_t seed)
{
    SCOPED_TRACE("seed " + std::to_string(seed) + (sameFile ? ", one file" : ", two files"));
    std::mt19937 random(seed);
    testing::TempFolder folder;
    const std::string sourcePath = folder.path("source");
    const std::string targetPath = folder.path("target");
    Bytes source(random() % 300'000);
    for (auto& byte : source)
        byte = static_cast<std::uint8_t>(random());
    Bytes target(random() % 300'000, 0x5C);
    writeFile(sourcePath, source);
    if (sameFile) {
        std::filesystem::create_symlink(sourcePath, targetPath);
        target = source;
    } else {
        writeFile(targetPath, target);
    }
    Bytes& modelSource = sameFile ? target : source;

    FileService files;
    files.open(sourcePath, targetPath);
    auto position = [&] { return std::int64_t{1} + static_cast<std::int64_t>(random() % 400'000); };
    for (int step = 0; step < 1500; ++step) {
        switch (random() % 6) {
        case 0:
        case 1: {
            const std::int64_t at = position();
            ASSERT_EQ(files.readByte(PassFile::SourceFile, Position(at)), modelRead(modelSource, at)) << at;
            ASSERT_EQ(files.readByte(PassFile::TargetFile, Position(at)), modelRead(target, at)) << at;
            break;
        }
        case 2:
        case 3: {
            const std::int64_t at = position();
            for (std::int64_t i = 0; i < 7; ++i) {
                const auto value = static_cast<std::uint8_t>(random());
                files.writeByte(Position(at + i), value);
                modelWrite(target, at + i, value);
            }
            break;
        }
        case 4: {
            const std::int64_t first = position();
            const std::uint32_t span = random() % 10 == 0 ? 2'500'000 : 150'000;
            const std::int64_t last = first + static_cast<std::int64_t>(random() % span);
            files.copy(Position(first), Position(last));
            for (std::int64_t at = first; at <= last; ++at)
                modelWrite(target, at, modelRead(modelSource, at));
            break;
        }
        default:
            files.flush();
            ASSERT_EQ(readFile(targetPath), target);
            ASSERT_EQ(files.length(PassFile::TargetFile), static_cast<std::int64_t>(target.size()));
            ASSERT_EQ(files.length(PassFile::SourceFile), static_cast<std::int64_t>(modelSource.size()));
        }
    }
    files.sync();
    files.closeAll();
    EXPECT_EQ(readFile(targetPath), target);
    EXPECT_EQ(readFile(sourcePath), modelSource);
}

TEST(FileService, MatchesUnbufferedAccessOnTwoFiles)
{
    const std::uint32_t seed = std::random_device{}();
    for (std::uint32_t run = 0; run < 4; ++run)
        checkAgainstModel(false, seed + run);
}

TEST(FileService, MatchesUnbufferedAccessOnOneFileUnderTwoNames)
{
    const std::uint32_t seed = std::random_device{}();
    for (std::uint32_t run = 0; run < 4; ++run)
        checkAgainstModel(true, seed + run);
}

TEST(FileService, CreatesAMissingTargetAndNeverTruncates)
{
    testing::TempFolder folder;
    writeFile(folder.path("source"), {1, 2, 3});
    writeFile(folder.path("existing"), {9, 9, 9, 9, 9});
    FileService files;
    files.open(folder.path("source"), folder.path("new"));
    EXPECT_TRUE(std::filesystem::exists(folder.path("new")));
    files.closeAll();
    files.open(folder.path("source"), folder.path("existing"));
    files.writeByte(Position(2), 7);
    files.closeAll();
    EXPECT_EQ(readFile(folder.path("existing")), (Bytes{9, 7, 9, 9, 9}));
    EXPECT_FALSE(files.isOpen());
}

TEST(FileService, ZerosBehindTheSourceEndLeaveTheTargetSparse)
{
    testing::TempFolder folder;
    writeFile(folder.path("source"), {1, 2, 3});
    FileService files;
    files.open(folder.path("source"), folder.path("target"));
    std::vector<std::int64_t> reported;
    files.copy(Position(1), Position(3'000'000), [&](Position p) { reported.push_back(p.number()); });
    files.closeAll();
    EXPECT_EQ(std::filesystem::file_size(folder.path("target")), 3'000'000U);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 3'000'000);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    const Bytes copied = readFile(folder.path("target"));
    EXPECT_EQ(Bytes(copied.begin(), copied.begin() + 4), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(std::count(copied.begin(), copied.end(), 0), 3'000'000 - 3);
}

} // namespace
} // namespace dotmatrix
