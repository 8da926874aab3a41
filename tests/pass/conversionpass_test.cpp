#include "conversionpass.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "checksum.h"

#include "passtest.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::countingBytes;
using testing::PassTest;
using testing::readFile;
using testing::slice;
using testing::writeFile;

TEST_F(PassTest, NothingActsOnThePassWhileACopyRuns)
{
    // During the prefix copy, the look for a checksum, the tail copy and the
    // sync, every operation is tried, with another size selected meanwhile.
    const Bytes s = countingBytes(300);
    int tried = 0;
    window.beforeTask = [&](BackgroundTask::Kind) {
        EXPECT_TRUE(pass.isBusy());
        const WorkingState before = pass.state();
        window.symtype = 3;
        pass.start();
        pass.nextCharacter();
        pass.previousCharacter();
        pass.stepForward();
        pass.stepBack();
        pass.changeWidth();
        pass.skipRest();
        EXPECT_FALSE(pass.jumpTo(Position(50)));
        EXPECT_EQ(pass.importGlyphs(Position(1), Bytes(5, 0xFF)), 0);
        EXPECT_FALSE(pass.toggleDot(0, 0));
        EXPECT_FALSE(pass.setDisplayedColumns(Bytes(5, 0xFF)));
        EXPECT_FALSE(pass.setSourcePath("elsewhere"));
        EXPECT_FALSE(pass.setTargetPath("elsewhere"));
        EXPECT_EQ(pass.state().CurOffset, before.CurOffset);
        EXPECT_EQ(pass.state().CharWidth, before.CharWidth);
        EXPECT_EQ(grid(), testing::gridBytes(before.DotGrid));
        window.symtype = 1;
        ++tried;
    };
    start(s, "100", 1);
    EXPECT_EQ(pass.state().CharWidth, 5);
    pass.skipRest();
    EXPECT_EQ(tried, 4);  // the prefix copy, the tail copy, the sync and the verify
    EXPECT_EQ(window.completed, 1);
    EXPECT_TRUE(window.problems.empty());
    EXPECT_TRUE(window.questions.empty());
    EXPECT_EQ(readFile(target), s);
    EXPECT_EQ(pass.state().SourcePath, source);
    EXPECT_FALSE(pass.isBusy());
}

TEST_F(PassTest, StepForwardEditIsOverwrittenByTheNextWriteBack)
{
    const Bytes s = countingBytes(16);
    start(s, "5", 0);
    EXPECT_EQ(readFile(target), slice(s, 1, 4));
    EXPECT_EQ(grid(), slice(s, 5, 8));

    edit(1, 0xE6);
    pass.stepForward();
    Bytes expected = slice(s, 1, 8);
    expected[5] = 0xE6;
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(pass.state().CurOffset, Position(6));
    EXPECT_EQ(grid(), slice(s, 6, 9));

    pass.nextCharacter();
    EXPECT_EQ(pass.state().CurOffset, Position(10));
    EXPECT_EQ(grid(), slice(s, 10, 13));
    pass.skipRest();
    EXPECT_EQ(readFile(target), s);
    EXPECT_EQ(window.completed, 1);
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
}

TEST_F(PassTest, PreviousCharacterShowsTheEditsWrittenToTheTarget)
{
    const Bytes s = countingBytes(16);
    const Bytes edits{0xE5, 0xE6, 0xE7, 0xE8};
    start(s, "5", 0);
    for (int column = 0; column < 4; ++column)
        edit(column, edits[static_cast<std::size_t>(column)]);
    pass.nextCharacter();
    EXPECT_EQ(grid(), slice(s, 9, 12));
    pass.previousCharacter();
    EXPECT_EQ(pass.state().CurOffset, Position(5));
    EXPECT_EQ(grid(), edits);
    pass.nextCharacter();
    pass.skipRest();

    Bytes expected = s;
    std::copy(edits.begin(), edits.end(), expected.begin() + 4);
    EXPECT_EQ(readFile(target), expected);
}

TEST_F(PassTest, StartCopiesThePrefixAndCapturesTheFirstCharacter)
{
    const Bytes s = countingBytes(100);
    start(s, "10", 1);
    EXPECT_EQ(readFile(target), slice(s, 1, 9));
    ASSERT_GE(window.curoffTexts.size(), 2U);
    EXPECT_EQ(window.curoffTexts[window.curoffTexts.size() - 2], "9");
    EXPECT_EQ(window.curoff(), "10");
    EXPECT_EQ(pass.state().CharWidth, 5);
    EXPECT_EQ(grid(), slice(s, 10, 14));
    EXPECT_FALSE(window.startEnabled);
    using Kind = BackgroundTask::Kind;
    EXPECT_EQ(window.waits, std::vector<Kind>{Kind::PrefixCopy});
    pass.skipRest();
    EXPECT_EQ(window.waits, (std::vector<Kind>{Kind::PrefixCopy, Kind::TailCopy, Kind::Sync, Kind::Verify}));
}

