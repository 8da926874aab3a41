#include "conversionpass.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "offsettext.h"

namespace dotmatrix {

namespace {

constexpr int kSymtypeCount = 4;
// The verify step's reading, per file and piece.
constexpr std::int64_t kVerifyBlock = std::int64_t{1} << 20;
constexpr std::int16_t kNarrowestWidth = 4;

std::optional<std::int16_t> selectedWidth(const WindowPort& window)
{
    const int width = ConversionPass::widthOfOption(window.selectedSymtype());
    if (width == 0)
        return std::nullopt;
    return static_cast<std::int16_t>(width);
}

bool endsInRange(Position first, std::int16_t width)
{
    return characterFits(std::max(first, kFirstPosition), width);
}

std::string beyondLastMessage(Position first, std::int16_t width)
{
    return "A character of " + std::to_string(width) + " bytes at position " + decimalText(first)
           + " would end beyond position " + decimalText(kLastCharacterPosition)
           + ", the highest this tool can address.";
}

// What to do about a file that could not be opened, said once.
std::string adviceAfterRefusal(const std::error_code& reason)
{
    if (reason == UnusableFile::Locked || reason == UnusableFile::DiskInUse)
        return "\n\nClose that program, or choose another file, and start again.";
    if (reason == UnusableFile::MountedDisk)
        return "\n\nUnmount it, or choose another file, and start again.";
    if (reason == UnusableFile::RawDisk)
        return {};  // the reason says what to choose instead
    return "\n\nChoose another file and start again.";
}

} // namespace

ConversionPass::ConversionPass(WindowPort& window) : window_(window), files_(std::make_unique<FileService>()) {}

ConversionPass::~ConversionPass()
{
    dropLook();
}

int ConversionPass::widthOfOption(int index)
{
    return index >= 0 && index < kSymtypeCount ? kNarrowestWidth + index : 0;
}

bool ConversionPass::mayJumpTo(Position position) const
{
    return isOpen() && characterFits(position, state_.CharWidth);
}

bool ConversionPass::setSourcePath(std::string path)
{
    // The files of an open pass stay those it opened.
    if (isOpen())
        return false;
    state_.SourcePath = std::move(path);
    return true;
}

bool ConversionPass::setTargetPath(std::string path)
{
    if (isOpen())
        return false;
    state_.TargetPath = std::move(path);
    return true;
}

void ConversionPass::start()
{
    if (isOpen() || isBusy())
        return;
    const StartingOffset offset = readStartingOffset(window_.offsetText());
    if (!offset.position) {
        window_.showProblem(offset.problem);
        return;
    }
    const Position first = *offset.position;
    const std::optional<std::int16_t> width = selectedWidth(window_);
    if (!width) {
        window_.showProblem("No character size is selected. Select one of 4x7 to 7x7 and start again.");
        return;
    }
    if (!endsInRange(first, *width)) {
        window_.showProblem(beyondLastMessage(first, *width) + " Type a smaller starting offset.");
        return;
    }
    if (state_.SourcePath.empty()) {
        window_.showProblem("No source file is chosen. Choose one with \"Source file...\" and start again.");
        return;
    }
    if (state_.TargetPath.empty()) {
        window_.showProblem("No target file is chosen. Choose one with \"Target file...\" and start again.");
        return;
    }

    window_.setStartButtEnabled(false);
    try {
        files_->open(state_.SourcePath, state_.TargetPath);
    } catch (const FileError& error) {
        window_.setStartButtEnabled(true);
        window_.showProblem(std::string(error.what()) + adviceAfterRefusal(error.code()));
        return;
    }
    record_.clear();
    characterOfThisPass_ = false;
    // A typing slip far behind the source's end would pad the target with zeros.
    std::int64_t length = 0;
    try {
        length = files_->length(PassFile::SourceFile);
        const std::int64_t zeros = first.number() - 1 - length;
        if (zeros > 0
            && !window_.confirm(Asking::StartPastTheEnd, "The source file \"" + state_.SourcePath + "\" has " + std::to_string(length)
                                + " bytes: a start at position " + decimalText(first) + " writes "
                                + std::to_string(zeros) + " zero bytes to the target in front of the character."
                                + "\n\nStart there anyway?")) {
            files_->abandon();
            window_.setStartButtEnabled(true);
            return;
        }
    } catch (const FileError& error) {
        endAfter(error);
        return;
    }
    if (first > kFirstPosition) {
        std::optional<Position> stoppedAt;
        try {
            stoppedAt = runCopy(BackgroundTask::Kind::PrefixCopy, kFirstPosition, first - 1, length);
        } catch (const FileError& error) {
            endAfter(error);
            return;
        }
        if (stoppedAt) {
            files_->closeAll();
            window_.setStartButtEnabled(true);
            window_.showStopped("The copy was cancelled. The target file \"" + state_.TargetPath
                                + "\" holds the source's bytes only up to position " + decimalText(*stoppedAt)
                                + "; nothing was written at the starting offset " + decimalText(first)
                                + ".\n\nNo pass is open. Start again to copy the whole prefix.");
            return;
        }
    }
    try {
        startLook();
    } catch (const FileError& error) {
        endAfter(error);
        return;
    }
    run([&]() -> std::optional<std::string> {
        state_.CharWidth = *width;
        state_.DotGrid.resize(state_.CharWidth);
        state_.CurOffset = first;
        veskinput();
        return std::nullopt;
    });
}

void ConversionPass::nextCharacter()
{
    move(state_.CharWidth, PassFile::SourceFile);
}

void ConversionPass::previousCharacter()
{
    move(-state_.CharWidth, PassFile::TargetFile);
}

void ConversionPass::stepForward()
{
    move(1, PassFile::SourceFile);
}

void ConversionPass::stepBack()
{
    move(-1, PassFile::SourceFile);
}

void ConversionPass::move(std::int64_t distance, PassFile captureFrom)
{
    if (!isOpen() || isBusy())
        return;
    run([&]() -> std::optional<std::string> {
        checkTargetHolds(record_.extent().number());
        veskoutput();
        const Position next = state_.CurOffset + distance;
        if (next < kFirstPosition)
            return "There is no character before position 1, the first byte of the file. The character on display "
                   "has been written to the target and stays on display.";
        if (!endsInRange(next, state_.CharWidth))
            return beyondLastMessage(next, state_.CharWidth)
                   + " The character on display has been written to the target and stays on display.";
        state_.CurOffset = next;
        capture(captureFrom);
        return std::nullopt;
    });
}

void ConversionPass::changeWidth()
{
    if (!isOpen() || isBusy())
        return;
    run([&]() -> std::optional<std::string> {
        checkTargetHolds(record_.extent().number());
        veskoutput();
        const std::int16_t width = selectedWidth(window_).value_or(state_.CharWidth);
        if (!endsInRange(state_.CurOffset, width))
            return beyondLastMessage(state_.CurOffset, width) + " The size stays at "
                   + std::to_string(state_.CharWidth) + " bytes.";
        state_.CharWidth = width;
        state_.DotGrid.resize(state_.CharWidth);
        veskinput();
        return std::nullopt;
    });
}

bool ConversionPass::jumpTo(Position position)
{
    if (isBusy() || !mayJumpTo(position))
        return false;
    run([&]() -> std::optional<std::string> {
        checkTargetHolds(record_.extent().number());
        veskoutput();
        if (auto refusal = fillGapBefore(position))
            return refusal->empty() ? std::nullopt : refusal;
        state_.CurOffset = position;
        captureAsWritten();
        return std::nullopt;
    });
    return true;
}

void ConversionPass::skipRest()
{
    if (!isOpen() || isBusy())
        return;
    try {
        // What other programs changed since the last click counts.
        files_->forgetReads();
        if (const auto question = tailCopyQuestion(files_->length(PassFile::SourceFile))) {
            if (!window_.confirm(Asking::TailCopy, *question))
                return;
        }
        // The source may have grown or shrunk while the question was open.
        const std::int64_t length = files_->length(PassFile::SourceFile);
        checkTargetHolds(record_.extent().number());
        // What an import brought stays: the tail copy goes around it.
        for (const WriteRecord::Range& stretch :
             record_.copiedByTheTail(state_.CurOffset, Position(std::max<std::int64_t>(length, 0)))) {
            if (const auto stoppedAt = runCopy(BackgroundTask::Kind::TailCopy, stretch.first, stretch.last, length)) {
                window_.showStopped("The copy was cancelled. The target file holds the source's bytes from position "
                                    + decimalText(state_.CurOffset) + " only up to position "
                                    + decimalText(*stoppedAt) + ".\n\nThe pass stays open at position "
                                    + decimalText(state_.CurOffset)
                                    + ": \"Skip the rest\" copies the rest again from there.");
                return;
            }
        }
        BackgroundTask sync(BackgroundTask::Kind::Sync, state_.CurOffset, state_.CurOffset, [this](BackgroundTask&) {
            lent_->sync();
            return true;
        });
        runInBackground(sync);
        files_->checkPaths();
        // Other programs may have shortened the target or changed the source meanwhile.
        checkTargetHolds(std::max(length, record_.extent().number()));
        if (!files_->oneFile())
            checkSourceSteady(length, length, files_->length(PassFile::SourceFile), state_.CurOffset,
                              Position(length), true);
        const std::string note = settleChecksum();
        if (!verifyTarget()) {
            window_.showStopped("The check of the target was cancelled. The target file holds the whole pass, but it "
                                "was not read back.\n\nThe pass stays open at position "
                                + decimalText(state_.CurOffset) + ": \"Skip the rest\" copies and checks again.");
            return;
        }
        // Some file systems report a failed write only when the file is closed.
        files_->close();
        window_.setStartButtEnabled(true);
        window_.showCompleted(note);
    } catch (const FileError& error) {
        endAfter(error);
    }
}

void ConversionPass::startLook()
{
    dropLook();
    sourceChecksum_.reset();
    lookFound_.reset();
    checksumLine_.clear();
    const std::int64_t length = files_->length(PassFile::SourceFile);
    if (length > kLargestCheckedImage) {
        checksumLine_ = "The source is too large to check for a checksum of its own bytes (more than 256 MiB).";
        return;
    }
    if (length < kSmallestCheckedImage)
        return;
    if (files_->oneFile()) {
        // The file changes with every write-back: it is looked at before any.
        BackgroundTask task(BackgroundTask::Kind::SourceCheck, kFirstPosition, Position(length),
                            [this, length](BackgroundTask& self) {
                                lookFound_ = findChecksum(length, checksumReader(PassFile::SourceFile, self));
                                return !self.stopRequested();
                            });
        if (!runInBackground(task))
            checksumLine_ = "The source was not checked for a checksum: the check was cancelled.";
        else if (lookFound_)
            checksumLine_ = describeChecksum(*lookFound_) + ".";
        sourceChecksum_ = std::exchange(lookFound_, std::nullopt);
        return;
    }
    // A handle of its own: the pass's files stay the pass's.
    look_ = std::make_unique<BackgroundTask>(
        BackgroundTask::Kind::SourceCheck, kFirstPosition, Position(length),
        [this, length, path = state_.SourcePath](BackgroundTask& self) {
            std::error_code error;
            PlatformFile source = PlatformFile::open(path, PlatformFile::Access::ReadOnly, error);
            if (error)
                throw FileError(PassFile::SourceFile, path, "read", error.message(), error);
            lookFound_ = findChecksum(length, [&](std::int64_t offset, std::span<std::uint8_t> into) {
                std::size_t got = 0;
                while (got < into.size()) {
                    const std::size_t now = source.readAt(offset + static_cast<std::int64_t>(got), into.subspan(got), error);
                    if (error)
                        throw FileError(PassFile::SourceFile, path, "read", error.message(), error);
                    if (now == 0)
                        break;
                    got += now;
                }
                std::fill(into.begin() + static_cast<std::ptrdiff_t>(got), into.end(), std::uint8_t{0});
                return self.report(Position(offset + static_cast<std::int64_t>(into.size())));
            });
            return !self.stopRequested();
        });
    look_->start();
}

bool ConversionPass::collectLook() const
{
    if (!look_)
        return true;
    if (!look_->waitFinished(std::chrono::milliseconds(0)))
        return false;
    bool whole = false;
    try {
        whole = look_->join();
    } catch (const std::exception& error) {
        checksumLine_ = std::string("The source was not checked for a checksum: ") + error.what();
    }
    look_.reset();
    if (whole && lookFound_)
        checksumLine_ = describeChecksum(*lookFound_) + ".";
    sourceChecksum_ = whole ? std::exchange(lookFound_, std::nullopt) : std::nullopt;
    return true;
}

const std::optional<Checksum>& ConversionPass::sourceChecksum() const
{
    collectLook();
    return sourceChecksum_;
}

const std::string& ConversionPass::checksumLine() const
{
    collectLook();
    return checksumLine_;
}

bool ConversionPass::awaitLook()
{
    if (collectLook())
        return true;
    BackgroundTask& look = *look_;
    BackgroundTask wait(BackgroundTask::Kind::SourceCheck, look.first(), look.last(), [&look](BackgroundTask& self) {
        while (!look.waitFinished(std::chrono::milliseconds(20))) {
            if (!self.report(look.done())) {
                look.requestStop();
                return false;
            }
        }
        return true;
    });
    const bool whole = runInBackground(wait);
    collectLook();
    return whole;
}

void ConversionPass::dropLook()
{
    if (!look_)
        return;
    look_->requestStop();
    try {
        look_->join();
    } catch (...) {
        // Nothing it found is wanted.
    }
    look_.reset();
    lookFound_.reset();
}

bool ConversionPass::targetDiffersFromSource()
{
    for (const WriteRecord::Range& range : record_.writtenBackWithin(kFirstPosition, record_.extent())) {
        const auto count = static_cast<std::size_t>(range.last.number() - range.first.number() + 1);
        std::vector<std::uint8_t> written(count);
        std::vector<std::uint8_t> source(count);
        files_->readFresh(PassFile::TargetFile, range.first, written);
        files_->readFresh(PassFile::SourceFile, range.first, source);
        if (written != source)
            return true;
    }
    return false;
}

ChecksumReader ConversionPass::checksumReader(PassFile file, BackgroundTask& task)
{
    // Runs on the task's thread, with the files lent to it.
    return [this, file, &task](std::int64_t offset, std::span<std::uint8_t> into) {
        lent_->readFresh(file, Position(offset + 1), into);
        return task.report(Position(offset + static_cast<std::int64_t>(into.size())));
    };
}

std::optional<ChecksumCheck> ConversionPass::checkTarget()
{
    const Checksum& checksum = *sourceChecksum_;
    std::optional<ChecksumCheck> check;
    BackgroundTask task(BackgroundTask::Kind::TargetCheck, kFirstPosition, Position(checksum.dataEnd),
                        [this, &checksum, &check](BackgroundTask& self) {
                            check = checkChecksum(checksum, checksumReader(PassFile::TargetFile, self));
                            return check.has_value();
                        });
    if (!runInBackground(task))
        return std::nullopt;
    return check;
}

std::string ConversionPass::settleChecksum()
{
    // A target that holds the source's bytes carries its checksum as it is.
    if (!targetDiffersFromSource()) {
        dropLook();
        return {};
    }
    if (!awaitLook())
        return "The source was not looked at for a checksum of its own bytes: the look was cancelled.";
    if (!sourceChecksum_)
        return {};
    const Checksum& checksum = *sourceChecksum_;
    const bool zeroSum = checksum.kind == ChecksumKind::ZeroSum8;
    const std::string place = std::to_string(checksum.field) + " to "
                              + std::to_string(checksum.field + checksum.size - 1);
    const std::string what = zeroSum ? "last byte, which makes the bytes sum to zero,"
                                     : checksumName(checksum.kind) + " at " + place;
    const auto check = checkTarget();
    if (!check)
        return "The target's " + what + " was not checked: the check was cancelled.";
    if (check->matches())
        return {};
    const auto hex = [&checksum](std::uint32_t value) { return hexText(value, 2 * checksum.size); };
    const Position field(checksum.field);
    const Position fieldEnd = field + (checksum.size - 1);
    const bool touched = !record_.writtenBackWithin(field, fieldEnd).empty();
    std::string question =
        zeroSum ? "The target's bytes no longer sum to zero modulo 256, as the source's do. Change the last byte from "
                      + hex(check->held) + " to " + hex(check->wanted) + " so that the bytes sum to zero?"
                : "The source's " + checksumName(checksum.kind) + " at " + place
                      + " no longer matches the target's bytes. Write the new value " + hex(check->wanted)
                      + " there?";
    if (touched)
        question += "\n\nThis pass changed those bytes itself: they may be meant as they are.";
    if (!checksum.confirmed())
        question += "\n\nThe source may carry no checksum at all: " + chanceText(checksum.odds)
                    + " match it by chance.";
    if (!window_.confirm(Asking::Checksum, question, !touched && checksum.confirmed()))
        return "The target's " + what + " was left as the pass wrote it: it does not match the target's bytes.";
    const std::vector<std::uint8_t> bytes = checksumBytes(checksum, check->wanted);
    for (int i = 0; i < checksum.size; ++i)
        files_->writeByte(field + i, bytes[static_cast<std::size_t>(i)]);
    record_.wroteBack(field, bytes);
    files_->flush();
    BackgroundTask sync(BackgroundTask::Kind::Sync, field, fieldEnd, [this](BackgroundTask&) {
        lent_->sync();
        return true;
    });
    runInBackground(sync);
    const auto again = checkTarget();
    if (!again)
        return "The new value was written to the target's " + what
               + ", but the target was not checked again: the check was cancelled.";
    if (!again->matches())
        throw FileError(PassFile::TargetFile, state_.TargetPath, "bring up to date the checksum of",
                        "its " + what + " still does not match its bytes after the new value was written");
    return {};
}

void ConversionPass::checkTargetHolds(std::int64_t written)
{
    const std::int64_t length = files_->lengthNow(PassFile::TargetFile);
    if (length < written)
        throw targetShortened(state_.TargetPath, length, written);
}

void ConversionPass::checkSourceSteady(std::int64_t known, std::int64_t before, std::int64_t after, Position first,
                                       Position last, bool toEnd) const
{
    // A change behind the copy's last position reaches it only where it
    // copies to the source's end.
    const auto reaches = [&](std::int64_t from, std::int64_t to) {
        return from != to && (toEnd || std::min(from, to) < last.number());
    };
    std::string reason;
    if (reaches(known, before)) {
        reason = "its length changed from " + std::to_string(known) + " to " + std::to_string(before)
                 + " bytes just before positions " + decimalText(first) + " to " + decimalText(last)
                 + " were copied, so the target's bytes from position "
                 + std::to_string(std::min(known, before) + 1) + " on may not be the source's";
    } else if (reaches(before, after)) {
        reason = after > before ? "it grew from " + std::to_string(before) + " to " + std::to_string(after)
                                      + " bytes while it was copied, so the target holds its bytes only up to position "
                                      + std::to_string(before)
                                : "it shrank from " + std::to_string(before) + " to " + std::to_string(after)
                                      + " bytes while it was copied, so the target's bytes from position "
                                      + std::to_string(after + 1) + " to "
                                      + std::to_string(std::min(before, last.number())) + " are not the source's";
    }
    if (!reason.empty())
        throw FileError(PassFile::SourceFile, state_.SourcePath, "copy all of", reason);
}

std::optional<std::string> ConversionPass::tailCopyQuestion(std::int64_t sourceLength)
{
    const bool dotsLost = hasUnwrittenEdits();
    // Only what was written back can differ from the source: the rest was copied from it.
    bool writesLost = false;
    if (sourceLength >= state_.CurOffset.number()) {
        std::vector<WriteRecord::Range> replaced;
        for (const WriteRecord::Range& stretch : record_.copiedByTheTail(state_.CurOffset, Position(sourceLength))) {
            const auto within = record_.writtenBackWithin(stretch.first, stretch.last);
            replaced.insert(replaced.end(), within.begin(), within.end());
        }
        for (const WriteRecord::Range& range : replaced) {
            const auto count = static_cast<std::size_t>(range.last.number() - range.first.number() + 1);
            std::vector<std::uint8_t> written(count);
            std::vector<std::uint8_t> source(count);
            files_->readFresh(PassFile::TargetFile, range.first, written);
            files_->readFresh(PassFile::SourceFile, range.first, source);
            if (written != source) {
                writesLost = true;
                break;
            }
        }
    }
    if (!dotsLost && !writesLost)
        return std::nullopt;
    std::string lost;
    if (dotsLost)
        lost = "the changed dots on display";
    if (dotsLost && writesLost)
        lost += " and ";
    if (writesLost)
        lost += "changes this pass wrote from that position on";
    std::string question = "\"Skip the rest\" copies the source unchanged from position "
                           + decimalText(state_.CurOffset) + " to its end. That replaces " + lost + ".";
    if (dotsLost)
        question += " To keep the changed dots, answer No and move on first: every move writes the character on "
                    "display to the target.";
    return question + "\n\nCopy the rest anyway?";
}

bool ConversionPass::hasUnwrittenEdits() const
{
    if (!characterOfThisPass_)
        return false;
    for (int column = 0; column < state_.DotGrid.columns(); ++column) {
        if (state_.DotGrid.columnByte(column) != savedColumns_[static_cast<std::size_t>(column)])
            return true;
    }
    return false;
}

std::string ConversionPass::closeQuestion() const
{
    if (running_ != nullptr && running_->kind() == BackgroundTask::Kind::Sync)
        return "The rest of the source has been copied to the target file \"" + state_.TargetPath
               + "\", which is now being written to the disk. Closing waits until the disk holds every byte, "
                 "then closes the window.\n\nClose when that is done?";
    // During a copy the target is complete up to the position it has reached.
    const Position complete = running_ != nullptr ? running_->done() + 1 : record_.extent() + 1;
    std::string question = "A pass is open. Closing now copies nothing more: the target file \"" + state_.TargetPath
                           + "\" is complete only in front of position " + decimalText(complete) + ".";
    if (hasUnwrittenEdits())
        question += " The changed dots on display are not written.";
    return question + "\n\nClose anyway?";
}

bool ConversionPass::toggleDot(int column, int bit)
{
    CharacterGrid& grid = state_.DotGrid;
    if (isBusy() || !grid.hasCell(column, bit))
        return false;
    grid.setDot(column, bit, grid.dot(column, bit) == 0 ? 1 : 0);
    window_.veskdisplay();
    return true;
}

bool ConversionPass::setDisplayedColumns(std::span<const std::uint8_t> columns)
{
    CharacterGrid& grid = state_.DotGrid;
    if (!isOpen() || isBusy() || columns.size() != static_cast<std::size_t>(grid.columns()))
        return false;
    for (int column = 0; column < grid.columns(); ++column)
        grid.setColumnByte(column, columns[static_cast<std::size_t>(column)]);
    window_.veskdisplay();
    return true;
}

std::vector<std::uint8_t> ConversionPass::displayedColumns() const
{
    std::vector<std::uint8_t> columns;
    for (int column = 0; column < state_.DotGrid.columns(); ++column)
        columns.push_back(state_.DotGrid.columnByte(column));
    return columns;
}

void ConversionPass::veskinput()
{
    capture(PassFile::SourceFile);
}

void ConversionPass::veskinput2()
{
    capture(PassFile::TargetFile);
}

void ConversionPass::capture(PassFile from)
{
    // As the file holds the character now: another program may have written it.
    std::array<std::uint8_t, CharacterGrid::kMaxColumns> bytes{};
    files_->readFresh(from, state_.CurOffset, std::span(bytes).first(static_cast<std::size_t>(state_.CharWidth)));
    captureBytes(bytes);
}

void ConversionPass::captureAsWritten()
{
    std::array<std::uint8_t, CharacterGrid::kMaxColumns> bytes{};
    readAsWritten(state_.CurOffset, std::span(bytes).first(static_cast<std::size_t>(state_.CharWidth)));
    captureBytes(bytes);
}

void ConversionPass::readAsWritten(Position first, std::span<std::uint8_t> into)
{
    std::vector<std::uint8_t> source(into.size());
    files_->readFresh(PassFile::TargetFile, first, into);
    files_->readFresh(PassFile::SourceFile, first, source);
    for (std::size_t i = 0; i < into.size(); ++i) {
        if (!record_.written(first + static_cast<std::int64_t>(i)))
            into[i] = source[i];
    }
}

std::vector<Position> ConversionPass::differingGlyphs(Position first, std::span<const std::uint8_t> bytes)
{
    std::vector<Position> differing;
    const auto width = static_cast<std::size_t>(state_.CharWidth);
    std::vector<std::uint8_t> now(bytes.size());
    readAsWritten(first, now);
    // The dots on display reach the target before anything else is written.
    for (int column = 0; column < state_.CharWidth; ++column) {
        const std::int64_t at = (state_.CurOffset + column).number() - first.number();
        if (at >= 0 && at < static_cast<std::int64_t>(now.size()))
            now[static_cast<std::size_t>(at)] = state_.DotGrid.columnByte(column);
    }
    for (std::size_t at = 0; at + width <= bytes.size(); at += width) {
        if (!std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + width),
                        now.begin() + static_cast<std::ptrdiff_t>(at)))
            differing.push_back(first + static_cast<std::int64_t>(at));
    }
    return differing;
}

