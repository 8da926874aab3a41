// An imported sheet's glyphs, written as jumps and write-backs would.

#include "conversionpass.h"

#include <algorithm>

#include "offsettext.h"

namespace dotmatrix {

std::vector<Position> ConversionPass::differingGlyphs(Position first, std::span<const std::uint8_t> bytes)
{
    // Glyph k of `bytes` stands at first + k * step; bytes between glyphs are no part of them.
    std::vector<Position> differing;
    const auto size = static_cast<std::size_t>(characterBytes());
    const auto step = static_cast<std::size_t>(format_.step());
    const std::size_t count = bytes.size() / size;
    std::vector<std::uint8_t> now((count - 1) * step + size);
    readAsWritten(first, now);
    // The dots on display reach the target before anything else is written.
    for (int column = 0; column < characterBytes(); ++column) {
        const std::int64_t at = (state_.CurOffset + column).number() - first.number();
        if (at >= 0 && at < static_cast<std::int64_t>(now.size()))
            now[static_cast<std::size_t>(at)] = state_.DotGrid.columnByte(column);
    }
    for (std::size_t glyph = 0; glyph < count; ++glyph) {
        const auto sheet = bytes.subspan(glyph * size, size);
        if (!std::equal(sheet.begin(), sheet.end(), now.begin() + static_cast<std::ptrdiff_t>(glyph * step)))
            differing.push_back(first + static_cast<std::int64_t>(glyph * step));
    }
    return differing;
}

std::int64_t ConversionPass::importGlyphs(Position first, std::span<const std::uint8_t> bytes)
{
    const std::int64_t width = characterBytes();
    if (bytes.empty() || width <= 0 || bytes.size() % static_cast<std::size_t>(width) != 0)
        return 0;
    const auto count = static_cast<std::int64_t>(bytes.size()) / width;
    std::int64_t written = 0;
    operate([&]() -> std::optional<Refusal> {
        if (!mayJumpTo(first) || !mayJumpTo(first + (count - 1) * format_.step()))
            return endsBeyondTheHighest("The sheet's " + std::to_string(count) + " glyphs from position "
                                        + decimalText(first));
        const std::vector<Position> differing = differingGlyphs(first, bytes);
        if (differing.empty())
            return "The sheet's " + std::to_string(count) + " glyphs from position " + decimalText(first)
                   + " are what the target holds already: nothing is written.";
        if (!window_.confirm(Asking::Import, importQuestion(count, differing)))
            return std::nullopt;
        veskoutput();
        for (const Position glyph : differing) {
            if (auto refusal = fillGapBefore(glyph))
                return refusal;
            const auto index = static_cast<std::size_t>((glyph.number() - first.number()) / format_.step());
            const auto glyphBytes =
                bytes.subspan(index * static_cast<std::size_t>(width), static_cast<std::size_t>(width));
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
    const std::int64_t width = characterBytes();
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

} // namespace dotmatrix