TEST_F(PassTest, AStoppedCopyOpensNoPassOrKeepsItAsItWas)
{
    // A stop asked for at once ends the copy after its first piece.
    const Bytes s = countingBytes(20 << 20);
    window.stopCopies = true;
    writeFile(source, s);
    window.offset = "16000000";
    pass.start();
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    ASSERT_EQ(window.stops.size(), 1U);
    const std::string said = "only up to position ";
    const std::size_t at = window.stops[0].find(said);
    ASSERT_NE(at, std::string::npos) << window.stops[0];
    const std::size_t piece = std::stoul(window.stops[0].substr(at + said.size()));
    EXPECT_NE(window.stops[0].find("; nothing was written at the starting offset 16000000"), std::string::npos);
    EXPECT_GT(piece, 0U);
    EXPECT_LT(piece, 16000000U - 1);
    EXPECT_EQ(readFile(target), slice(s, 1, piece));
    EXPECT_EQ(window.curoff(), std::to_string(piece));

    // The tail copy: the pass stays at its position, and a later Skip copies all.
    start(s, "1", 0);
    pass.skipRest();
    ASSERT_EQ(window.stops.size(), 2U);
    EXPECT_NE(window.stops[1].find("The pass stays open at position 1"), std::string::npos) << window.stops[1];
    EXPECT_TRUE(pass.isOpen());
    EXPECT_EQ(pass.state().CurOffset, Position(1));
    EXPECT_EQ(window.completed, 0);
    const Bytes stopped = readFile(target);
    EXPECT_LT(stopped.size(), s.size());
    EXPECT_EQ(stopped, slice(s, 1, stopped.size()));
    window.stopCopies = false;
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
    EXPECT_EQ(readFile(target), s);
}

TEST_F(PassTest, StartReadsLeadingZerosAsADecimalNumber)
{
    const Bytes s = countingBytes(40);
    start(s, "0010", 3);
    EXPECT_EQ(window.curoff(), "10");
    EXPECT_EQ(pass.state().CurOffset, Position(10));
    EXPECT_EQ(grid(), slice(s, 10, 16));
}

TEST_F(PassTest, StartAtOneCopiesNothing)
{
    const Bytes s = countingBytes(20);
    start(s, "1", 0);
    EXPECT_TRUE(readFile(target).empty());
    EXPECT_EQ(window.curoffTexts, std::vector<std::string>{"1"});
    EXPECT_EQ(grid(), slice(s, 1, 4));
}

TEST_F(PassTest, CaptureDecodesBitSevenAtTheTop)
{
    start({0, 255, 128, 1, 165, 0, 0}, "1", 3);
    const CharacterGrid& dots = pass.state().DotGrid;
    for (int bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(dots.dot(0, bit), 0) << bit;
        EXPECT_EQ(dots.dot(1, bit), 1) << bit;
        EXPECT_EQ(dots.dot(2, bit), bit == 7 ? 1 : 0) << bit;
        EXPECT_EQ(dots.dot(3, bit), bit == 0 ? 1 : 0) << bit;
        EXPECT_EQ(dots.dot(4, bit), (165 >> bit) & 1) << bit;
    }
    EXPECT_EQ(pass.state().XferByte, 0);
}

TEST_F(PassTest, WriteBackEncodesEveryDotPattern)
{
    start(Bytes(8, 0), "1", 0);
    edit(0, 255);
    edit(1, 128);
    edit(2, 1);
    edit(3, 0x5A);
    pass.nextCharacter();
    EXPECT_EQ(readFile(target), (Bytes{255, 128, 1, 0x5A}));
    EXPECT_EQ(pass.state().ComposedByte, 0x5A);
}

TEST_F(PassTest, ExistingLongerTargetKeepsItsTail)
{
    writeFile(target, Bytes(30, 0xAA));
    const Bytes s = countingBytes(16);
    start(s, "5", 0);
    Bytes expected(30, 0xAA);
    std::copy(s.begin(), s.begin() + 4, expected.begin());
    EXPECT_EQ(readFile(target), expected);

    pass.skipRest();
    std::copy(s.begin(), s.end(), expected.begin());
    EXPECT_EQ(readFile(target), expected);
}

TEST_F(PassTest, SecondPassWritesItsPrefixOverTheFirstPassEdits)
{
    const Bytes s = countingBytes(16);
    start(s, "1", 0);
    edit(0, 0xEE);
    pass.nextCharacter();
    pass.skipRest();
    ASSERT_EQ(readFile(target)[0], 0xEE);

    window.symtype = 3;
    pass.start();
    EXPECT_EQ(readFile(target)[0], 0xEE);  // offset 1: no prefix
    pass.skipRest();
    EXPECT_EQ(readFile(target), s);
    EXPECT_EQ(pass.state().CharWidth, 7);
}