std::optional<std::string> ConversionPass::fillGapBefore(Position position)
{
    if (position <= record_.extent() + 1)
        return std::nullopt;
    // What "Next >" without edits would have written on the way.
    const Position from = record_.extent() + 1;
    const std::int64_t length = files_->length(PassFile::SourceFile);
    if (position - 1 > Position(length))
        return "The source file \"" + state_.SourcePath + "\" is now " + std::to_string(length)
               + " bytes long: the glyph at position " + decimalText(position)
               + " lies behind its end. The character on display has been written to the target and stays on "
                 "display.";
    if (const std::optional<Position> stoppedAt = runCopy(BackgroundTask::Kind::GapCopy, from, position - 1, length)) {
        window_.showStopped("The copy was cancelled. The target file holds the source's bytes from position "
                            + decimalText(from) + " only up to position " + decimalText(*stoppedAt)
                            + ".\n\nThe pass stays at position " + decimalText(state_.CurOffset) + ".");
        return std::string();
    }
    return std::nullopt;
}

std::int64_t ConversionPass::importGlyphs(Position first, std::span<const std::uint8_t> bytes)
{
    const std::int64_t width = state_.CharWidth;
    if (isBusy() || !isOpen() || bytes.empty() || bytes.size() % static_cast<std::size_t>(width) != 0)
        return 0;
    const auto count = static_cast<std::int64_t>(bytes.size()) / width;
    if (!mayJumpTo(first) || !mayJumpTo(first + (count - 1) * width)) {
        window_.showProblem("The sheet's " + std::to_string(count) + " glyphs from position " + decimalText(first)
                            + " would run past position " + decimalText(kLastCharacterPosition)
                            + ", the highest this tool can write.");
        return 0;
    }
    std::vector<Position> differing;
    try {
        differing = differingGlyphs(first, bytes);
    } catch (const FileError& error) {
        endAfter(error);
        return 0;
    }
    if (differing.empty()) {
        window_.showProblem("The sheet's " + std::to_string(count) + " glyphs from position " + decimalText(first)
                            + " are what the target holds already: nothing is written.");
        return 0;
    }
    if (!window_.confirm(Asking::Import, importQuestion(count, differing)))
        return 0;
    std::int64_t written = 0;
    run([&]() -> std::optional<std::string> {
        checkTargetHolds(record_.extent().number());
        veskoutput();
        for (const Position glyph : differing) {
            if (auto refusal = fillGapBefore(glyph))
                return refusal->empty() ? std::nullopt : refusal;
            const auto glyphBytes = bytes.subspan(static_cast<std::size_t>(glyph.number() - first.number()),
                                                  static_cast<std::size_t>(width));
            for (std::int64_t column = 0; column < width; ++column)
                files_->writeByte(glyph + column, glyphBytes[static_cast<std::size_t>(column)]);
            record_.imported(glyph, glyphBytes);
            ++written;
        }
        captureAsWritten();
        return std::nullopt;
    });
    return written;
}

