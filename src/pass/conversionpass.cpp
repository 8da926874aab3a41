#include "conversionpass.h"

#include <algorithm>

#include "offsettext.h"

namespace dotmatrix {

namespace {

constexpr int kSymtypeCount = 4;
constexpr std::int16_t kNarrowestWidth = 4;

std::optional<std::int16_t> selectedWidth(const WindowPort& window)
{
    const int index = window.selectedSymtype();
    if (index < 0 || index >= kSymtypeCount)
        return std::nullopt;
    return static_cast<std::int16_t>(kNarrowestWidth + index);
}

bool endsInRange(Position first, std::int16_t width)
{
    return first + (width - 1) <= kLastCharacterPosition;
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

ConversionPass::ConversionPass(WindowPort& window) : window_(window) {}

bool ConversionPass::setSourcePath(std::string path)
{
    if (isBusy())
        return false;
    state_.SourcePath = std::move(path);
    return true;
}

bool ConversionPass::setTargetPath(std::string path)
{
    if (isBusy())
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
        files_.open(state_.SourcePath, state_.TargetPath);
    } catch (const FileError& error) {
        window_.setStartButtEnabled(true);
        window_.showProblem(std::string(error.what()) + adviceAfterRefusal(error.code()));
        return;
    }
    highestWritten_ = Position(0);
    characterOfThisPass_ = false;
    // A typing slip far behind the source's end would pad the target with zeros.
    try {
        const std::int64_t length = files_.length(PassFile::SourceFile);
        const std::int64_t zeros = first.number() - 1 - length;
        if (zeros > 0
            && !window_.confirm("The source file \"" + state_.SourcePath + "\" has " + std::to_string(length)
                                + " bytes: a start at position " + decimalText(first) + " writes "
                                + std::to_string(zeros) + " zero bytes to the target in front of the character."
                                + "\n\nStart there anyway?")) {
            files_.abandon();
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
            stoppedAt = runCopy(BackgroundTask::Kind::PrefixCopy, kFirstPosition, first - 1);
        } catch (const FileError& error) {
            endAfter(error);
            return;
        }
        highestWritten_ = first - 1;
        if (stoppedAt) {
            files_.closeAll();
            window_.setStartButtEnabled(true);
            window_.showStopped("The copy was cancelled. The target file \"" + state_.TargetPath
                                + "\" holds the source's bytes only up to position " + decimalText(*stoppedAt)
                                + "; nothing was written at the starting offset " + decimalText(first)
                                + ".\n\nNo pass is open. Start again to copy the whole prefix.");
            return;
        }
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
    if (!isOpen() || isBusy() || position < kFirstPosition || !endsInRange(position, state_.CharWidth))
        return false;
    run([&]() -> std::optional<std::string> {
        veskoutput();
        if (position > highestWritten_ + 1) {
            // What "Next >" without edits would have written on the way.
            const Position from = highestWritten_ + 1;
            const std::optional<Position> stoppedAt = runCopy(BackgroundTask::Kind::GapCopy, from, position - 1);
            highestWritten_ = stoppedAt.value_or(position - 1);
            if (stoppedAt) {
                window_.showStopped("The copy was cancelled. The target file holds the source's bytes from position "
                                    + decimalText(from) + " only up to position " + decimalText(*stoppedAt)
                                    + ".\n\nThe pass stays at position " + decimalText(state_.CurOffset) + ".");
                return std::nullopt;
            }
        }
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
        files_.forgetReads();
        if (const auto question = tailCopyQuestion(files_.length(PassFile::SourceFile))) {
            if (!window_.confirm(*question))
                return;
        }
        // The source may have grown or shrunk while the question was open.
        const std::int64_t length = files_.length(PassFile::SourceFile);
        checkTargetHolds(highestWritten_.number());
        if (state_.CurOffset.number() <= length) {
            if (const auto stoppedAt = runCopy(BackgroundTask::Kind::TailCopy, state_.CurOffset, Position(length))) {
                window_.showStopped("The copy was cancelled. The target file holds the source's bytes from position "
                                    + decimalText(state_.CurOffset) + " only up to position "
                                    + decimalText(*stoppedAt) + ".\n\nThe pass stays open at position "
                                    + decimalText(state_.CurOffset)
                                    + ": \"Skip the rest\" copies the rest again from there.");
                return;
            }
        }
        BackgroundTask sync(BackgroundTask::Kind::Sync, state_.CurOffset, state_.CurOffset, [this](BackgroundTask&) {
            files_.sync();
            return true;
        });
        runInBackground(sync);
        files_.checkPaths();
        // Other programs may have shortened the target or changed the source meanwhile.
        checkTargetHolds(std::max(length, highestWritten_.number()));
        const std::int64_t source = files_.length(PassFile::SourceFile);
        if (source != length) {
            const std::string reason =
                source > length ? "it grew from " + std::to_string(length) + " to " + std::to_string(source)
                                      + " bytes while it was copied, so the target holds its bytes only up to position "
                                      + std::to_string(length)
                                : "it shrank from " + std::to_string(length) + " to " + std::to_string(source)
                                      + " bytes while it was copied, so the target's bytes from position "
                                      + std::to_string(source + 1) + " to " + std::to_string(length)
                                      + " are not the source's";
            throw FileError(PassFile::SourceFile, state_.SourcePath, "copy all of", reason);
        }
        // Some file systems report a failed write only when the file is closed.
        files_.close();
    } catch (const FileError& error) {
        endAfter(error);
        return;
    }
    window_.setStartButtEnabled(true);
    window_.showCompleted();
}

void ConversionPass::checkTargetHolds(std::int64_t written)
{
    files_.forgetReads();
    const std::int64_t length = files_.length(PassFile::TargetFile);
    if (length < written)
        throw targetShortened(state_.TargetPath, length, written);
}

std::optional<std::string> ConversionPass::tailCopyQuestion(std::int64_t sourceLength)
{
    const Position tailEnd(sourceLength);
    const bool dotsLost = hasUnwrittenEdits();
    bool writesLost = false;
    for (Position position = state_.CurOffset; position <= std::min(highestWritten_, tailEnd) && !writesLost;
         position = position + 1) {
        writesLost = files_.readByte(PassFile::TargetFile, position) != files_.readByte(PassFile::SourceFile, position);
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
    const Position complete = running_ != nullptr ? running_->done() + 1 : state_.CurOffset;
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
    files_.readFresh(from, state_.CurOffset, std::span(bytes).first(static_cast<std::size_t>(state_.CharWidth)));
    captureBytes(bytes);
}

void ConversionPass::captureAsWritten()
{
    std::array<std::uint8_t, CharacterGrid::kMaxColumns> bytes{};
    std::array<std::uint8_t, CharacterGrid::kMaxColumns> source{};
    const auto width = static_cast<std::size_t>(state_.CharWidth);
    files_.readFresh(PassFile::TargetFile, state_.CurOffset, std::span(bytes).first(width));
    files_.readFresh(PassFile::SourceFile, state_.CurOffset, std::span(source).first(width));
    for (std::size_t column = 0; column < width; ++column) {
        if (state_.CurOffset + static_cast<std::int64_t>(column) > highestWritten_)
            bytes[column] = source[column];
    }
    captureBytes(bytes);
}

void ConversionPass::captureBytes(const std::array<std::uint8_t, CharacterGrid::kMaxColumns>& bytes)
{
    window_.setCuroffText(decimalText(state_.CurOffset));
    for (int column = 0; column < state_.CharWidth; ++column) {
        state_.XferByte = bytes[static_cast<std::size_t>(column)];
        savedColumns_[static_cast<std::size_t>(column)] = state_.XferByte;
        state_.DotGrid.setColumnByte(column, state_.XferByte);
    }
    ++characterSerial_;
    characterOfThisPass_ = true;
    window_.veskdisplay();
}

void ConversionPass::veskoutput()
{
    const Position first = state_.CurOffset;
    const int width = state_.CharWidth;
    for (int column = 0; column < width; ++column) {
        state_.ComposedByte = state_.DotGrid.columnByte(column);
        files_.writeByte(first + column, state_.ComposedByte);
        savedColumns_[static_cast<std::size_t>(column)] = state_.ComposedByte;
    }
    highestWritten_ = std::max(highestWritten_, first + (width - 1));
    ++characterSerial_;
}

std::optional<Position> ConversionPass::runCopy(BackgroundTask::Kind kind, Position first, Position last)
{
    BackgroundTask task(kind, first, last, [this, first, last](BackgroundTask& self) {
        return files_.copier([&self](Position copied) { return self.report(copied); }).copy(first, last);
    });
    if (runInBackground(task))
        return std::nullopt;
    return task.done();
}

bool ConversionPass::runInBackground(BackgroundTask& task)
{
    running_ = &task;
    try {
        window_.runTask(task);
    } catch (...) {
        running_ = nullptr;
        throw;
    }
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
        files_.flush();
        files_.checkPaths();
    } catch (const FileError& error) {
        endAfter(error);
        return;
    }
    if (refusal)
        window_.showProblem(*refusal);
}

void ConversionPass::endAfter(const FileError& error)
{
    files_.closeAll();
    window_.setStartButtEnabled(true);
    window_.showProblem(std::string(error.what())
                        + "\n\nThe pass has been stopped and both files are closed. The target may be incomplete: "
                          "free the cause and run the pass again.");
}

} // namespace dotmatrix