TEST_F(PassTest, PreviousRightAfterStartShowsThePrefixCopy)
{
    const Bytes s = countingBytes(30);
    start(s, "12", 1);
    pass.previousCharacter();
    EXPECT_EQ(pass.state().CurOffset, Position(7));
    EXPECT_EQ(window.curoff(), "7");
    EXPECT_EQ(grid(), slice(s, 7, 11));
    EXPECT_EQ(readFile(target), slice(s, 1, 16));
}

TEST_F(PassTest, StepBackShowsTheSourceWherePreviousShowsTheTarget)
{
    const Bytes s = countingBytes(30);
    start(s, "5", 0);
    edit(3, 0xF0);
    pass.stepForward();
    pass.stepBack();
    EXPECT_EQ(grid(), slice(s, 5, 8));
    EXPECT_EQ(readFile(target)[7], s[7]);  // the step back wrote the source byte over the edit

    edit(0, 0x0F);
    pass.nextCharacter();
    pass.previousCharacter();
    EXPECT_EQ(grid()[0], 0x0F);
}

TEST_F(PassTest, WidthChangeWritesTheOldWidthAndCapturesTheNewFromTheSource)
{
    const Bytes s = countingBytes(30);
    start(s, "3", 3);
    edit(6, 0x77);
    edit(0, 0x11);
    window.symtype = 0;
    pass.changeWidth();
    Bytes expected = slice(s, 1, 9);
    expected[2] = 0x11;
    expected[8] = 0x77;
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(pass.state().CharWidth, 4);
    EXPECT_EQ(grid(), slice(s, 3, 6));
    EXPECT_EQ(window.curoff(), "3");

    window.symtype = 3;
    pass.changeWidth();
    EXPECT_EQ(grid(), slice(s, 3, 9));
    expected[2] = s[2];
    EXPECT_EQ(readFile(target), expected);
}

TEST_F(PassTest, MovesBelowPositionOneAreRefusedAfterTheWriteBack)
{
    const Bytes s = countingBytes(20);
    start(s, "3", 0);
    edit(0, 0x99);
    pass.previousCharacter();
    EXPECT_EQ(pass.state().CurOffset, Position(3));
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("position 1"), std::string::npos);
    EXPECT_EQ(readFile(target), (Bytes{1, 2, 0x99, 4, 5, 6}));
    EXPECT_EQ(grid()[0], 0x99);
    EXPECT_TRUE(pass.isOpen());

    pass.stepBack();
    pass.stepBack();
    EXPECT_EQ(pass.state().CurOffset, Position(1));
    pass.stepBack();
    EXPECT_EQ(pass.state().CurOffset, Position(1));
    EXPECT_EQ(window.problems.size(), 2U);
    EXPECT_EQ(window.curoff(), "1");
}

TEST_F(PassTest, MovesPastTheHighestPositionAreRefused)
{
    start(countingBytes(10), "2147483640", 1);
    EXPECT_EQ(std::filesystem::file_size(target), 2147483639U);
    pass.nextCharacter();
    EXPECT_EQ(pass.state().CurOffset, Position(2147483640));
    EXPECT_EQ(window.problems.size(), 1U);
    pass.stepForward();
    pass.stepForward();
    pass.stepForward();
    EXPECT_EQ(pass.state().CurOffset, Position(2147483643));
    pass.stepForward();
    EXPECT_EQ(pass.state().CurOffset, Position(2147483643));
    EXPECT_EQ(window.problems.size(), 2U);
    window.symtype = 3;
    pass.changeWidth();
    EXPECT_EQ(pass.state().CharWidth, 5);
    EXPECT_EQ(window.problems.size(), 3U);
    pass.skipRest();
    // Nothing was switched past the source's end: the target grew no further.
    EXPECT_EQ(std::filesystem::file_size(target), 2147483639U);
    EXPECT_EQ(window.completed, 1);
}

TEST_F(PassTest, WriteBackPastTheEndOfTheSourceWritesOnlySwitchedDots)
{
    const Bytes s = countingBytes(6);
    start(s, "5", 0);
    EXPECT_EQ(grid(), (Bytes{5, 6, 0, 0}));
    pass.nextCharacter();
    EXPECT_EQ(grid(), (Bytes{0, 0, 0, 0}));
    pass.nextCharacter();
    // Columns past the end left as captured make the target no longer.
    EXPECT_EQ(readFile(target), s);
    edit(1, 0x80);
    pass.stepBack();
    Bytes expected = s;
    expected.resize(14, 0);  // zeros in the gap up to the switched dot
    expected[13] = 0x80;
    EXPECT_EQ(readFile(target), expected);
    pass.skipRest();
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(window.completed, 1);
}