std::string ConversionPass::importQuestion(std::int64_t count, const std::vector<Position>& differing) const
{
    const std::int64_t width = state_.CharWidth;
    std::string question = std::to_string(differing.size()) + " of the sheet's " + std::to_string(count)
                           + (differing.size() == 1 ? " glyphs differs" : " glyphs differ")
                           + " from what the target holds, at positions " + decimalText(differing.front()) + " to "
                           + decimalText(differing.back() + (width - 1)) + ".";
    // Glyphs that meet the character on display replace its unwritten dots.
    const Position shownLast = state_.CurOffset + (width - 1);
    const bool replacesDots = hasUnwrittenEdits() && std::any_of(differing.begin(), differing.end(), [&](Position at) {
                                  return at <= shownLast && at + (width - 1) >= state_.CurOffset;
                              });
    if (replacesDots)
        question += " That replaces the changed dots on display, which are not written yet. To keep them, answer No "
                    "and move on first: every move writes the character on display to the target.";
    return question + (replacesDots ? "\n\nWrite them to the target anyway?" : " Write them to the target?");
}

void ConversionPass::captureBytes(const std::array<std::uint8_t, CharacterGrid::kMaxColumns>& bytes)
{
    window_.setCuroffText(decimalText(state_.CurOffset));
    for (int column = 0; column < state_.CharWidth; ++column) {
        state_.XferByte = bytes[static_cast<std::size_t>(column)];
        savedColumns_[static_cast<std::size_t>(column)] = state_.XferByte;
        state_.DotGrid.setColumnByte(column, state_.XferByte);
    }
    characterOfThisPass_ = true;
    window_.characterRenewed();
    window_.veskdisplay();
}

