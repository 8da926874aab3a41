#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "passtest.h"

// Passes that need POSIX means: mounts, loop devices, FUSE, FIFOs, sockets,
// locks of other processes and file size limits; and other programs writing
// the files during a pass, which Windows does not let them.
namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::countingBytes;
using testing::PassTest;
using testing::readFile;
using testing::slice;
using testing::writeFile;

TEST_F(PassTest, FailedWriteEndsThePassWithoutCompleted)
{
    writeFile(source, countingBytes(10));
    const testing::FileSizeLimit fullAfterThreeBytes(3);
    window.offset = "1";
    window.symtype = 0;
    pass.start();
    pass.nextCharacter();
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("write to the target file \"" + target + "\""), std::string::npos);
    EXPECT_NE(window.problems[0].find("File too large"), std::string::npos);

    std::filesystem::remove(target);
    pass.start();
    pass.skipRest();
    EXPECT_EQ(window.completed, 0);
    EXPECT_EQ(window.problems.size(), 2U);
    EXPECT_FALSE(pass.isOpen());

    std::filesystem::remove(target);
    window.offset = "5";
    pass.start();
    EXPECT_EQ(window.problems.size(), 3U);
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    // `curoff` shows how far the failed prefix copy came.
    EXPECT_EQ(readFile(target), countingBytes(3));
    EXPECT_EQ(window.curoff(), "3");
}

TEST_F(PassTest, ReadOnlySourceIsEnough)
{
    // A running program's file cannot be opened for writing, not even by root.
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    pass.setSourcePath(program);
    window.offset = "3";
    pass.start();
    ASSERT_TRUE(pass.isOpen());
    pass.nextCharacter();
    pass.skipRest();
    EXPECT_EQ(readFile(target), readFile(program));
}