TEST_F(PassTest, SourceShorterThanTheOffsetGivesZerosInFront)
{
    start(countingBytes(3), "7", 0);
    EXPECT_EQ(readFile(target), (Bytes{1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(grid(), Bytes(4, 0));
}

TEST_F(PassTest, TailCopyFromTheLastByteCopiesExactlyIt)
{
    const Bytes s = countingBytes(12);
    writeFile(target, Bytes(14, 0xCC));
    start(s, "9", 0);
    pass.skipRest();
    Bytes expected = s;
    expected.resize(14, 0xCC);
    EXPECT_EQ(readFile(target), expected);

    start(s, "12", 0);
    pass.skipRest();
    EXPECT_EQ(readFile(target), expected);
}

TEST_F(PassTest, UnwrittenEditsDoNotReachTheTarget)
{
    const Bytes s = countingBytes(10);
    start(s, "2", 0);
    edit(0, 0);
    edit(3, 0);
    pass.skipRest();
    EXPECT_EQ(readFile(target), s);
    EXPECT_TRUE(pass.toggleDot(0, 0));  // the last character stays editable
    EXPECT_EQ(grid()[0], 1);
    EXPECT_EQ(readFile(target), s);
}

TEST_F(PassTest, DotsOutsideTheGridAreIgnored)
{
    EXPECT_FALSE(pass.toggleDot(0, 0));
    start(countingBytes(10), "1", 0);
    const int displays = window.displays;
    EXPECT_FALSE(pass.toggleDot(4, 0));
    EXPECT_FALSE(pass.toggleDot(0, 8));
    EXPECT_EQ(window.displays, displays);
    EXPECT_TRUE(pass.toggleDot(3, 7));
    EXPECT_EQ(window.displays, displays + 1);
    EXPECT_TRUE(pass.toggleDot(3, 7));
    EXPECT_EQ(grid(), countingBytes(4));
}

TEST_F(PassTest, ButtonsOutsideAPassChangeNothing)
{
    auto clickEverything = [&] {
        pass.nextCharacter();
        pass.previousCharacter();
        pass.stepForward();
        pass.stepBack();
        window.symtype = 2;
        pass.changeWidth();
        pass.skipRest();
    };
    clickEverything();
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(pass.state().CharWidth, 0);
    EXPECT_TRUE(window.problems.empty());
    EXPECT_EQ(window.completed, 0);

    const Bytes s = countingBytes(20);
    start(s, "5", 1);
    pass.skipRest();
    const WorkingState before = pass.state();
    clickEverything();
    EXPECT_EQ(readFile(target), s);
    EXPECT_EQ(pass.state().CurOffset, before.CurOffset);
    EXPECT_EQ(pass.state().CharWidth, before.CharWidth);
    EXPECT_EQ(window.completed, 1);
    EXPECT_TRUE(window.startEnabled);
}

struct RefusedStart {
    const char* name;
    std::string offset;
    bool sourceChosen;
    bool targetChosen;
    const char* expected;
};

void PrintTo(const RefusedStart& refused, std::ostream* out)
{
    *out << refused.name;
}

class RefusedStartTest : public PassTest, public ::testing::WithParamInterface<RefusedStart> {};

TEST_P(RefusedStartTest, OpensNothingAndLeavesStartEnabled)
{
    const RefusedStart& refused = GetParam();
    writeFile(source, countingBytes(10));
    if (!refused.sourceChosen)
        pass.setSourcePath("");
    if (!refused.targetChosen)
        pass.setTargetPath("");
    window.offset = refused.offset;
    pass.start();
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    EXPECT_FALSE(std::filesystem::exists(target));
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find(refused.expected), std::string::npos) << window.problems[0];
}

INSTANTIATE_TEST_SUITE_P(
    Input, RefusedStartTest,
    ::testing::Values(RefusedStart{"Empty", "", true, true, "empty"},
                      RefusedStart{"Blanks", "   ", true, true, "empty"},
                      RefusedStart{"Letters", "12a", true, true, "not a decimal"},
                      RefusedStart{"Negative", "-5", true, true, "not a decimal"},
                      RefusedStart{"Fraction", "1.5", true, true, "not a decimal"},
                      RefusedStart{"Zeros", "0000", true, true, "below 1"},
                      RefusedStart{"TooHigh", "2147483648", true, true, "highest position"},
                      RefusedStart{"Huge", "99999999999999999999999", true, true, "highest position"},
                      RefusedStart{"CharacterTooHigh", "2147483645", true, true, "would end beyond"},
                      RefusedStart{"NoSource", "1", false, true, "No source file"},
                      RefusedStart{"NoTarget", "1", true, false, "No target file"}),
    [](const auto& param) { return param.param.name; });

TEST_F(PassTest, FilesThatCannotBeOpenedAreNamedWithTheReason)
{
    window.offset = "1";
    pass.setSourcePath(folder.path("missing.rom"));
    pass.start();
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("source file \"" + folder.path("missing.rom") + "\""), std::string::npos);
#ifndef _WIN32
    EXPECT_NE(window.problems[0].find("No such file"), std::string::npos);
#endif

    writeFile(source, countingBytes(10));
    pass.setSourcePath(source);
    pass.setTargetPath(folder.path(""));
    pass.start();
    ASSERT_EQ(window.problems.size(), 2U);
    EXPECT_NE(window.problems[1].find("target file"), std::string::npos);
    EXPECT_NE(window.problems[1].find("directory"), std::string::npos);

    pass.setSourcePath(folder.path(""));
    pass.setTargetPath(target);
    pass.start();
    ASSERT_EQ(window.problems.size(), 3U);
    EXPECT_NE(window.problems[2].find("source file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(target));

    pass.setTargetPath(folder.path("no/such/folder/out.bin"));
    pass.setSourcePath(source);
    pass.start();
    EXPECT_EQ(window.problems.size(), 4U);
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
#ifndef _WIN32
    // A link to nothing: refused, with the name it points to.
    std::filesystem::create_symlink("gone/away.bin", folder.path("dangling.bin"));
    pass.setTargetPath(folder.path("dangling.bin"));
    pass.start();
    ASSERT_EQ(window.problems.size(), 5U);
    EXPECT_NE(window.problems[4].find("symbolic link to a file that does not exist (\"gone/away.bin\")"),
              std::string::npos)
        << window.problems[4];
    EXPECT_FALSE(std::filesystem::exists(folder.path("gone")));
#endif
}

TEST_F(PassTest, OneFileUnderTwoNamesSeesItsOwnWrites)
{
    const Bytes s = countingBytes(16);
    writeFile(source, s);
    std::filesystem::create_hard_link(source, target);
    start(s, "5", 0);
    edit(0, 0xAB);
    pass.stepForward();
    pass.stepBack();
    EXPECT_EQ(grid()[0], 0xAB);  // the "source" now holds the edit
    pass.skipRest();
    Bytes expected = s;
    expected[4] = 0xAB;
    EXPECT_EQ(readFile(source), expected);
}

TEST_F(PassTest, TailCopyReachesBeyondTwoGibibytes)
{
    const std::int64_t length = (std::int64_t{1} << 31) + 16;
    {
        writeFile(source, {});
        std::filesystem::resize_file(source, static_cast<std::uintmax_t>(length - 3));
        std::ofstream out(source, std::ios::binary | std::ios::app);
        out.write("\x01\x02\x03", 3);
    }
    window.offset = "2147483600";
    window.symtype = 0;
    pass.start();
    ASSERT_TRUE(pass.isOpen());
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
    ASSERT_EQ(std::filesystem::file_size(target), static_cast<std::uintmax_t>(length));
    std::ifstream in(target, std::ios::binary);
    in.seekg(length - 4);
    char tail[4] = {};
    in.read(tail, 4);
    EXPECT_EQ(std::string(tail, 4), std::string("\0\x01\x02\x03", 4));
}

TEST_F(PassTest, TargetThatLeavesItsPathEndsThePassWithoutCompleted)
{
    // Each way out returns false where the system refuses it, as Windows may
    // for a file open in the pass: then the target stays, and so does the pass.
    const std::string other = folder.path("other.bin");
    const auto replace = [&](const std::string& path) {
        writeFile(other, countingBytes(3));
        std::error_code refused;
        std::filesystem::rename(other, path, refused);
        return !refused;
    };
    const std::function<bool()> leaves[] = {[&] {
                                                std::error_code refused;
                                                return std::filesystem::remove(target, refused);
                                            },
                                            [&] { return replace(target); }, [&] { return replace(source); }};
    const std::function<void()> operations[] = {[&] { pass.nextCharacter(); }, [&] { pass.skipRest(); },
                                                [&] { pass.changeWidth(); }};
    for (const auto& leave : leaves) {
        // Wine keeps a deleted open file's name until it is closed, and says nothing of it.
        if (&leave == &leaves[0] && testing::underWine())
            continue;
        for (const auto& operation : operations) {
            window.problems.clear();
            start(countingBytes(20), "5", 1);
            const bool left = leave();
            window.symtype = 2;
            operation();
            EXPECT_EQ(pass.isOpen(), !left && &operation != &operations[1]);
            if (!left) {
                EXPECT_TRUE(window.problems.empty());
                pass.skipRest();
                continue;
            }
            EXPECT_TRUE(window.startEnabled);
            EXPECT_EQ(window.completed, 0);
            ASSERT_EQ(window.problems.size(), 1U);
            EXPECT_NE(window.problems[0].find("deleted or replaced"), std::string::npos) << window.problems[0];
        }
    }
}

TEST_F(PassTest, SkipAsksOnlyWhereItWouldReplaceChanges)
{
    const Bytes s = countingBytes(20);
    window.answer = false;
    start(s, "5", 0);
    edit(1, 0xEE);
    EXPECT_TRUE(pass.hasUnwrittenEdits());
    pass.skipRest();
    ASSERT_EQ(window.questions.size(), 1U);
    EXPECT_NE(window.questions[0].find("changed dots on display"), std::string::npos);
    EXPECT_TRUE(pass.isOpen());  // No changes nothing
    EXPECT_EQ(readFile(target), slice(s, 1, 4));

    edit(1, s[5]);  // back as captured: nothing to lose
    EXPECT_FALSE(pass.hasUnwrittenEdits());
    edit(2, 0xEE);
    pass.nextCharacter();
    pass.previousCharacter();  // the edit is written and shown again
    pass.stepBack();           // now in front of it, showing the source
    pass.skipRest();
    ASSERT_EQ(window.questions.size(), 2U);
    EXPECT_EQ(window.questions[1].find("dots"), std::string::npos) << window.questions[1];
    EXPECT_NE(window.questions[1].find("this pass wrote"), std::string::npos);

    window.answer = true;
    pass.skipRest();
    EXPECT_EQ(window.completed, 1) << (window.problems.empty() ? "" : window.problems.back());
    EXPECT_EQ(readFile(target), s);

    // Behind the source's end the target keeps what a write-back put there.
    window.questions.clear();
    start(s, "17", 0);
    pass.nextCharacter();
    edit(0, 0x01);
    pass.skipRest();
    EXPECT_EQ(window.questions.size(), 1U);
    start(s, "17", 0);
    pass.nextCharacter();
    pass.skipRest();
    EXPECT_EQ(window.questions.size(), 1U);
    EXPECT_EQ(window.completed, 3);
}

TEST_F(PassTest, AStartBehindTheSourceEndAsksFirst)
{
    writeFile(source, countingBytes(1000));
    window.offset = "300000000";
    window.answer = false;
    pass.start();
    ASSERT_EQ(window.questions.size(), 1U);
    EXPECT_NE(window.questions[0].find("has 1000 bytes: a start at position 300000000 writes 299998999 zero bytes"),
              std::string::npos)
        << window.questions[0];
    EXPECT_FALSE(pass.isOpen());
    EXPECT_TRUE(window.startEnabled);
    EXPECT_FALSE(std::filesystem::exists(target));  // nothing written, nothing made

    window.offset = "1001";  // right behind the end: no zeros in front
    pass.start();
    EXPECT_EQ(window.questions.size(), 1U);
    EXPECT_TRUE(pass.isOpen());
}

TEST_F(PassTest, AChecksumOfTheSourceIsBroughtUpToDateWhereTheUserAgrees)
{
    // An image of 4096 bytes ending in the CRC-32 of the rest, little-endian.
    Bytes image = countingBytes(4092);
    ChecksumState state;
    state.add(image);
    const Checksum crc{ChecksumKind::Crc32, false, 4092, 4093, 4};
    const Bytes field = checksumBytes(crc, state.value(ChecksumKind::Crc32));
    image.insert(image.end(), field.begin(), field.end());
    const auto crcOf = [](const Bytes& bytes) {
        ChecksumState written;
        written.add(std::span(bytes).first(4092));
        return written.value(ChecksumKind::Crc32);
    };

    for (const bool yes : {true, false}) {
        std::filesystem::remove(target);
        window.questions.clear();
        window.yesByDefaults.clear();
        window.answer = yes;
        start(image, "1001", 0);
        // The look runs alongside the pass: a user may go on meanwhile.
        while (pass.lookingForChecksum())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(pass.checksumLine(),
                  "The source ends with a CRC-32 (little-endian) of its bytes 1 to 4092 at 4093 to 4096.");
        edit(0, 0xFF);
        pass.nextCharacter();
        pass.skipRest();
        ASSERT_EQ(window.questions.size(), 1U);
        Bytes written = image;
        written[1000] = 0xFF;
        const std::uint32_t wanted = crcOf(written);
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", wanted);
        EXPECT_EQ(window.questions[0], "The source's CRC-32 at 4093 to 4096 no longer matches the target's bytes. "
                                       "Write the new value " + std::string(hex) + " there?");
        EXPECT_TRUE(window.yesByDefaults[0]);
        EXPECT_EQ(window.completed, yes ? 1 : 2);
        if (yes) {
            const Bytes fixed = checksumBytes(crc, wanted);
            std::copy(fixed.begin(), fixed.end(), written.end() - 4);
            EXPECT_EQ(window.completedNote, "");
        } else {
            EXPECT_EQ(window.completedNote,
                      "The target's CRC-32 at 4093 to 4096 was left as the pass wrote it: it does not match the "
                      "target's bytes.");
        }
        EXPECT_EQ(readFile(target), written);
    }

    // Edits of the field itself: the question says so, and No is the default.
    std::filesystem::remove(target);
    window.questions.clear();
    window.yesByDefaults.clear();
    window.answer = false;
    start(image, "4093", 0);
    edit(1, 0x00);
    pass.nextCharacter();
    pass.skipRest();
    ASSERT_EQ(window.questions.size(), 1U);
    EXPECT_NE(window.questions[0].find("This pass changed those bytes itself"), std::string::npos);
    EXPECT_FALSE(window.yesByDefaults[0]);

    // An unchanged image asks nothing, and never waits for the look.
    for (const char* at : {"1", "2000"}) {
        std::filesystem::remove(target);
        window.questions.clear();
        window.waits.clear();
        start(image, at, 0);
        pass.nextCharacter();
        pass.skipRest();
        EXPECT_TRUE(window.questions.empty());
        EXPECT_EQ(std::count(window.waits.begin(), window.waits.end(), BackgroundTask::Kind::SourceCheck), 0);
        EXPECT_EQ(readFile(target), image);
    }
    // An edit waits for it where it still runs, and asks.
    std::filesystem::remove(target);
    window.questions.clear();
    window.answer = true;
    const int completed = window.completed;
    start(image, "1", 0);
    edit(0, 0x55);
    pass.skipRest();
    EXPECT_EQ(window.questions.size(), 1U);
    EXPECT_EQ(window.completed, completed + 1);
}

TEST_F(PassTest, AnImportWritesWhatDiffersOnceAskedAndFinishingKeepsIt)
{
    const Bytes s = countingBytes(60);
    start(s, "11", 0);  // width 4: glyphs at 11, 15, 19, ...
    // Three glyphs from 15 on, the last two changed.
    Bytes sheet = slice(s, 15, 26);
    sheet[4] = 0xA5;
    sheet[11] = 0x5A;

    // Nothing to do, and no room: said, nothing written.
    pass.importGlyphs(Position(15), slice(s, 15, 26));
    ASSERT_EQ(window.problems.size(), 1U);
    EXPECT_NE(window.problems[0].find("are what the target holds already"), std::string::npos);
    pass.importGlyphs(Position(2147483645), sheet);
    ASSERT_EQ(window.problems.size(), 2U);
    EXPECT_NE(window.problems[1].find("would end beyond position"), std::string::npos);

    // No, the default, writes nothing; Yes writes the differing glyphs, gap copied.
    window.answer = false;
    pass.importGlyphs(Position(15), sheet);
    ASSERT_EQ(window.questions.size(), 1U);
    EXPECT_EQ(window.questions[0], "2 of the sheet's 3 glyphs differ from what the target holds, at positions 19 to "
                                   "26. Write them to the target?");
    EXPECT_FALSE(window.yesByDefaults[0]);
    EXPECT_EQ(readFile(target), slice(s, 1, 10));
    window.answer = true;
    pass.importGlyphs(Position(15), sheet);
    Bytes expected = slice(s, 1, 26);
    expected[18] = 0xA5;
    expected[25] = 0x5A;
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(pass.state().CurOffset, Position(11));
    EXPECT_EQ(pass.record().writtenBackCount(), 12);  // the character on display and the two glyphs

    // One glyph says so; dots on display it would replace are named.
    edit(0, 0xFF);
    Bytes one = slice(s, 11, 14);
    one[1] = 0x00;
    window.answer = false;
    pass.importGlyphs(Position(11), one);
    ASSERT_EQ(window.questions.size(), 3U);
    EXPECT_EQ(window.questions[2].rfind("1 of the sheet's 1 glyphs differs", 0), 0U) << window.questions[2];
    EXPECT_NE(window.questions[2].find("replaces the changed dots on display"), std::string::npos);
    EXPECT_EQ(grid()[0], 0xFF);  // kept

    // "Skip the rest" keeps what the import brought and asks only of the dots.
    window.answer = true;
    pass.skipRest();
    ASSERT_EQ(window.questions.size(), 4U);
    EXPECT_EQ(window.questions[3].find("changes this pass wrote"), std::string::npos) << window.questions[3];
    expected = s;
    expected[18] = 0xA5;
    expected[25] = 0x5A;
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(window.completed, 1);
}

// A pass in a format of any size moves a pitch, writes back exactly a
// glyph's bytes and nothing between glyphs, and ends byte-exact.
TEST_F(PassTest, PassesInFormatsOfAnySizeWriteExactlyTheirGlyphs)
{
    using Lines = GlyphFormat::Lines;
    struct Case {
        GlyphFormat format;
        std::int64_t first;
        int x;
        int y;
    };
    GlyphFormat rows;
    rows.lines = Lines::Rows;
    rows.width = 8;
    rows.height = 16;
    GlyphFormat paged;
    paged.width = 12;
    paged.height = 16;
    paged.pages = GlyphFormat::Pages::PageByPage;
    paged.order = {true, true};
    GlyphFormat apart;
    apart.width = 5;
    apart.height = 7;
    apart.pitch = 8;
    GlyphFormat wide;
    wide.lines = Lines::Rows;
    wide.width = 12;
    wide.height = 12;
    wide.pitch = 30;
    const Case cases[] = {{rows, 1025, 2, 5}, {paged, 101, 11, 15}, {apart, 201, 0, 0}, {wide, 301, 11, 11}};
    for (const Case& kind : cases) {
        SCOPED_TRACE(kind.format.words());
        std::filesystem::remove(target);
        const Bytes image = countingBytes(4096, 3);
        window.format = kind.format;
        start(image, std::to_string(kind.first), 0);
        EXPECT_EQ(pass.characterBytes(), kind.format.glyphBytes());
        EXPECT_EQ(grid(), slice(image, kind.first, kind.first + kind.format.glyphBytes() - 1));
        pass.nextCharacter();
        const std::int64_t second = kind.first + kind.format.step();
        EXPECT_EQ(pass.state().CurOffset, Position(second));
        // One dot of the second glyph: the byte and bit its format says.
        const GlyphFormat::Bit bit = kind.format.bitAt(kind.x, kind.y);
        ASSERT_TRUE(pass.toggleDot(bit.byte, bit.bit));
        pass.nextCharacter();
        pass.previousCharacter();
        EXPECT_EQ(pass.state().CurOffset, Position(second));
        EXPECT_EQ(pass.hasUnwrittenEdits(), false);  // the dot was written and is shown again
        EXPECT_EQ(pass.state().DotGrid.dot(bit.byte, bit.bit), 1 - ((image[static_cast<std::size_t>(second - 1 + bit.byte)] >> bit.bit) & 1));
        pass.nextCharacter();  // past it: the rest is copied from the next glyph on
        // The counting image happens to sum to zero: its last byte stays.
        window.answerFor = [](Asking asking) { return asking != Asking::Checksum; };
        pass.skipRest();
        EXPECT_EQ(window.completed, 1 + static_cast<int>(&kind - cases))
            << (window.problems.empty() ? std::string() : window.problems.back());
        Bytes expected = image;
        expected[static_cast<std::size_t>(second - 1 + bit.byte)] ^= static_cast<std::uint8_t>(1 << bit.bit);
        const Bytes written = readFile(target);
        EXPECT_EQ(written, expected);
        for (std::size_t i = 0; i < std::min(written.size(), expected.size()); ++i) {
            if (written[i] != expected[i]) {
                ADD_FAILURE() << "first difference at position " << i + 1 << ": " << int(written[i]) << " for "
                              << int(expected[i]) << "; size " << written.size() << " for " << expected.size();
                break;
            }
        }
    }
}

TEST_F(PassTest, CloseQuestionSaysWhatIsLeftUndone)
{
    start(countingBytes(20), "9", 0);
    const std::string plain = pass.closeQuestion();
    EXPECT_NE(plain.find("in front of position 9"), std::string::npos) << plain;
    EXPECT_NE(plain.find(target), std::string::npos) << plain;
    EXPECT_EQ(plain.find("dots"), std::string::npos) << plain;
    edit(3, 0);
    EXPECT_NE(pass.closeQuestion().find("changed dots on display are not written"), std::string::npos);

    // The next pass's copies and sync say what is true of them, and nothing
    // of the dots the ended pass gave up.
    pass.skipRest();
    ASSERT_EQ(window.completed, 1);
    std::vector<std::string> asked;
    window.beforeTask = [&](BackgroundTask::Kind) { asked.push_back(pass.closeQuestion()); };
    pass.start();
    pass.skipRest();
    ASSERT_EQ(asked.size(), 4U);
    for (const std::string& question : asked)
        EXPECT_EQ(question.find("dots"), std::string::npos) << question;
    EXPECT_NE(asked[0].find("in front of position 1."), std::string::npos) << asked[0];
    EXPECT_NE(asked[2].find("is now being written to the disk"), std::string::npos) << asked[2];
}

} // namespace
} // namespace dotmatrix