void ConversionPass::veskoutput()
{
    const Position first = state_.CurOffset;
    int width = state_.CharWidth;
    // Columns past the ends of both files that are left as captured are not
    // written: the target grows only by dots the user switched.
    if (first.number() + width - 1 > files_->length(PassFile::SourceFile)) {
        const std::int64_t end = std::max(files_->length(PassFile::SourceFile), files_->length(PassFile::TargetFile));
        while (width > 0 && first.number() + width - 1 > end
               && state_.DotGrid.columnByte(width - 1) == savedColumns_[static_cast<std::size_t>(width - 1)])
            --width;
    }
    std::array<std::uint8_t, CharacterGrid::kMaxColumns> written{};
    for (int column = 0; column < width; ++column) {
        state_.ComposedByte = state_.DotGrid.columnByte(column);
        files_->writeByte(first + column, state_.ComposedByte);
        savedColumns_[static_cast<std::size_t>(column)] = state_.ComposedByte;
        written[static_cast<std::size_t>(column)] = state_.ComposedByte;
    }
    record_.wroteBack(first, std::span(written).first(static_cast<std::size_t>(width)));
    window_.characterRenewed();
}

bool ConversionPass::verifyTarget()
{
    const Position last = record_.extent();
    if (last < kFirstPosition)
        return true;
    checkTargetHolds(last.number());
    const bool oneFile = files_->oneFile();
    // Stretches the system keeps in one place for both files hold the same bytes.
    const std::vector<ByteStretch> shared = files_->sharedStretches(kFirstPosition, last);
    std::optional<Position> differs;
    std::uint8_t held = 0;
    std::uint8_t meant = 0;
    BackgroundTask task(BackgroundTask::Kind::Verify, kFirstPosition, last, [&](BackgroundTask& self) {
        std::vector<std::uint8_t> target;
        std::vector<std::uint8_t> expected;
        std::size_t sharedAt = 0;
        for (Position first = kFirstPosition; first <= last;) {
            const Position end = std::min(last, first + (kVerifyBlock - 1));
            const auto count = static_cast<std::size_t>(end.number() - first.number() + 1);
            const auto writtenBack = record_.writtenBackWithin(first, end);
            while (sharedAt < shared.size() && shared[sharedAt].end <= offsetOf(first))
                ++sharedAt;
            const bool sharedPiece = sharedAt < shared.size() && shared[sharedAt].begin <= offsetOf(first)
                                     && shared[sharedAt].end >= offsetOf(end) + 1;
            if (!sharedPiece || !writtenBack.empty()) {
                target.resize(count);
                expected.resize(count);
                lent_->readFresh(PassFile::TargetFile, first, target);
                if (oneFile)
                    expected = target;
                else
                    lent_->readFresh(PassFile::SourceFile, first, expected);
                for (const WriteRecord::Range& range : writtenBack) {
                    for (Position at = range.first; at <= range.last; at = at + 1)
                        expected[static_cast<std::size_t>(at.number() - first.number())] =
                            *record_.writtenBackByte(at);
                }
                if (std::memcmp(target.data(), expected.data(), count) != 0) {
                    std::size_t i = 0;
                    while (target[i] == expected[i])
                        ++i;
                    differs = first + static_cast<std::int64_t>(i);
                    held = target[i];
                    meant = expected[i];
                    return true;
                }
            }
            if (!self.report(end))
                return false;
            first = end + 1;
        }
        return true;
    });
    if (!runInBackground(task))
        return false;
    if (differs) {
        const bool wroteThere = record_.writtenBackByte(*differs).has_value();
        throw FileError(PassFile::TargetFile, state_.TargetPath, "verify",
                        "at position " + decimalText(*differs) + " it holds " + hexText(held, 2) + ", where "
                            + (wroteThere ? "this pass wrote " : "the source holds ") + hexText(meant, 2)
                            + ". Another program may have written to it, or the disk did not keep what was written");
    }
    return true;
}