TEST_F(PassTest, FilesWithoutADefiniteLengthAreRefusedAtStart)
{
    writeFile(source, countingBytes(10));
    const std::string pipe = folder.path("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string socketPath = folder.path("socket");
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    struct Case {
        std::string path;
        bool asSource;
        const char* reason;
    };
    const Case cases[] = {{"/dev/urandom", true, "character device"},
                          {"/dev/zero", false, "character device"},
                          {"/dev/null", true, "character device"},
                          {"/dev/null", false, "character device"},
                          {pipe, true, "named pipe"},
                          {pipe, false, "named pipe"},
                          {socketPath, false, "socket"},
                          {"/proc/self/status", true, "length does not tell"},
                          {"/proc/self/status", false, "length does not tell"}};
    window.offset = "1";
    for (const Case& refused : cases) {
        SCOPED_TRACE(refused.path);
        window.problems.clear();
        pass.setSourcePath(refused.asSource ? refused.path : source);
        pass.setTargetPath(refused.asSource ? target : refused.path);
        pass.start();
        EXPECT_FALSE(pass.isOpen());
        EXPECT_TRUE(window.startEnabled);
        EXPECT_FALSE(std::filesystem::exists(target));
        ASSERT_EQ(window.problems.size(), 1U);
        EXPECT_NE(window.problems[0].find((refused.asSource ? "source file \"" : "target file \"") + refused.path),
                  std::string::npos) << window.problems[0];
        EXPECT_NE(window.problems[0].find(refused.reason), std::string::npos) << window.problems[0];
    }
    ::close(listening);
}

TEST_F(PassTest, BlockDevicesAreUsedAtTheirSize)
{
    const Bytes disk = countingBytes(256 * 1024, 7);
    const std::string sourceImage = folder.path("source.img");
    writeFile(sourceImage, disk);
    const testing::LoopDevice sourceDevice(sourceImage);
    if (!sourceDevice.attached())
        GTEST_SKIP() << sourceDevice.whyNot();
    pass.setSourcePath(sourceDevice.device());
    window.offset = "1000";
    pass.start();
    ASSERT_TRUE(pass.isOpen()) << window.problems.back();
    EXPECT_EQ(grid(), slice(disk, 1000, 1004));
    pass.nextCharacter();
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
    EXPECT_EQ(readFile(target), disk);

    const std::string targetImage = folder.path("target.img");
    writeFile(targetImage, Bytes(64 * 1024));
    const testing::LoopDevice targetDevice(targetImage);
    ASSERT_TRUE(targetDevice.attached()) << targetDevice.whyNot();
    pass.setSourcePath(source);
    pass.setTargetPath(targetDevice.device());
    start(countingBytes(64 * 1024), "50", 3);
    pass.skipRest();
    EXPECT_EQ(window.completed, 2);
    EXPECT_EQ(readFile(targetImage), countingBytes(64 * 1024));

    // A device doesn't grow: the byte past its end is a failed write.
    start(countingBytes(64 * 1024 + 1), "50", 3);
    pass.skipRest();
    EXPECT_EQ(window.completed, 2);
    ASSERT_FALSE(window.problems.empty());
    EXPECT_NE(window.problems.back().find("No space left on device"), std::string::npos) << window.problems.back();
    EXPECT_FALSE(pass.isOpen());

    // A disk with a mounted file system is refused as the target, named with
    // its mount point, and still serves as the source.
    const std::string cardImage = folder.path("card.img");
    writeFile(cardImage, Bytes(8 << 20));
    ASSERT_TRUE(testing::run("mkfs.ext4 -q " + cardImage));
    const testing::LoopDevice card(cardImage);
    ASSERT_TRUE(card.attached()) << card.whyNot();
    const std::string mountPoint = folder.path("card");
    std::filesystem::create_directory(mountPoint);
    ASSERT_TRUE(testing::run("mount " + card.device() + " " + mountPoint));
    pass.setTargetPath(card.device());
    window.problems.clear();
    window.offset = "50";
    pass.start();
    const bool refused = !pass.isOpen();
    (void)testing::run("umount " + mountPoint);
    ASSERT_TRUE(refused);
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("mounted on " + mountPoint), std::string::npos) << window.problems[0];
    EXPECT_NE(window.problems[0].find("Unmount it, or choose another file"), std::string::npos);
    const Bytes onCard = readFile(card.device());
    EXPECT_EQ(std::count(onCard.begin(), onCard.begin() + 1024, 0), 1024);  // ext4 leaves these alone; so did we

    // Unmounted but held open for itself by another program, it is that.
    const int holder = ::open(card.device().c_str(), O_RDWR | O_EXCL);
    ASSERT_GE(holder, 0);
    window.problems.clear();
    pass.start();
    ::close(holder);
    ASSERT_FALSE(pass.isOpen());
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("another program is using it: it has the disk open"), std::string::npos)
        << window.problems[0];
    EXPECT_EQ(window.problems[0].find("mounted"), std::string::npos) << window.problems[0];
    ASSERT_TRUE(testing::run("mount -o ro " + card.device() + " " + mountPoint));
    const Bytes mounted = readFile(card.device());
    pass.setSourcePath(card.device());
    pass.setTargetPath(target);
    pass.start();
    EXPECT_TRUE(pass.isOpen());
    pass.skipRest();
    (void)testing::run("umount " + mountPoint);
    EXPECT_EQ(readFile(target), mounted);
}

TEST_F(PassTest, AFailedCloseEndsThePassWithoutCompleted)
{
    const auto failing = testing::MountedFolder::slow(0, 0, true);
    if (!failing.mounted())
        GTEST_SKIP() << failing.whyNot();
    pass.setTargetPath(failing.path("target"));
    start(countingBytes(100), "5", 0);
    pass.skipRest();
    EXPECT_EQ(window.completed, 0);
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("Cannot save the target file \"" + failing.path("target") + "\": Input/output"),
              std::string::npos)
        << window.problems[0];
}

