#include "conversionpass.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "madeimage.h"
#include "offsettext.h"

namespace dotmatrix {

namespace {

constexpr int kSymtypeCount = 4;
constexpr std::int16_t kNarrowestWidth = 4;

// The format the window has chosen: one of the four sizes, or another.
std::optional<GlyphFormat> formatInForce(const WindowPort& window)
{
    if (const std::optional<GlyphFormat> other = window.chosenFormat(); other && other->valid())
        return other;
    const int width = ConversionPass::widthOfOption(window.selectedSymtype());
    if (width == 0)
        return std::nullopt;
    return GlyphFormat::original(width);
}

bool endsInRange(Position first, int width)
{
    return characterFits(std::max(first, kFirstPosition), width);
}

std::string beyondLastMessage(Position first, int width)
{
    return endsBeyondTheHighest("A character of " + std::to_string(width) + " bytes at position " + decimalText(first));
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

ImageView ConversionPass::imageView(const GlyphFormat& selected) const
{
    ImageView view;
    view.sourcePath = state_.SourcePath;
    view.busy = isBusy();
    view.format = selected;
    if (!isOpen()) {
        view.anchor = readStartingOffset(window_.offsetText()).position;
        return view;
    }
    view.targetPath = state_.TargetPath;
    view.writtenThrough = writtenThrough();
    view.writtenBack = record_.writtenBack();
    view.format = format_;
    view.marked = state_.CurOffset;
    view.anchor = state_.CurOffset;
    view.checksumLine = checksumLine();
    return view;
}

bool ConversionPass::mayJumpTo(Position position) const
{
    return isOpen() && characterFits(position, characterBytes());
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
    const std::optional<GlyphFormat> format = formatInForce(window_);
    if (!format) {
        window_.showProblem("No character size is selected. Select one of 4x7 to 7x7 and start again.");
        return;
    }
    if (!endsInRange(first, format->glyphBytes())) {
        window_.showProblem(beyondLastMessage(first, format->glyphBytes()) + " Type a smaller starting offset.");
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
            stoppedAt = copyOnThread(BackgroundTask::Kind::PrefixCopy, kFirstPosition, first - 1, length);
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
    operate([&]() -> std::optional<Refusal> {
        format_ = *format;
        state_.CharWidth = static_cast<std::int16_t>(format_.width);
        state_.DotGrid.resize(format_.glyphBytes());
        state_.CurOffset = first;
        veskinput();
        return std::nullopt;
    });
}

void ConversionPass::nextCharacter()
{
    move(format_.step(), PassFile::SourceFile);
}

void ConversionPass::previousCharacter()
{
    move(-format_.step(), PassFile::TargetFile);
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
    operate([&]() -> std::optional<Refusal> {
        veskoutput();
        const Position next = state_.CurOffset + distance;
        if (next < kFirstPosition)
            return "There is no character before position 1, the first byte of the file. The character on display "
                   "has been written to the target and stays on display.";
        if (!endsInRange(next, characterBytes()))
            return beyondLastMessage(next, characterBytes())
                   + " The character on display has been written to the target and stays on display.";
        // Glyphs further apart than their bytes leave bytes between them:
        // they are copied as they stand, so that what the pass has written
        // still runs without a gap.
        if (next > record_.writtenThrough() + 1) {
            const std::int64_t sourceLength = files_->length(PassFile::SourceFile);
            if (record_.writtenThrough().number() < sourceLength) {
                if (auto refusal = fillGapBefore(std::min(next, Position(sourceLength + 1))))
                    return refusal;
            }
        }
        state_.CurOffset = next;
        // "< Previous" shows the character as the target holds it, the other moves as the source does.
        if (captureFrom == PassFile::TargetFile)
            veskinput2();
        else
            veskinput();
        return std::nullopt;
    });
}

void ConversionPass::changeWidth()
{
    operate([&]() -> std::optional<Refusal> {
        veskoutput();
        const GlyphFormat format = formatInForce(window_).value_or(format_);
        if (!endsInRange(state_.CurOffset, format.glyphBytes()))
            return beyondLastMessage(state_.CurOffset, format.glyphBytes()) + " The size stays at "
                   + std::to_string(characterBytes()) + " bytes.";
        format_ = format;
        state_.CharWidth = static_cast<std::int16_t>(format_.width);
        state_.DotGrid.resize(format_.glyphBytes());
        veskinput();
        return std::nullopt;
    });
}

bool ConversionPass::jumpTo(Position position)
{
    if (!mayJumpTo(position))
        return false;
    return operate([&]() -> std::optional<Refusal> {
        veskoutput();
        if (auto refusal = fillGapBefore(position))
            return refusal;
        state_.CurOffset = position;
        captureAsWritten();
        return std::nullopt;
    });
}

void ConversionPass::skipRest()
{
    operate([&]() -> std::optional<Refusal> {
        // What other programs changed since the last click counts.
        files_->forgetReads();
        if (const auto question = tailCopyQuestion(files_->length(PassFile::SourceFile))) {
            if (!window_.confirm(Asking::TailCopy, *question))
                return std::nullopt;
        }
        // The source may have grown or shrunk while the question was open.
        const std::int64_t length = files_->length(PassFile::SourceFile);
        // What an import brought stays: the tail copy goes around it.
        for (const WriteRecord::Range& stretch :
             record_.copiedByTheTail(state_.CurOffset, Position(std::max<std::int64_t>(length, 0)))) {
            if (const auto stoppedAt = copyOnThread(BackgroundTask::Kind::TailCopy, stretch.first, stretch.last, length)) {
                window_.showStopped("The copy was cancelled. The target file holds the source's bytes from position "
                                    + decimalText(state_.CurOffset) + " only up to position "
                                    + decimalText(*stoppedAt) + ".\n\nThe pass stays open at position "
                                    + decimalText(state_.CurOffset)
                                    + ": \"Skip the rest\" copies the rest again from there.");
                return Refusal::told();
            }
        }
        syncTarget(state_.CurOffset, state_.CurOffset);
        files_->checkPaths();
        // Other programs may have shortened the target or changed the source meanwhile.
        checkTargetHolds(std::max(length, record_.writtenThrough().number()));
        if (!files_->oneFile())
            checkSourceSteady(length, length, files_->length(PassFile::SourceFile), state_.CurOffset,
                              Position(length), true);
        const std::string note = settleChecksum();
        if (!verifyTarget()) {
            window_.showStopped("The check of the target was cancelled. The target file holds the whole pass, but it "
                                "was not read back.\n\nThe pass stays open at position "
                                + decimalText(state_.CurOffset) + ": \"Skip the rest\" copies and checks again.");
            return Refusal::told();
        }
        // Some file systems report a failed write only when the file is closed.
        files_->close();
        window_.setStartButtEnabled(true);
        window_.showCompleted(note);
        return std::nullopt;
    });
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
        writesLost = differsFromSource(replaced);
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

bool ConversionPass::differsFromSource(const std::vector<WriteRecord::Range>& ranges)
{
    for (const WriteRecord::Range& range : ranges) {
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
    const Position complete = running_ != nullptr ? running_->done() + 1 : record_.writtenThrough() + 1;
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
    std::array<std::uint8_t, CharacterGrid::kMaxBytes> bytes{};
    files_->readFresh(from, state_.CurOffset, std::span(bytes).first(static_cast<std::size_t>(characterBytes())));
    captureBytes(bytes);
}

void ConversionPass::captureAsWritten()
{
    std::array<std::uint8_t, CharacterGrid::kMaxBytes> bytes{};
    readAsWritten(state_.CurOffset, std::span(bytes).first(static_cast<std::size_t>(characterBytes())));
    captureBytes(bytes);
}

void ConversionPass::readAsWritten(Position first, std::span<std::uint8_t> into)
{
    const auto fromTarget = static_cast<std::size_t>(
        bytesFromTarget(offsetOf(first), static_cast<std::int64_t>(into.size()), record_.writtenThrough()));
    if (fromTarget > 0)
        files_->readFresh(PassFile::TargetFile, first, into.first(fromTarget));
    if (fromTarget < into.size())
        files_->readFresh(PassFile::SourceFile, first + static_cast<std::int64_t>(fromTarget), into.subspan(fromTarget));
}

std::optional<Refusal> ConversionPass::fillGapBefore(Position position)
{
    if (position <= record_.writtenThrough() + 1)
        return std::nullopt;
    // What "Next >" without edits would have written on the way.
    const Position from = record_.writtenThrough() + 1;
    const std::int64_t length = files_->length(PassFile::SourceFile);
    if (position - 1 > Position(length))
        return "The source file \"" + state_.SourcePath + "\" is now " + std::to_string(length)
               + " bytes long: the glyph at position " + decimalText(position)
               + " lies behind its end. The character on display has been written to the target and stays on "
                 "display.";
    if (const std::optional<Position> stoppedAt = copyOnThread(BackgroundTask::Kind::GapCopy, from, position - 1, length)) {
        window_.showStopped("The copy was cancelled. The target file holds the source's bytes from position "
                            + decimalText(from) + " only up to position " + decimalText(*stoppedAt)
                            + ".\n\nThe pass stays at position " + decimalText(state_.CurOffset) + ".");
        return Refusal::told();
    }
    return std::nullopt;
}

void ConversionPass::captureBytes(const std::array<std::uint8_t, CharacterGrid::kMaxBytes>& bytes)
{
    window_.setCuroffText(decimalText(state_.CurOffset));
    for (int column = 0; column < characterBytes(); ++column) {
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
    int width = characterBytes();
    // Columns past the ends of both files that are left as captured are not
    // written: the target grows only by dots the user switched. The target's
    // length is at hand; the source's is asked only past it.
    if (first.number() + width - 1 > files_->length(PassFile::TargetFile)) {
        const std::int64_t end = std::max(files_->length(PassFile::SourceFile), files_->length(PassFile::TargetFile));
        while (width > 0 && first.number() + width - 1 > end
               && state_.DotGrid.columnByte(width - 1) == savedColumns_[static_cast<std::size_t>(width - 1)])
            --width;
    }
    std::array<std::uint8_t, CharacterGrid::kMaxBytes> written{};
    for (int column = 0; column < width; ++column) {
        state_.ComposedByte = state_.DotGrid.columnByte(column);
        files_->writeByte(first + column, state_.ComposedByte);
        savedColumns_[static_cast<std::size_t>(column)] = state_.ComposedByte;
        written[static_cast<std::size_t>(column)] = state_.ComposedByte;
    }
    record_.wroteBack(first, std::span(written).first(static_cast<std::size_t>(width)));
    window_.characterRenewed();
}

std::optional<Position> ConversionPass::copyOnThread(BackgroundTask::Kind kind, Position first, Position last,
                                                std::int64_t sourceLength)
{
    // The copy's own reading of the source's length, when it begins.
    std::int64_t before = sourceLength;
    // The target must keep what the pass wrote, whatever its length when the copy begins.
    const Position held = record_.writtenThrough();
    BackgroundTask task(kind, first, last, [first, last, held, &before](BackgroundTask& self) {
        CopyEngine engine = self.files().copier([&self](Position copied) { return self.report(copied); });
        const bool whole = engine.copy(first, last, held);
        before = engine.sourceLength();
        return whole;
    });
    bool whole = false;
    try {
        whole = awaitTask(task);
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

void ConversionPass::syncTarget(Position first, Position last)
{
    BackgroundTask sync(BackgroundTask::Kind::Sync, first, last, [](BackgroundTask& self) {
        self.files().sync();
        return true;
    });
    awaitTask(sync);
}

bool ConversionPass::awaitTask(BackgroundTask& task)
{
    // The files are the task's until it has ended: nothing else can reach them.
    running_ = &task;
    task.lend(std::move(files_));
    window_.busyChanged();
    try {
        window_.runTask(task);
    } catch (...) {
        files_ = task.giveBack();
        running_ = nullptr;
        window_.busyChanged();
        throw;
    }
    files_ = task.giveBack();
    running_ = nullptr;
    window_.busyChanged();
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

bool ConversionPass::operate(const std::function<std::optional<Refusal>()>& operation)
{
    if (!isOpen() || isBusy())
        return false;
    std::optional<Refusal> refusal;
    try {
        // What the pass wrote must still be there before anything is written over a hole.
        checkTargetHolds(record_.writtenThrough().number());
        refusal = operation();
        if (files_->isOpen()) {
            files_->flush();
            files_->checkPaths();
        }
    } catch (const FileError& error) {
        endAfter(error);
        return true;
    }
    if (refusal && !refusal->message.empty())
        window_.showProblem(refusal->message);
    return true;
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