std::optional<Position> ConversionPass::runCopy(BackgroundTask::Kind kind, Position first, Position last,
                                                std::int64_t sourceLength)
{
    // The copy's own reading of the source's length, when it begins.
    std::int64_t before = sourceLength;
    // The target must keep what the pass wrote, whatever its length when the copy begins.
    const Position held = record_.extent();
    BackgroundTask task(kind, first, last, [this, first, last, held, &before](BackgroundTask& self) {
        CopyEngine engine = lent_->copier([&self](Position copied) { return self.report(copied); });
        const bool whole = engine.copy(first, last, held);
        before = engine.sourceLength();
        return whole;
    });
    bool whole = false;
    try {
        whole = runInBackground(task);
    } catch (const FileError&) {
        // What was copied before the failure is the target's; the pass ends.
        record_.copied(first, task.done());
        throw;
    }
    const Position reached = whole ? last : task.done();
    record_.copied(first, reached);
    // One file as both is copied onto itself: only its length can change.
    // The tail copy's source is checked once the target is on the disk.
    if (!files_->oneFile() && kind != BackgroundTask::Kind::TailCopy)
            checkSourceSteady(sourceLength, before, files_->length(PassFile::SourceFile), first, reached);
    if (whole)
        return std::nullopt;
    return task.done();
}