TEST_F(PassTest, LockedFilesAreRefusedAndAPassLocksItsFiles)
{
    writeFile(source, countingBytes(20));
    window.offset = "5";
    // Locks of every kind another program may take: flock(), a POSIX record
    // lock (fcntl, lockf) and an open file description lock.
    enum class Kind { Flock, Record, Description };
    const auto lockedBy = [](const std::string& path, Kind kind, bool exclusive) {
        const int other = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
        struct flock whole {};
        whole.l_type = exclusive ? F_WRLCK : F_RDLCK;
        whole.l_whence = SEEK_SET;
        const int result = kind == Kind::Flock    ? ::flock(other, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB)
                           : kind == Kind::Record ? ::fcntl(other, F_SETLK, &whole)
                                                  : ::fcntl(other, F_OFD_SETLK, &whole);
        EXPECT_EQ(result, 0) << static_cast<int>(kind);
        return other;
    };
    // Any of them on the target, or an exclusive one on the source, refuses the start.
    for (const Kind kind : {Kind::Flock, Kind::Record, Kind::Description}) {
        for (const auto& [locked, exclusive] : {std::pair{target, false}, std::pair{source, true}}) {
            const int other = lockedBy(locked, kind, exclusive);
            window.problems.clear();
            pass.start();
            ::close(other);
            EXPECT_FALSE(pass.isOpen()) << static_cast<int>(kind) << " " << locked;
            ASSERT_EQ(window.problems.size(), 1U);
            EXPECT_NE(window.problems[0].find("another program is using it: it holds a lock on the file.\n\nClose "
                                              "that program, or choose another file, and start again."),
                      std::string::npos)
                << window.problems[0];
            EXPECT_TRUE(window.startEnabled);
        }
    }
    // Others may read the source alongside, but a second pass can't share the target.
    const int reader = lockedBy(source, Kind::Flock, false);
    pass.start();
    ASSERT_TRUE(pass.isOpen());
    testing::RecordingWindow secondWindow;
    secondWindow.offset = "5";
    ConversionPass second(secondWindow);
    second.setSourcePath(source);
    second.setTargetPath(target);
    second.start();
    EXPECT_FALSE(second.isOpen());
    ASSERT_EQ(secondWindow.problems.size(), 1U);
    EXPECT_NE(secondWindow.problems[0].find("another program is using it"), std::string::npos)
        << secondWindow.problems[0];
    // Programs of either family see the pass's locks.
    const int late = ::open(target.c_str(), O_RDWR);
    EXPECT_NE(::flock(late, LOCK_SH | LOCK_NB), 0);
    struct flock whole {};
    whole.l_type = F_RDLCK;
    whole.l_whence = SEEK_SET;
    EXPECT_NE(::fcntl(late, F_OFD_SETLK, &whole), 0);
    EXPECT_NE(::fcntl(late, F_GETLK, &whole), -1);
    EXPECT_NE(whole.l_type, F_UNLCK);
    ::close(late);
    ::close(reader);
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
}

TEST_F(PassTest, OneFileSeenThroughAnOverlayAndItsUpperFolderSeesItsOwnWrites)
{
    const testing::MountedFolder overlay = testing::MountedFolder::overlay();
    if (!overlay.mounted())
        GTEST_SKIP() << overlay.whyNot();
    const Bytes s = countingBytes(16);
    writeFile(overlay.path("font.rom"), s);  // lands in the upper folder
    pass.setSourcePath(overlay.below("font.rom"));
    pass.setTargetPath(overlay.path("font.rom"));
    window.offset = "5";
    window.symtype = 0;
    pass.start();
    ASSERT_TRUE(pass.isOpen()) << window.problems.back();
    edit(0, 0xAB);
    pass.stepForward();
    pass.stepBack();
    EXPECT_EQ(grid()[0], 0xAB);
    pass.skipRest();
    Bytes expected = s;
    expected[4] = 0xAB;
    EXPECT_EQ(readFile(overlay.below("font.rom")), expected);
}

