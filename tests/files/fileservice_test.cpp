#include "fileservice.h"

#include <filesystem>
#include <utility>
#include <fstream>
#include <random>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
        std::filesystem::create_hard_link(sourcePath, targetPath);
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
            files.copier().copy(Position(first), Position(last));
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
    EXPECT_TRUE(files
                    .copier([&](Position p) {
                        reported.push_back(p.number());
                        return true;
                    })
                    .copy(Position(1), Position(3'000'000)));
    files.closeAll();
    EXPECT_EQ(std::filesystem::file_size(folder.path("target")), 3'000'000U);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 3'000'000);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    const Bytes copied = readFile(folder.path("target"));
    EXPECT_EQ(Bytes(copied.begin(), copied.begin() + 4), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(std::count(copied.begin(), copied.end(), 0), 3'000'000 - 3);
}

TEST(FileService, ASourceCutShortDuringACopyIsAnErrorNeverZeros)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows lets no other program write a source the pass holds open";
#endif
    constexpr std::int64_t kMiB = 1024 * 1024;
    testing::TempFolder folder;
    writeFile(folder.path("source"), testing::countingBytes(static_cast<std::size_t>(6 * kMiB)));
    FileService files;
    files.open(folder.path("source"), folder.path("target"));
    bool cut = false;
    auto copier = files.copier([&](Position) {
        if (!std::exchange(cut, true))
            std::filesystem::resize_file(folder.path("source"), kMiB);
        return true;
    });
    EXPECT_THROW(copier.copy(Position(1), Position(6 * kMiB)), FileError);
    files.closeAll();
    // What the target holds is the source's, as far as it goes: no zeros in its place.
    const Bytes copied = readFile(folder.path("target"));
    const Bytes original = testing::countingBytes(static_cast<std::size_t>(6 * kMiB));
    ASSERT_LE(copied.size(), original.size());
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), original.begin()));
}

TEST(FileService, AStopBetweenPiecesLeavesExactlyTheBytesInFrontCopied)
{
    // Kernel and buffered pieces, and zeros over the target's data where
    // the source has a hole: each stops where it reported last.
    constexpr std::int64_t kMiB = 1024 * 1024;
    for (const int stopAtReport : {1, 2, 3, 5}) {
        testing::TempFolder folder;
        Bytes source = testing::countingBytes(static_cast<std::size_t>(6 * kMiB));
        std::fill(source.begin() + 2 * kMiB, source.begin() + 4 * kMiB, std::uint8_t{0});
        writeFile(folder.path("source"), source);
#ifndef _WIN32
        ASSERT_TRUE(testing::run("fallocate -p -o " + std::to_string(2 * kMiB) + " -l " + std::to_string(2 * kMiB)
                                 + " " + folder.path("source")));
#endif
        const Bytes before(static_cast<std::size_t>(7 * kMiB), 0xEE);
        writeFile(folder.path("target"), before);

        FileService files;
        files.open(folder.path("source"), folder.path("target"));
        std::vector<std::int64_t> reported;
        const bool whole = files
                               .copier([&](Position p) {
                                   reported.push_back(p.number());
                                   return static_cast<int>(reported.size()) < stopAtReport;
                               })
                               .copy(Position(3), Position(6 * kMiB));
        files.closeAll();
        ASSERT_FALSE(whole) << "stopped at report " << stopAtReport;
        const auto stop = static_cast<std::size_t>(reported.back());
        const Bytes after = readFile(folder.path("target"));
        ASSERT_EQ(after.size(), before.size());
        EXPECT_TRUE(std::equal(after.begin() + 2, after.begin() + static_cast<std::ptrdiff_t>(stop), source.begin() + 2))
            << "stopped at " << stop;
        EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(stop), after.end(),
                               before.begin() + static_cast<std::ptrdiff_t>(stop)))
            << "stopped at " << stop;
        EXPECT_EQ(after[0], 0xEE);
    }

    // A stop heard once the last byte is copied comes too late: the copy is whole.
    testing::TempFolder folder;
    writeFile(folder.path("source"), {1, 2, 3});
    FileService files;
    files.open(folder.path("source"), folder.path("target"));
    EXPECT_TRUE(files.copier([](Position) { return false; }).copy(Position(1), Position(3)));
}

#ifndef _WIN32
// Bytes the file system has given a file: holes take none.
std::int64_t allocatedBytes(const std::string& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return static_cast<std::int64_t>(status.st_blocks) * 512;
}

void writeAt(const std::string& path, std::int64_t offset, const Bytes& bytes)
{
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    EXPECT_EQ(::pwrite(file, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
    ::close(file);
}

class HolesOn : public ::testing::TestWithParam<const char*> {};

TEST_P(HolesOn, StayHolesInNewAndExistingTargets)
{
    const testing::MountedFolder mounted(GetParam(), 320);
    if (!mounted.mounted())
        GTEST_SKIP() << mounted.whyNot();
    constexpr std::int64_t kMiB = 1 << 20;
    const std::string source = mounted.path("source");
    const Bytes data = testing::countingBytes(kMiB, 3);
    writeAt(source, 8 * kMiB + 5, data);
    writeAt(source, 64 * kMiB - 3, {7, 8, 9});
    const std::string existing = mounted.path("existing");
    writeAt(existing, 40 * kMiB, data);  // data where the source has a hole
    std::filesystem::resize_file(existing, 80 * kMiB);

    for (const std::string& target : {mounted.path("new"), existing}) {
        SCOPED_TRACE(target);
        FileService files;
        files.open(source, target);
        files.copier().copy(Position(1), Position(64 * kMiB));
        files.sync();
        files.closeAll();
        EXPECT_LT(allocatedBytes(target), 16 * kMiB);
        std::ifstream in(target, std::ios::binary);
        Bytes content(static_cast<std::size_t>(64 * kMiB));
        in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(content.size()));
        Bytes expected = readFile(source);
        EXPECT_TRUE(content == expected);
    }
    EXPECT_EQ(std::filesystem::file_size(existing), static_cast<std::uintmax_t>(80 * kMiB));
}

INSTANTIATE_TEST_SUITE_P(FileSystems, HolesOn, ::testing::Values("tmpfs", "ext4", "xfs", "btrfs"),
                         [](const auto& param) { return std::string(param.param); });

#endif

TEST(FileService, RecognisesOneFileUnderAnyName)
{
    testing::TempFolder folder;
    const std::string file = folder.path("font.rom");
    writeFile(file, {1, 2, 3});
    writeFile(folder.path("copy.rom"), {1, 2, 3});
    std::filesystem::create_hard_link(file, folder.path("hardlink.rom"));
    EXPECT_TRUE(isSameFile(file, file));
#ifndef _WIN32
    // Windows lets only administrators make symbolic links.
    std::filesystem::create_symlink(file, folder.path("symlink.rom"));
    EXPECT_TRUE(isSameFile(file, folder.path("symlink.rom")));
#endif
    EXPECT_TRUE(isSameFile(folder.path("hardlink.rom"), file));
    EXPECT_TRUE(isSameFile(file, folder.path(".") + "/font.rom"));
    EXPECT_FALSE(isSameFile(file, folder.path("copy.rom")));
    EXPECT_FALSE(isSameFile(file, folder.path("missing.rom")));
    EXPECT_FALSE(isSameFile("", ""));
}

} // namespace
} // namespace dotmatrix
