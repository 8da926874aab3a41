#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "glyphformat.h"
#include "madeimage.h"
#include "position.h"

namespace dotmatrix {

// A place in a file that looks like a font.
struct FontCandidate {
    Position first{1};        // the first glyph of the run
    GlyphFormat format;       // with the dot order that draws it upright
    std::int64_t glyphs = 0;  // how many glyphs in a row look like a font
    double score = 0;         // higher is more like a font
    // Where the glyphs look like ASCII's digits and letters in order: the
    // code of the first glyph.
    std::optional<int> firstCode;

    [[nodiscard]] Position last() const { return first + ((glyphs - 1) * format.step() + format.glyphBytes() - 1); }
    // The glyph of `code`, where the run's codes are known and it holds one.
    [[nodiscard]] std::optional<Position> positionOfCode(int code) const;
};

// Ranks the places of a file that look like fonts, fed its bytes in order
// block by block, with memory that stays flat whatever the file's size.
//
// A quick count of zero, 0xFF and text bytes first passes over what cannot
// be a font. What is left is weighed in windows of a few glyphs' bytes,
// whatever their size and alignment: dots neither sparse nor dense, in
// strokes, hardly ever alone. The stretches that look so are looked at
// closely once whole, in every format real firmware keeps fonts in (columns
// 4 to 8 bytes wide and 8 or 16 tall, rows 8 wide and 8, 14 or 16 tall):
// each glyph drawn at every alignment, its strokes counted (pieces, lone
// dots, dots lit in nearly every glyph), the runs that look like letters
// judged on their whole length, and their glyphs compared with the digits
// and letters of Debian's bitmap fonts in every dot order. A run whose
// glyphs are ASCII's in order is named and drawn upright by that; one that
// only looks like a font is kept where its glyphs leave no doubt.
class FontScanner {
public:
    static constexpr int kMostCandidates = 20;

    // The bytes from zero-based `offset` on; offsets only grow. A jump
    // (a hole, an unreadable stretch) ends every run before it.
    void feed(std::int64_t offset, std::span<const std::uint8_t> bytes);
    // Everything fed has been weighed: the best places, best first, none
    // overlapping a better one.
    [[nodiscard]] std::vector<FontCandidate> finish();

private:
    void weigh(std::int64_t offset, std::span<const std::uint8_t> bytes);
    void keep(std::int64_t offset, std::span<const std::uint8_t> bytes, int lag, double score);
    // Looks closely at the stretches that end before `before`, which no
    // later bytes can add to, and keeps what they hold.
    void settle(std::int64_t before);

    // A stretch kept for the close look, with its bytes.
    struct Kept {
        std::int64_t offset = 0;
        std::vector<std::uint8_t> bytes;
        int lag = 1;  // where a line's neighbour lies: the next byte, or two on
        double score = 0;
    };

    std::vector<std::uint8_t> carry_;  // the end of the last block, weighed again with the next
    std::int64_t carryOffset_ = 0;
    std::int64_t nextOffset_ = 0;
    std::vector<Kept> kept_;
    std::vector<FontCandidate> found_;
};

struct ScanOutcome {
    std::vector<FontCandidate> found;
    // Lines about what was passed over: holes, stretches that could not be read.
    std::vector<std::string> notes;
    // Why nothing could be scanned; empty where the scan ran.
    std::string problem;
    bool stopped = false;
    // The files changed while they were read: the list may be stale.
    bool changed = false;
};

// Scans the image as the pass makes it (the source outside a pass) in large
// blocks from start to end, once, skipping holes
// and stretches that can't be read. `progress` hears the bytes done of the
// length; false stops the scan within a block.
[[nodiscard]] ScanOutcome scanForFonts(const ImageFiles& files,
                                       const std::function<bool(std::int64_t done, std::int64_t length)>& progress);

// "Position 1001, width 6, bit 0 on top, first byte on the left, 96 glyphs".
[[nodiscard]] std::string describeCandidate(const FontCandidate& candidate);

} // namespace dotmatrix