TEST_F(PassTest, ATargetShortenedOrASourceChangedByAnotherProgramEndsWithoutCompleted)
{
    // What another program does before "Skip the rest", or as each task
    // begins, and what the pass then says.
    using Kind = BackgroundTask::Kind;
    const Bytes s = countingBytes(3 << 20);
    struct Case {
        std::function<void()> beforeSkip;
        std::function<void(Kind)> beforeTask;
        std::string said;
    };
    // Acts once, as the first task of kind `when` begins.
    const auto onTask = [](Kind when, std::function<void()> act) {
        return [when, act, done = std::make_shared<bool>(false)](Kind kind) {
            if (kind == when && !std::exchange(*done, true))
                act();
        };
    };
    const Case cases[] = {
        {[&] { std::filesystem::resize_file(target, 500000); }, {},
         "target file \"" + target + "\": it is 500000 bytes long where the pass has written 1000004"},
        {{}, onTask(Kind::Sync, [&] { std::filesystem::resize_file(target, 64 * 1024); }),
         "it is 65536 bytes long where the pass has written 3145728"},
        // Cut after the pass's check, just before a copy: the copy keeps what the pass wrote.
        {{}, onTask(Kind::TailCopy, [&] { std::filesystem::resize_file(target, 10); }),
         "it is 10 bytes long where the pass has written 1000004"},
        // Rewritten as cp does (cut, then written again) while the rest is copied.
        {{},
         [&, restored = std::make_shared<bool>(false)](Kind kind) {
             if (kind == Kind::TailCopy)
                 std::filesystem::resize_file(source, 2 << 20);
             if (kind == Kind::Sync && !std::exchange(*restored, true))
                 writeFile(source, s);
         },
         "Cannot verify the target file \"" + target + "\": at position 2097153 it holds 0x00, where the source "
         "holds 0x01"},
        // Cut and grown back to its length: only reading it back tells.
        {{}, onTask(Kind::Sync, [&] {
             std::filesystem::resize_file(target, 64 * 1024);
             std::filesystem::resize_file(target, 3 << 20);
         }),
         "at position 65537 it holds 0x00, where the source holds 0x01"},
        // One byte written by another program.
        {{}, onTask(Kind::Verify, [&] { testing::writeAt(target, 2000000 - 1, {0x5A}); }),
         "at position 2000000 it holds 0x5A, where the source holds 0x80"},
        {{}, onTask(Kind::TailCopy, [&] { std::filesystem::resize_file(source, 2 << 20); }),
         "source file \"" + source + "\": it shrank from 3145728 to 2097152 bytes"},
        {{}, onTask(Kind::TailCopy, [&] { std::filesystem::resize_file(source, 4 << 20); }),
         "Cannot copy all of the source file \"" + source + "\": it grew from 3145728 to 4194304 bytes"},
    };
    for (const Case& meddled : cases) {
        std::filesystem::remove(target);
        window.problems.clear();
        window.beforeTask = {};
        start(s, "1000001", 0);
        pass.nextCharacter();
        if (meddled.beforeSkip)
            meddled.beforeSkip();
        window.beforeTask = meddled.beforeTask;
        pass.skipRest();
        EXPECT_EQ(window.completed, 0);
        EXPECT_FALSE(pass.isOpen());
        ASSERT_EQ(window.problems.size(), 1U);
        EXPECT_NE(window.problems[0].find(meddled.said), std::string::npos) << window.problems[0];
    }
    // The source as it was when the copy began is what the target holds.
    EXPECT_EQ(readFile(target), s);

    // Cut short while the tail copy runs, from a slow source.
    const auto slow = testing::MountedFolder::slow(3 << 20, 10);
    if (!slow.mounted())
        GTEST_SKIP() << slow.whyNot();
    pass.setSourcePath(slow.path("image"));
    std::filesystem::remove(target);
    window.problems.clear();
    window.beforeTask = {};
    window.offset = "1000001";
    pass.start();
    pass.nextCharacter();
    window.duringTask = [&](const BackgroundTask& task) {
        if (task.kind() == Kind::TailCopy && task.done() > Position(1500000)
            && std::filesystem::file_size(target) > 500000)
            std::filesystem::resize_file(target, 500000);
    };
    pass.skipRest();
    window.duringTask = {};
    EXPECT_EQ(window.completed, 0);
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("it is 500000 bytes long where the pass has written"), std::string::npos)
        << window.problems[0];
}


