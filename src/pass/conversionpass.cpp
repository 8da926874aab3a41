#include "conversionpass.h"

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

} // namespace

ConversionPass::ConversionPass(WindowPort& window) : window_(window) {}

void ConversionPass::start()
{
    if (isOpen())
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
        window_.showProblem(std::string(error.what()) + "\n\nChoose another file and start again.");
        return;
    }
    run([&]() -> std::optional<std::string> {
        if (first > kFirstPosition)
            files_.copy(kFirstPosition, first - 1, [&](Position copied) { window_.setCuroffText(decimalText(copied)); });
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
    if (!isOpen())
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
    if (!isOpen())
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

void ConversionPass::skipRest()
{
    if (!isOpen())
        return;
    try {
        const std::int64_t length = files_.length(PassFile::SourceFile);
        if (state_.CurOffset.number() <= length)
            files_.copy(state_.CurOffset, Position(length));
        files_.sync();
    } catch (const FileError& error) {
        endAfter(error);
        return;
    }
    window_.showCompleted();
    files_.closeAll();
    window_.setStartButtEnabled(true);
}

bool ConversionPass::toggleDot(int column, int bit)
{
    CharacterGrid& grid = state_.DotGrid;
    if (!grid.hasCell(column, bit))
        return false;
    grid.setDot(column, bit, grid.dot(column, bit) == 0 ? 1 : 0);
    window_.veskdisplay();
    return true;
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
    window_.setCuroffText(decimalText(state_.CurOffset));
    for (int column = 0; column < state_.CharWidth; ++column) {
        state_.XferByte = files_.readByte(from, state_.CurOffset + column);
        for (int bit = CharacterGrid::kBits - 1; bit >= 0; --bit)
            state_.DotGrid.setDot(column, bit, (state_.XferByte >> bit) & 1);
    }
    window_.veskdisplay();
}

void ConversionPass::veskoutput()
{
    const Position first = state_.CurOffset;
    const int width = state_.CharWidth;
    for (int column = 0; column < width; ++column) {
        state_.ComposedByte = state_.DotGrid.columnByte(column);
        files_.writeByte(first + column, state_.ComposedByte);
    }
}

void ConversionPass::run(const std::function<std::optional<std::string>()>& operation)
{
    std::optional<std::string> refusal;
    try {
        refusal = operation();
        files_.flush();
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