bool ConversionPass::runInBackground(BackgroundTask& task)
{
    // The files are the task's until it has ended: nothing else can reach them.
    running_ = &task;
    lent_ = std::move(files_);
    try {
        window_.runTask(task);
    } catch (...) {
        files_ = std::move(lent_);
        running_ = nullptr;
        throw;
    }
    files_ = std::move(lent_);
    running_ = nullptr;
    try {
        return task.join();
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& error) {
        throw FileError(PassFile::TargetFile, state_.TargetPath, "copy to", error.what());
    } catch (...) {
        throw FileError(PassFile::TargetFile, state_.TargetPath, "copy to", "an unknown failure");
    }
}

void ConversionPass::run(const std::function<std::optional<std::string>()>& operation)
{
    std::optional<std::string> refusal;
    try {
        refusal = operation();
        files_->flush();
        files_->checkPaths();
    } catch (const FileError& error) {
        endAfter(error);
        return;
    }
    if (refusal)
        window_.showProblem(*refusal);
}

void ConversionPass::endAfter(const FileError& error)
{
    dropLook();
    files_->closeAll();
    window_.setStartButtEnabled(true);
    window_.showProblem(std::string(error.what())
                        + "\n\nThe pass has been stopped and both files are closed. The target may be incomplete: "
                          "free the cause and run the pass again.");
}

} // namespace dotmatrix