// Takes every byte a file system has left.
void fill(const testing::MountedFolder& mounted)
{
    const int file = ::open(mounted.path("filler").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    const Bytes page(4096, 0x5A);
    for (off_t offset = 0; ::pwrite(file, page.data(), page.size(), offset) > 0; offset += 4096) {
    }
    ::fsync(file);
    ::close(file);
}

TEST_F(PassTest, NothingThePassWritesHidesWhatAnotherProgramDid)
{
    using Kind = BackgroundTask::Kind;
    const Bytes s = countingBytes(200000);
    const auto ended = [&](const std::string& said) {
        EXPECT_FALSE(pass.isOpen());
        EXPECT_EQ(window.completed, 0);
        ASSERT_EQ(window.problems.size(), 1U);
        EXPECT_NE(window.problems[0].find(said), std::string::npos) << window.problems[0];
        window.problems.clear();
        window.beforeTask = {};
    };
    // A target shortened between two clicks: no move writes over the hole.
    const std::function<void()> moves[] = {
        [&] { pass.nextCharacter(); },  [&] { pass.previousCharacter(); }, [&] { pass.stepForward(); },
        [&] { pass.stepBack(); },       [&] { window.symtype = 3; pass.changeWidth(); },
        [&] { pass.jumpTo(Position(150001)); },
    };
    for (const auto& move : moves) {
        std::filesystem::remove(target);
        start(s, "1001", 1);
        edit(0, 0xAA);
        pass.nextCharacter();
        std::filesystem::resize_file(target, 10);
        move();
        ended("it is 10 bytes long where the pass has written 1005");
        EXPECT_EQ(std::filesystem::file_size(target), 10U);
    }
    // A source shortened just before a prefix or a gap copy is not padded with zeros.
    for (const Kind kind : {Kind::PrefixCopy, Kind::GapCopy}) {
        std::filesystem::remove(target);
        window.beforeTask = [&, kind](Kind now) {
            if (now == kind)
                std::filesystem::resize_file(source, 1000);
        };
        writeFile(source, s);
        window.offset = kind == Kind::PrefixCopy ? "100001" : "1";
        pass.start();
        if (kind == Kind::GapCopy)
            pass.jumpTo(Position(100001));
        ended("its length changed from 200000 to 1000 bytes just before positions");
    }
    // A source that grew after the start is copied as it is now, past its old end.
    std::filesystem::remove(target);
    start(Bytes(s.begin(), s.begin() + 200), "1", 0);
    const Bytes grown(s.begin(), s.begin() + 400);
    writeFile(source, grown);
    EXPECT_TRUE(pass.jumpTo(Position(301)));
    pass.skipRest();
    EXPECT_EQ(window.completed, 1) << (window.problems.empty() ? "" : window.problems.back());
    EXPECT_EQ(readFile(target), grown);
}

TEST_F(PassTest, FullDiskDuringAKernelCopyIsReported)
{
    const testing::MountedFolder mounted("tmpfs", 8);
    if (!mounted.mounted())
        GTEST_SKIP() << mounted.whyNot();
    passIn(mounted, countingBytes(6 << 20));
    window.offset = "3000000";
    pass.start();
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("No space left on device"), std::string::npos) << window.problems[0];
}

TEST_F(PassTest, CopiesBetweenFileSystemsFallBackToOurOwn)
{
    const testing::MountedFolder mounted("tmpfs", 16);
    if (!mounted.mounted())
        GTEST_SKIP() << mounted.whyNot();
    const Bytes s = countingBytes(3 << 20);
    passIn(mounted, s);
    pass.setTargetPath(target);  // the kernel won't copy from a tmpfs to here
    window.offset = "1000001";
    pass.start();
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
    EXPECT_TRUE(readFile(target) == s);
}

class FullDiskOn : public PassTest, public ::testing::WithParamInterface<const char*> {};

// Shared extents cost no space until a write-back changes one of their
// blocks; either the pass completes with the right bytes or it says why not.
TEST_P(FullDiskOn, SharedExtentsNeverEndInAFalseCompleted)
{
    const testing::MountedFolder mounted(GetParam(), 320);
    if (!mounted.mounted())
        GTEST_SKIP() << mounted.whyNot();
    const Bytes s = countingBytes(32 << 20);
    passIn(mounted, s);
    writeFile(mounted.path("out.bin"), {});
    fill(mounted);
    const auto endsTruthfully = [&](const Bytes& expected) {
        if (window.completed == 1) {
            EXPECT_TRUE(readFile(mounted.path("out.bin")) == expected);
        } else {
            ASSERT_EQ(window.problems.size(), 1U);
            EXPECT_NE(window.problems[0].find("No space left on device"), std::string::npos) << window.problems[0];
        }
        EXPECT_FALSE(pass.isOpen());
    };

    window.offset = "1";
    pass.start();
    ASSERT_TRUE(pass.isOpen()) << window.problems.back();
    pass.skipRest();
    endsTruthfully(s);
    if (window.completed == 0)
        return;

    window.offset = std::to_string(16 << 20);
    pass.start();
    if (pass.isOpen()) {
        edit(0, 0xEE);
        pass.nextCharacter();
        pass.skipRest();
    }
    window.completed = 0;
    Bytes edited = s;
    edited[(16 << 20) - 1] = 0xEE;
    endsTruthfully(edited);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, FullDiskOn, ::testing::Values("xfs", "btrfs"),
                         [](const auto& param) { return std::string(param.param); });


// Real files that hold fonts, each edited in its own format at its 'A': one
// dot changed, and the target byte-exact to the source but for it (and the
// video BIOS's checksum byte, brought up to date on Yes).
TEST_F(PassTest, RealFontsAreEditedInTheirOwnFormats)
{
    std::string whyNot;
    const std::string root = testing::realFonts(whyNot);
    if (root.empty())
        GTEST_SKIP() << whyNot;
    GlyphFormat bios;
    bios.lines = GlyphFormat::Lines::Rows;
    bios.width = 8;
    bios.height = 16;
    struct Real {
        std::string path;
        GlyphFormat format;
        std::int64_t letterA;
        Bytes glyphA;  // its first bytes
        bool zeroSum;
    };
    const Real files[] = {
        {"/ktechlab/usr/bin/ktechlab", GlyphFormat::original(5, {false, true}), 2675238, {0x3F, 0x44, 0x44, 0x44, 0x3F}, false},
        {"/hackrf-firmware/usr/share/hackrf/hackrf_rad1o_usb.bin", GlyphFormat::original(7, {true, true}), 63780,
         {0x7C, 0x7E, 0x13, 0x13, 0x7E, 0x7C, 0x00}, false},
        {"/vgabios/usr/share/vgabios/vgabios.bin", bios, 9593 + 65 * 16, {0x00, 0x00, 0x10, 0x38, 0x6C, 0xC6, 0xC6, 0xFE},
         true},
    };
    for (const Real& real : files) {
        SCOPED_TRACE(real.path);
        const Bytes image = readFile(root + real.path);
        std::filesystem::remove(target);
        window.format = real.format.isOriginal() ? std::nullopt : std::optional<GlyphFormat>(real.format);
        start(image, std::to_string(real.letterA), real.format.width - 4);
        const Bytes shown = grid();
        EXPECT_EQ(Bytes(shown.begin(), shown.begin() + static_cast<std::ptrdiff_t>(real.glyphA.size())), real.glyphA);
        // The dot at the middle of the top row as the format shows it upright.
        const GlyphFormat::Bit dot = real.format.bitAt(real.format.width / 2, 0);
        ASSERT_TRUE(pass.toggleDot(dot.byte, dot.bit));
        pass.nextCharacter();
        window.answer = true;
        pass.skipRest();
        ASSERT_FALSE(pass.isOpen());
        ASSERT_TRUE(window.problems.empty()) << window.problems.back();
        Bytes expected = image;
        expected[static_cast<std::size_t>(real.letterA - 1 + dot.byte)] ^= static_cast<std::uint8_t>(1 << dot.bit);
        Bytes written = readFile(target);
        if (real.zeroSum) {
            unsigned sum = 0;
            for (const std::uint8_t byte : written)
                sum += byte;
            EXPECT_EQ(sum % 256, 0U);
            expected.back() = written.back();
        }
        EXPECT_TRUE(written == expected);
        window.problems.clear();
    }
}

TEST_F(PassTest, SourceIsCopiedAsItIsWhenTheRestIsSkipped)
{
    const auto append = [&](const Bytes& bytes) {
        std::ofstream out(source, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    start(countingBytes(8), "5", 0);
    append(countingBytes(12, 100));
    pass.nextCharacter();  // reads behind the length known at start
    EXPECT_EQ(grid(), countingBytes(4, 100));
    pass.skipRest();
    Bytes grown = countingBytes(8);
    const Bytes appended = countingBytes(12, 100);
    grown.insert(grown.end(), appended.begin(), appended.end());
    EXPECT_EQ(readFile(target), grown);

    std::filesystem::remove(target);
    start(countingBytes(30), "5", 0);
    std::filesystem::resize_file(source, 12);
    pass.skipRest();
    EXPECT_EQ(readFile(target), countingBytes(12));
    EXPECT_EQ(window.completed, 2);
}

TEST_F(PassTest, EveryCaptureReadsWhatTheFilesHoldNow)
{
    start(countingBytes(40), "5", 0);
    edit(0, 0xAA);
    pass.nextCharacter();
    // Another program rewrites the source in place: the next capture shows it.
    writeFile(source, countingBytes(40, 101));
    pass.stepForward();
    EXPECT_EQ(grid(), countingBytes(4, 110));
    // Another program writes the target where the pass wrote: "< Previous" shows that.
    {
        std::fstream other(target, std::ios::binary | std::ios::in | std::ios::out);
        other.seekp(4);
        other.write("\x11\x22\x33\x44", 4);
    }
    pass.stepBack();
    pass.previousCharacter();
    EXPECT_EQ(grid(), (Bytes{0x11, 0x22, 0x33, 0x44}));
}

} // namespace
} // namespace dotmatrix
