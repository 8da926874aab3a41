#include "fontscan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <future>
#include <limits>
#include <unordered_set>

#include "glyphshape.h"
#include "offsettext.h"
#include "platformfile.h"

namespace dotmatrix {

namespace {

// The quick count goes by chunks; what passes it is weighed glyph by glyph.
constexpr std::size_t kChunk = 256;
// The fewest glyphs a font has in a row.
constexpr std::int64_t kFewestGlyphs = 16;
// What of one block is weighed again with the next, so that a font across
// the blocks' edge is seen whole.
constexpr std::size_t kCarry = 64 * 1024;
constexpr std::size_t kScanBlock = 4 << 20;
// The most of a stretch weighed at once, and how much two pieces share: more
// than the longest font (256 glyphs of 32 bytes) with room to spare.
constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kPieceOverlap = 12 * 1024;
// Stretches kept for the close look: the most of them, and the longest one.
constexpr std::size_t kMostStretches = 400;
constexpr std::int64_t kLongestStretch = 12 * 1024;
// The most codes a font names: one byte each.
constexpr std::int64_t kMostCodes = 256;

// Per byte, one count to add: zeros in bits 0 to 9, fill in 10 to 19, text from 20.
constexpr std::array<std::uint32_t, 256> kChunkCounts = [] {
    std::array<std::uint32_t, 256> counts{};
    for (unsigned byte = 0; byte < 256; ++byte)
        counts[byte] = (byte == 0 ? 1u : 0u) | (byte == 0xFF ? 1u << 10 : 0u)
                       | ((byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r' ? 1u << 20 : 0u);
    return counts;
}();

// Could a chunk be part of a font? Fonts have blank lines, little fill
// and are no plain text.
bool mayHoldFont(std::span<const std::uint8_t> chunk)
{
    std::uint32_t counts = 0;
    for (const std::uint8_t byte : chunk)
        counts += kChunkCounts[byte];
    const auto zeros = static_cast<int>(counts & 0x3FF);
    const auto fill = static_cast<int>((counts >> 10) & 0x3FF);
    const auto text = static_cast<int>(counts >> 20);
    const auto size = static_cast<int>(chunk.size());
    return zeros * 32 >= size && zeros * 4 <= size * 3 && fill * 6 <= size && text * 10 <= size * 9;
}

// Lit dots of a byte, from a table: popcount is a library call on the
// processors Debian builds for.
constexpr std::array<std::uint8_t, 256> kInk = [] {
    std::array<std::uint8_t, 256> ink{};
    for (unsigned byte = 0; byte < 256; ++byte)
        ink[byte] = static_cast<std::uint8_t>(std::popcount(byte));
    return ink;
}();

GlyphFormat columns(int width, int height, GlyphFormat::Pages pages = GlyphFormat::Pages::ColumnByColumn)
{
    GlyphFormat format;
    format.width = width;
    format.height = height;
    format.pages = pages;
    return format;
}

GlyphFormat rows(int height)
{
    GlyphFormat format;
    format.lines = GlyphFormat::Lines::Rows;
    format.width = 8;
    format.height = height;
    return format;
}

// The formats real firmware keeps its fonts in, by where a line's
// neighbouring line lies: the next byte (`lag` 1), or two on, for columns of
// two bytes kept together (`lag` 2). Columns taller than a byte are drawn
// upright only with the right bit on top (bit 0 flips each byte's eight
// rows, not the glyph): they come with either.
std::vector<GlyphFormat> formatsOf(int lag)
{
    std::vector<GlyphFormat> formats;
    const auto tall = [&formats](int width, GlyphFormat::Pages pages) {
        for (const bool bit0OnTop : {true, false}) {
            GlyphFormat format = columns(width, 16, pages);
            format.order.bit0OnTop = bit0OnTop;
            formats.push_back(format);
        }
    };
    if (lag == 2) {
        for (const int width : {8, 12, 16})
            tall(width, GlyphFormat::Pages::ColumnByColumn);
        return formats;
    }
    formats = {columns(4, 8), columns(5, 8), columns(6, 8), columns(7, 8), columns(8, 8), rows(8), rows(14), rows(16)};
    for (const int width : {8, 12, 16})
        tall(width, GlyphFormat::Pages::PageByPage);
    return formats;
}

// The dot orders a glyph painted in `format` may be shown in, and how each
// turns it: mirrored left-right, flipped top-bottom.
struct Turn {
    DotOrder order;
    bool mirror;
    bool flip;
};
std::vector<Turn> turnsOf(const GlyphFormat& format)
{
    std::vector<Turn> turns;
    for (const bool bit0 : {false, true}) {
        for (const bool firstLeft : {false, true}) {
            const DotOrder order{bit0, firstLeft};
            if (format.lines == GlyphFormat::Lines::Rows) {
                // Bit 0 on the left mirrors; the first row at the bottom flips.
                turns.push_back({order, bit0, firstLeft});
            } else if (format.height <= 8) {
                // The first byte on the left mirrors; bit 0 on top flips.
                turns.push_back({order, firstLeft, bit0});
            } else if (bit0 == format.order.bit0OnTop) {
                turns.push_back({order, firstLeft, false});
            }
        }
    }
    return turns;
}

// Sums of what each byte of a stretch is, from its start: any glyph's in
// two lookups, at every alignment.
struct StretchSums {
    std::vector<std::int32_t> ink;     // lit dots
    std::vector<std::int32_t> within;  // lit dots with a lit dot beside them in the byte
    std::vector<std::int32_t> lag1;    // lit dots shared with the next byte
    std::vector<std::int32_t> lag2;    // and with the byte after it
    std::vector<std::int32_t> fill;    // bytes 0xFF
    // Lit dots with no lit dot around them, corners too, where the
    // neighbouring line is the next byte (lone1) or the one after it (lone2).
    std::vector<std::int32_t> lone1;
    std::vector<std::int32_t> lone2;

    void learn(std::span<const std::uint8_t> bytes)
    {
        const std::size_t n = bytes.size();
        for (auto* sums : {&ink, &within, &lag1, &lag2, &fill, &lone1, &lone2})
            sums->assign(n + 1, 0);
        const auto spread = [](unsigned byte) { return byte | (byte << 1) | (byte >> 1); };
        const auto at = [&](std::size_t i, std::size_t back, std::size_t ahead) -> unsigned {
            return (i >= back ? spread(bytes[i - back]) : 0u) | (i + ahead < n ? spread(bytes[i + ahead]) : 0u);
        };
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t byte = bytes[i];
            const std::uint8_t next = i + 1 < n ? bytes[i + 1] : 0;
            const std::uint8_t after = i + 2 < n ? bytes[i + 2] : 0;
            ink[i + 1] = ink[i] + kInk[byte];
            within[i + 1] = within[i] + kInk[static_cast<std::uint8_t>(byte & (byte >> 1))];
            lag1[i + 1] = lag1[i] + kInk[static_cast<std::uint8_t>(byte & next)];
            lag2[i + 1] = lag2[i] + kInk[static_cast<std::uint8_t>(byte & after)];
            fill[i + 1] = fill[i] + (byte == 0xFF ? 1 : 0);
            const unsigned alone = byte & ~((byte << 1) | (byte >> 1));
            lone1[i + 1] = lone1[i] + kInk[static_cast<std::uint8_t>(alone & ~at(i, 1, 1))];
            lone2[i + 1] = lone2[i] + kInk[static_cast<std::uint8_t>(alone & ~at(i, 2, 2))];
        }
    }
};

// Stretches whose bytes look like glyphs of some font, whatever their size
// and alignment: in windows of a few glyphs' bytes, dots neither sparse nor
// dense, in strokes (more neighbours lit than dots as dense at random would
// have), hardly a lone dot (at random, and in code, one in seventy or more
// is; in the tiniest fonts, sparse, one in fifty), and little fill.
struct Stretch {
    std::int64_t from = 0;  // zero-based, within the bytes weighed
    std::int64_t to = 0;
    double score = 0;
};
constexpr std::int64_t kWindowBytes = 256;

std::vector<Stretch> stretchesOf(std::span<const std::uint8_t> bytes, const StretchSums& sums, int lag)
{
    std::vector<Stretch> found;
    const std::vector<std::int32_t>& shared = lag == 1 ? sums.lag1 : sums.lag2;
    const std::vector<std::int32_t>& lone = lag == 1 ? sums.lone1 : sums.lone2;
    const auto n = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t from = 0; from + kWindowBytes <= n; from += kWindowBytes / 2) {
        const auto p = static_cast<std::size_t>(from);
        const auto e = static_cast<std::size_t>(from + kWindowBytes);
        const std::int64_t ink = sums.ink[e] - sums.ink[p];
        const std::int64_t pairs = sums.within[e] - sums.within[p] + shared[e] - shared[p];
        const std::int64_t alone = lone[e] - lone[p];
        const std::int64_t fill = sums.fill[e] - sums.fill[p];
        const double density = static_cast<double>(ink) / (kWindowBytes * 8.0);
        const bool fontLike = density >= 0.04 && density <= 0.5 && fill * 8 <= kWindowBytes
                              && static_cast<double>(pairs) >= 1.45 * density * (7.0 / 8 + 1) * static_cast<double>(ink)
                              && (alone * 1000 <= ink * 8 || (alone * 1000 <= ink * 20 && density <= 0.3));
        if (!fontLike)
            continue;
        const double score = static_cast<double>(pairs) / (std::max(density, 0.01) * static_cast<double>(ink));
        if (!found.empty() && from <= found.back().to) {
            found.back().to = from + kWindowBytes;
            found.back().score = std::max(found.back().score, score);
        } else {
            found.push_back({from, from + kWindowBytes, score});
        }
    }
    return found;
}

// A glyph of a run as the close look sees it.
struct Seen {
    StrokeFacts facts;
    bool blank = false;
    bool letterLike = false;
    std::uint64_t key = 0;
};

Seen see(const GlyphBitmap& bitmap, std::span<const std::uint8_t> bytes)
{
    Seen seen;
    seen.facts = strokeFactsOf(bitmap);
    const StrokeFacts& f = seen.facts;
    seen.blank = f.dots == 0;
    const int cells = bitmap.width * bitmap.height;
    // Strokes: few pieces, hardly a lone dot, dots with neighbours.
    seen.letterLike = seen.blank
                      || (f.dots >= 2 && f.dots * 10 <= cells * 7 && f.pieces <= 3 && f.isolated <= 1
                          && (f.pairsAcross + f.pairsDown + f.pairsAslant) * 5 >= f.dots * 4);
    for (const std::uint8_t byte : bytes)
        seen.key = seen.key * 0x100000001B3ull + byte + 1;
    return seen;
}

// A run of glyphs at one alignment that look like a font's, and how much.
struct Run {
    int alignment = 0;
    std::int64_t first = 0;  // glyph index from the alignment
    std::int64_t count = 0;
    double quality = 0;
    double letters = 0;      // the share of inked glyphs that look like letters
    double distinct = 0;
    double steady = 0;       // the largest share of glyphs that light one same dot
    double density = 0;
    double pieces = 0;
    double lone = 0;         // lone dots a glyph
    double straight = 0;     // the share of neighbours side by side or one above the other, not corner to corner
};

// Glyph `i` belongs to a run where it looks like a letter, or where most of
// the eight around it do.
bool fitsRun(const std::vector<Seen>& glyphs, std::int64_t i, int needed)
{
    if (glyphs[static_cast<std::size_t>(i)].letterLike)
        return true;
    int alike = 0;
    for (std::int64_t j = i - 4; j < i + 4; ++j) {
        if (j >= 0 && j < static_cast<std::int64_t>(glyphs.size()))
            alike += glyphs[static_cast<std::size_t>(j)].letterLike ? 1 : 0;
    }
    return alike >= needed;
}

// What the inked glyphs of `from` to `to` (inclusive) hold, summed.
struct Tally {
    int inked = 0;
    int letters = 0;
    std::int64_t dots = 0;
    std::int64_t pieces = 0;
    std::int64_t lone = 0;
    std::int64_t straight = 0;
    std::int64_t aslant = 0;

    Tally(const std::vector<Seen>& glyphs, std::int64_t from, std::int64_t to)
    {
        for (std::int64_t g = std::max<std::int64_t>(0, from);
             g <= std::min<std::int64_t>(to, static_cast<std::int64_t>(glyphs.size()) - 1); ++g) {
            const Seen& seen = glyphs[static_cast<std::size_t>(g)];
            if (seen.blank)
                continue;
            ++inked;
            letters += seen.letterLike ? 1 : 0;
            dots += seen.facts.dots;
            pieces += seen.facts.pieces;
            lone += seen.facts.isolated;
            straight += seen.facts.pairsAcross + seen.facts.pairsDown;
            aslant += seen.facts.pairsAslant;
        }
    }
};

Run measure(const std::vector<Seen>& glyphs, const std::vector<GlyphBitmap>& bitmaps, int alignment, std::int64_t from,
            std::int64_t to, int cells)
{
    Run run;
    run.alignment = alignment;
    run.first = from;
    run.count = to - from + 1;
    const Tally tally(glyphs, from, to);
    const int inked = tally.inked;
    if (inked == 0)
        return run;
    run.letters = static_cast<double>(tally.letters) / inked;
    run.density = static_cast<double>(tally.dots) / (static_cast<double>(inked) * cells);
    run.pieces = static_cast<double>(tally.pieces) / inked;
    run.lone = static_cast<double>(tally.lone) / inked;
    run.straight = tally.straight + tally.aslant > 0
                       ? static_cast<double>(tally.straight) / static_cast<double>(tally.straight + tally.aslant)
                       : 0;
    run.steady = 1;
    // What no font's strokes are like is done with here; the rest is weighed whole.
    if (run.letters >= 0.8 && run.lone <= 0.45 && run.pieces <= 2.2) {
        std::unordered_set<std::uint64_t> keys;
        std::array<int, GlyphFormat::kLargest * GlyphFormat::kLargest> lit{};
        for (std::int64_t g = from; g <= to; ++g) {
            const Seen& seen = glyphs[static_cast<std::size_t>(g)];
            if (seen.blank)
                continue;
            keys.insert(seen.key);
            const GlyphBitmap& bitmap = bitmaps[static_cast<std::size_t>(g)];
            for (int y = 0; y < bitmap.height; ++y) {
                std::uint32_t row = bitmap.rows[static_cast<std::size_t>(y)];
                while (row != 0) {
                    const int bit = std::countr_zero(row);
                    row &= row - 1;
                    ++lit[static_cast<std::size_t>(y * bitmap.width + bitmap.width - 1 - bit)];
                }
            }
        }
        run.distinct = static_cast<double>(keys.size()) / inked;
        run.steady = static_cast<double>(*std::max_element(lit.begin(), lit.end())) / inked;
    }
    run.quality = 4 * run.letters + 2 * run.distinct - 2 * std::max(0.0, run.steady - 0.6)
                  - 0.5 * std::max(0.0, run.pieces - 1.5) - run.lone
                  + 0.4 * std::log2(static_cast<double>(std::min<std::int64_t>(inked, kMostCodes)));
    return run;
}

// Every run of at least the fewest glyphs a font has, at one alignment.
std::vector<Run> runsOf(const std::vector<Seen>& glyphs, const std::vector<GlyphBitmap>& bitmaps, int alignment,
                        int cells)
{
    std::vector<Run> runs;
    const auto n = static_cast<std::int64_t>(glyphs.size());
    std::int64_t i = 0;
    while (i < n) {
        if (!fitsRun(glyphs, i, 5)) {
            ++i;
            continue;
        }
        std::int64_t last = i;
        while (last + 1 < n && fitsRun(glyphs, last + 1, 5))
            ++last;
        std::int64_t from = i;
        while (from < last && glyphs[static_cast<std::size_t>(from)].blank)
            ++from;
        std::int64_t to = last;
        while (to > from && glyphs[static_cast<std::size_t>(to)].blank)
            --to;
        i = last + 1;
        int inked = 0;
        for (std::int64_t g = from; g <= to; ++g)
            inked += glyphs[static_cast<std::size_t>(g)].blank ? 0 : 1;
        if (inked >= kFewestGlyphs)
            runs.push_back(measure(glyphs, bitmaps, alignment, from, to, cells));
    }
    return runs;
}

// True where the inked glyphs of `from` to `to` look like a font's: nearly
// all like letters, hardly a lone dot, not as dense as noise; `strict` for
// a font with nothing else to go by.
bool looksLikeFont(const std::vector<Seen>& glyphs, std::int64_t from, std::int64_t to, int cells, bool strict = false)
{
    const Tally tally(glyphs, from, to - 1);
    const int inked = tally.inked;
    const std::int64_t letters = tally.letters;
    const std::int64_t lone = tally.lone;
    const std::int64_t dots = tally.dots;
    if (strict)
        return inked > 0 && letters * 8 >= inked * 7 && lone * 10 <= inked * 2 && dots * 100 <= std::int64_t{inked} * cells * 40;
    return inked == 0
           || (letters * 5 >= inked * 4 && lone * 10 <= inked * 3 && dots * 100 <= std::int64_t{inked} * cells * 45);
}

// How much the glyphs of an unnamed font must look like letters of ASCII, on the whole.
constexpr double kUnnamedLikeness = 0.55;
// The runs of a stretch in one format compared with ASCII's letters.
constexpr std::size_t kRunsNamed = 4;

// Blank lines in front of a glyph's ink in file order, and behind it.
std::pair<int, int> blankLines(std::span<const std::uint8_t> glyph, int perLine)
{
    const auto lines = static_cast<int>(glyph.size()) / perLine;
    const auto blank = [&](int line) {
        for (int b = 0; b < perLine; ++b) {
            if (glyph[static_cast<std::size_t>(line * perLine + b)] != 0)
                return false;
        }
        return true;
    };
    int front = 0;
    while (front < lines && blank(front))
        ++front;
    int back = 0;
    while (back < lines - front && blank(lines - 1 - back))
        ++back;
    return {front, back};
}

int blankRowsOnTop(const GlyphBitmap& glyph)
{
    int rows = 0;
    while (rows < glyph.height && glyph.rows[static_cast<std::size_t>(rows)] == 0)
        ++rows;
    return rows;
}

int blankColumnsOnTheLeft(const GlyphBitmap& glyph)
{
    std::uint32_t all = 0;
    for (int y = 0; y < glyph.height; ++y)
        all |= glyph.rows[static_cast<std::size_t>(y)];
    int columns = 0;
    while (columns < glyph.width && ((all >> (glyph.width - 1 - columns)) & 1) == 0)
        ++columns;
    return columns;
}

// How many bytes later than `start` glyphs begin, so that the digits and
// letters of a named run are whole, none of them cut at a glyph's edge, and
// the blank lines between glyphs fall to either side as in Debian's fonts of
// the nearest size.
std::int64_t settledShift(std::span<const std::uint8_t> bytes, std::int64_t start, std::int64_t firstGlyph,
                          std::int64_t count, std::optional<int> firstCode, const GlyphFormat& format,
                          const GlyphPainter& painter, bool mirror, bool flip)
{
    const bool rowsFormat = format.lines == GlyphFormat::Lines::Rows;
    // Page by page, a byte further is a column further in each page: only
    // the letters' likeness tells.
    const bool paged = !rowsFormat && format.pages == GlyphFormat::Pages::PageByPage;
    const int size = format.glyphBytes();
    const int perLine = paged ? 1 : format.bytesPerLine();
    const int lines = paged ? format.width : size / perLine;
    const int across = rowsFormat ? format.height : format.width;
    const double wanted = referenceLead(!rowsFormat, across) * across;
    const auto inked = [&](std::int64_t at, int line) {
        for (int b = 0; b < perLine; ++b) {
            if (bytes[static_cast<std::size_t>(at + line * perLine + b)] != 0)
                return true;
        }
        return false;
    };
    struct Settling {
        double likeness = -1;
        int crossings = 0;
        double gap = 0;
        int shift = 0;
    };
    std::optional<Settling> best;
    // Less than half a glyph either way: each glyph keeps most of its own lines.
    for (int shift = -(lines - 1) / 2; shift <= (lines - 1) / 2; ++shift) {
        const std::int64_t from = start + std::int64_t{shift} * perLine;
        Settling settling;
        settling.shift = shift;
        double likeness = 0;
        double lead = 0;
        int counted = 0;
        int letters = 0;
        for (std::int64_t g = firstGlyph; g < firstGlyph + count; ++g) {
            const std::int64_t at = from + g * size;
            if (at < 0 || at + 2 * size > static_cast<std::int64_t>(bytes.size()))
                continue;
            // Ink that goes on across the edge to the next glyph: a glyph cut in two.
            if (!paged && g + 1 < firstGlyph + count && inked(at, lines - 1) && inked(at + size, 0))
                ++settling.crossings;
            // Unnamed, every glyph counts, as whichever letter it looks like.
            const int code = firstCode ? *firstCode + static_cast<int>(g - firstGlyph) : 'A';
            const bool capital = (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z');
            if (!capital && !(code >= 'a' && code <= 'z'))
                continue;
            const auto glyph = bytes.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(size));
            const auto [front, back] = blankLines(glyph, format.bytesPerLine());
            if (front == size / format.bytesPerLine())
                continue;
            GlyphBitmap shown = painter.paint(glyph);
            if (mirror)
                shown = shown.mirrored();
            if (flip)
                shown = shown.flipped();
            const GlyphShape shape = shapeOf(shown);
            likeness += firstCode ? asciiLikeness(shape, code) : mostLikeAscii(shape);
            ++letters;
            if (capital) {
                lead += rowsFormat ? blankRowsOnTop(shown) : blankColumnsOnTheLeft(shown);
                ++counted;
            }
        }
        settling.likeness = letters > 0 ? likeness / letters : 0;
        settling.gap = counted > 0 ? std::abs(lead / counted - wanted) : 0;
        // The letters most like ASCII's; where they are alike (blank lines
        // moved), the fewest glyphs cut; then as Debian's fonts sit; then
        // the least shift.
        const auto better = [](const Settling& a, const Settling& b) {
            if (std::abs(a.likeness - b.likeness) > 0.02)
                return a.likeness > b.likeness;
            if (a.crossings != b.crossings)
                return a.crossings < b.crossings;
            if (std::abs(a.gap - b.gap) > 1e-9)
                return a.gap < b.gap;
            return std::abs(a.shift) < std::abs(b.shift);
        };
        if (!best || better(settling, *best))
            best = settling;
    }
    return std::int64_t{best ? best->shift : 0} * perLine;
}

// The fonts a stretch holds in one format: every run named as ASCII, or
// else the run that looks most like a font where nothing else could be.
// Every glyph of a stretch drawn in one format at each alignment, with
// what its strokes show, and the runs that look like a font's.
struct Painted {
    explicit Painted(const GlyphFormat& format) : painter(format), cells(format.width * format.height) {}

    GlyphPainter painter;
    int cells;
    std::vector<std::vector<GlyphBitmap>> bitmaps;  // per alignment
    std::vector<std::vector<Seen>> seen;            // per alignment
    std::vector<Run> runs;                          // the best first
};

Painted paintAlignments(std::span<const std::uint8_t> bytes, const GlyphFormat& format)
{
    Painted painted(format);
    const int size = format.glyphBytes();
    painted.bitmaps.resize(static_cast<std::size_t>(size));
    painted.seen.resize(static_cast<std::size_t>(size));
    for (int alignment = 0; alignment < size; ++alignment) {
        auto& bitmaps = painted.bitmaps[static_cast<std::size_t>(alignment)];
        auto& seen = painted.seen[static_cast<std::size_t>(alignment)];
        for (std::size_t at = static_cast<std::size_t>(alignment); at + static_cast<std::size_t>(size) <= bytes.size();
             at += static_cast<std::size_t>(size)) {
            const auto glyph = bytes.subspan(at, static_cast<std::size_t>(size));
            bitmaps.push_back(painted.painter.paint(glyph));
            seen.push_back(see(bitmaps.back(), glyph));
        }
        for (const Run& run : runsOf(seen, bitmaps, alignment, painted.cells))
            painted.runs.push_back(run);
    }
    std::sort(painted.runs.begin(), painted.runs.end(), [](const Run& a, const Run& b) { return a.quality > b.quality; });
    return painted;
}

// The glyphs and codes of a named font: from its run and the code the
// letters say it starts at, out over odd glyphs to code 0 and 255, the
// control codes kept only where they look like a PC's symbols.
struct CodeSpan {
    std::int64_t firstGlyph;
    std::int64_t count;
    int firstCode;
};

CodeSpan codeSpanOf(const std::vector<Seen>& seen, const Run& run, int firstCode, int cells)
{
    std::int64_t firstGlyph = run.first;
    std::int64_t count = run.count;
    const auto glyphCount = static_cast<std::int64_t>(seen.size());
    // No glyph stands before code 0. Blank glyphs in front may be the
    // first codes; other glyphs in front of the space are no font's.
    if (firstCode < 0) {
        firstGlyph -= firstCode;
        count += firstCode;
        firstCode = 0;
    }
    // A named font goes back over the odd glyph that looks like no letter, down to code 0.
    while (firstGlyph > 0 && firstCode > 0 && fitsRun(seen, firstGlyph - 1, 4)) {
        --firstGlyph;
        ++count;
        --firstCode;
    }
    // Glyphs of the control codes, in front of the space, are a font's
    // only where they look like one, as a PC's symbols do; where they are
    // all blank, the font is said to begin at the space.
    const auto controlsBlank = [&] {
        for (std::int64_t g = firstGlyph; g < firstGlyph + (' ' - firstCode); ++g) {
            if (!seen[static_cast<std::size_t>(g)].blank)
                return false;
        }
        return true;
    };
    if (firstCode < ' ' && count > ' ' - firstCode
        && (controlsBlank() || !looksLikeFont(seen, firstGlyph, firstGlyph + (' ' - firstCode), cells))) {
        firstGlyph += ' ' - firstCode;
        count -= ' ' - firstCode;
        firstCode = ' ';
    }
    // A named font goes on over the odd glyph that looks like no letter, up to code 255.
    while (firstGlyph + count < glyphCount && firstCode + count < kMostCodes && fitsRun(seen, firstGlyph + count, 4))
        ++count;
    // Past ASCII a font goes on only where its glyphs still look like letters, as accented ones do.
    if (firstCode + count > 0x80) {
        const std::int64_t ascii = 0x80 - firstCode;
        if (!looksLikeFont(seen, firstGlyph + ascii, std::min(firstGlyph + count, firstGlyph + ascii + 32), cells))
            count = ascii;
    }
    while (count > 0 && seen[static_cast<std::size_t>(firstGlyph + count - 1)].blank && firstCode + count - 1 > 0x7E)
        --count;
    return {firstGlyph, std::min(count, kMostCodes - firstCode), firstCode};
}

// The font a run is, where its letters name their codes: nothing where
// its strokes are no font's or no letter is like ASCII's.
std::optional<FontCandidate> namedFont(std::span<const std::uint8_t> bytes, std::int64_t offset,
                                       const GlyphFormat& plainFormat, const Painted& painted, const Run& run)
{
    // Only what looks like a font by its strokes is compared with letters:
    // a dot lit in nearly every glyph is a table's, not a font's.
    if (run.letters < 0.8 || run.lone > 0.45 || run.pieces > 2.2 || run.steady > 0.8 || run.distinct < 0.6)
        return std::nullopt;
    const int size = plainFormat.glyphBytes();
    const auto& bitmaps = painted.bitmaps[static_cast<std::size_t>(run.alignment)];
    const auto& seen = painted.seen[static_cast<std::size_t>(run.alignment)];
    std::vector<GlyphShape> shapes;
    for (std::int64_t g = run.first; g < run.first + run.count; ++g)
        shapes.push_back(shapeOf(bitmaps[static_cast<std::size_t>(g)]));
    std::optional<AsciiMatch> bestMatch;
    Turn bestTurn{};
    std::vector<GlyphShape> turned;
    for (const Turn& turn : turnsOf(plainFormat)) {
        turned.clear();
        for (const GlyphShape& shape : shapes)
            turned.push_back(shape.turned(turn.mirror, turn.flip));
        const auto match = matchAscii(turned);
        if (match && (!bestMatch || match->score > bestMatch->score)) {
            bestMatch = match;
            bestTurn = turn;
        }
    }
    if (!bestMatch)
        return std::nullopt;
    const CodeSpan codes = codeSpanOf(seen, run, bestMatch->firstCode, painted.cells);
    std::int64_t count = codes.count;
    if (count < kFewestGlyphs)
        return std::nullopt;
    FontCandidate candidate;
    candidate.format = plainFormat;
    candidate.format.order = bestTurn.order;
    const std::int64_t start =
        run.alignment + settledShift(bytes, run.alignment, codes.firstGlyph, count, codes.firstCode, candidate.format,
                                     painted.painter, bestTurn.mirror, bestTurn.flip);
    candidate.firstCode = codes.firstCode;
    candidate.first = Position(offset + start + codes.firstGlyph * size + 1);
    if (candidate.first < kFirstPosition) {
        candidate.first = candidate.first + size;
        --count;
        ++*candidate.firstCode;
    }
    candidate.glyphs = count;
    // Named fonts first, the best named first; then what only looks like one.
    candidate.score = 20 + 10 * bestMatch->score + run.quality;
    return candidate;
}

// The best run as a font no letter names: only where it leaves little
// doubt, its glyphs in strokes, mostly straight ones, hardly a lone dot,
// all different, no dot lit in most, its ends, eight glyphs at a time,
// looking so too; and each glyph like one of ASCII's, in the order that
// draws them upright.
std::optional<FontCandidate> unnamedFont(std::span<const std::uint8_t> bytes, std::int64_t offset,
                                         const GlyphFormat& plainFormat, const Painted& painted)
{
    Run run = painted.runs.front();
    const auto& seen = painted.seen[static_cast<std::size_t>(run.alignment)];
    const auto& bitmaps = painted.bitmaps[static_cast<std::size_t>(run.alignment)];
    std::int64_t from = run.first;
    std::int64_t to = run.first + run.count;
    while (to - from >= 8 && !looksLikeFont(seen, from, from + 8, painted.cells, true))
        from += 8;
    while (to - from >= 8 && !looksLikeFont(seen, to - 8, to, painted.cells, true))
        to -= 8;
    while (from < to && seen[static_cast<std::size_t>(from)].blank)
        ++from;
    while (to > from && seen[static_cast<std::size_t>(to - 1)].blank)
        --to;
    if (to - from < kFewestGlyphs)
        return std::nullopt;
    run = measure(seen, bitmaps, run.alignment, from, to - 1, painted.cells);
    if (!(run.letters >= 0.85 && run.distinct >= 0.9 && run.steady <= 0.7 && run.density >= 0.15 && run.density <= 0.45
          && run.pieces <= 1.5 && run.lone <= 0.1 && run.straight >= 0.5 && run.count >= 48))
        return std::nullopt;
    std::vector<GlyphShape> shapes;
    for (std::int64_t g = run.first; g < run.first + run.count; ++g) {
        GlyphShape shape = shapeOf(bitmaps[static_cast<std::size_t>(g)]);
        if (!shape.empty)
            shapes.push_back(shape);
    }
    double likeness = -1;
    Turn upright{};
    for (const Turn& turn : turnsOf(plainFormat)) {
        double sum = 0;
        for (const GlyphShape& shape : shapes)
            sum += mostLikeAscii(shape.turned(turn.mirror, turn.flip));
        const double mean = shapes.empty() ? 0 : sum / static_cast<double>(shapes.size());
        if (mean > likeness + 1e-9) {
            likeness = mean;
            upright = turn;
        }
    }
    if (likeness < kUnnamedLikeness)
        return std::nullopt;
    const int size = plainFormat.glyphBytes();
    FontCandidate candidate;
    candidate.format = plainFormat;
    candidate.format.order = upright.order;
    const std::int64_t start = run.alignment + settledShift(bytes, run.alignment, run.first, run.count, std::nullopt,
                                                            candidate.format, painted.painter, upright.mirror,
                                                            upright.flip);
    candidate.first = Position(offset + start + run.first * size + 1);
    candidate.glyphs = run.count;
    if (candidate.first < kFirstPosition) {
        candidate.first = candidate.first + size;
        --candidate.glyphs;
    }
    candidate.score = run.quality;
    return candidate;
}

std::vector<FontCandidate> judge(std::span<const std::uint8_t> bytes, std::int64_t offset, const GlyphFormat& plainFormat)
{
    const Painted painted = paintAlignments(bytes, plainFormat);
    if (painted.runs.empty())
        return {};
    const int size = plainFormat.glyphBytes();
    std::vector<FontCandidate> found;
    // Runs over the same bytes are one font at several alignments: the one
    // whose letters look most like ASCII's is it. Per named font, where it
    // is in `found`, and the bytes of its run.
    std::vector<std::pair<std::size_t, std::pair<std::int64_t, std::int64_t>>> namedBytes;
    for (std::size_t r = 0; r < std::min(painted.runs.size(), kRunsNamed); ++r) {
        const Run& run = painted.runs[r];
        const std::optional<FontCandidate> candidate = namedFont(bytes, offset, plainFormat, painted, run);
        if (!candidate)
            continue;
        const std::int64_t runFrom = run.alignment + run.first * size;
        const std::int64_t runTo = runFrom + run.count * size;
        const auto same = std::find_if(namedBytes.begin(), namedBytes.end(), [&](const auto& named) {
            return runFrom < named.second.second && named.second.first < runTo;
        });
        if (same == namedBytes.end()) {
            namedBytes.push_back({found.size(), {runFrom, runTo}});
            found.push_back(*candidate);
        } else if (candidate->score > found[same->first].score) {
            found[same->first] = *candidate;
        }
    }
    if (found.empty()) {
        if (std::optional<FontCandidate> candidate = unnamedFont(bytes, offset, plainFormat, painted))
            found.push_back(*candidate);
    }
    return found;
}

} // namespace

void FontScanner::feed(std::int64_t offset, std::span<const std::uint8_t> bytes)
{
    if (offset != nextOffset_)
        carry_.clear();  // a hole or a stretch passed over: no run goes across it
    std::vector<std::uint8_t> joined;
    std::int64_t start = offset;
    std::span<const std::uint8_t> weighed = bytes;
    if (!carry_.empty()) {
        joined.reserve(carry_.size() + bytes.size());
        joined.assign(carry_.begin(), carry_.end());
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        start = carryOffset_;
        weighed = joined;
    }
    weigh(start, weighed);
    const std::size_t kept = std::min(kCarry, weighed.size());
    carry_.assign(weighed.end() - static_cast<std::ptrdiff_t>(kept), weighed.end());
    carryOffset_ = start + static_cast<std::int64_t>(weighed.size() - kept);
    nextOffset_ = offset + static_cast<std::int64_t>(bytes.size());
}

void FontScanner::weigh(std::int64_t offset, std::span<const std::uint8_t> bytes)
{
    // Stretches of chunks that may hold a font, a chunk more on each side.
    StretchSums sums;
    std::size_t chunk = 0;
    while (chunk < bytes.size()) {
        const auto size = std::min(kChunk, bytes.size() - chunk);
        if (!mayHoldFont(bytes.subspan(chunk, size))) {
            chunk += kChunk;
            continue;
        }
        std::size_t end = chunk + kChunk;
        while (end < bytes.size() && mayHoldFont(bytes.subspan(end, std::min(kChunk, bytes.size() - end))))
            end += kChunk;
        const std::size_t regionFrom = chunk >= kChunk ? chunk - kChunk : 0;
        const std::size_t regionTo = std::min(bytes.size(), end + kChunk);
        // Weighed in pieces that overlap by more than a font's length, so
        // that memory stays flat however long a stretch looks like a font.
        for (std::size_t from = regionFrom; from < regionTo; from += kPiece - kPieceOverlap) {
            const std::size_t to = std::min(regionTo, from + kPiece);
            const auto piece = bytes.subspan(from, to - from);
            sums.learn(piece);
            for (const int lag : {1, 2}) {
                for (const Stretch& stretch : stretchesOf(piece, sums, lag)) {
                    // A few glyphs on either side: a font's first and last glyphs may look less like one.
                    const std::int64_t margin = kWindowBytes;
                    const std::int64_t first = std::max<std::int64_t>(0, stretch.from - margin);
                    const std::int64_t last = std::min<std::int64_t>(static_cast<std::int64_t>(piece.size()), stretch.to + margin);
                    keep(offset + static_cast<std::int64_t>(from) + first, piece.subspan(static_cast<std::size_t>(first),
                                                                          static_cast<std::size_t>(last - first)),
                         lag, stretch.score);
                }
            }
            // Stretches ending before the next piece are whole: looked at now.
            settle(offset + static_cast<std::int64_t>(from + kPiece - kPieceOverlap));
            if (to == regionTo)
                break;
        }
        chunk = end;
    }
    // What ends before the carry is whole too: the next block weighs the carry again.
    settle(offset + static_cast<std::int64_t>(bytes.size()) - static_cast<std::int64_t>(std::min(kCarry, bytes.size())));
}

void FontScanner::settle(std::int64_t before)
{
    std::vector<Kept> open;
    std::vector<Kept> whole;
    for (Kept& kept : kept_)
        (kept.offset + static_cast<std::int64_t>(kept.bytes.size()) > before ? open : whole).push_back(std::move(kept));
    kept_ = std::move(open);
    // Each stretch in each format looked at on its own: half of them on a
    // second thread, each half's findings kept in turn.
    struct Job {
        const Kept* kept;
        GlyphFormat format;
    };
    std::vector<Job> jobs;
    for (const Kept& kept : whole) {
        for (const GlyphFormat& format : formatsOf(kept.lag))
            jobs.push_back({&kept, format});
    }
    const auto judgeAll = [&jobs](std::size_t from, std::size_t to) {
        std::vector<FontCandidate> found;
        for (std::size_t job = from; job < to; ++job) {
            for (const FontCandidate& candidate : judge(jobs[job].kept->bytes, jobs[job].kept->offset, jobs[job].format))
                found.push_back(candidate);
        }
        return found;
    };
    if (jobs.size() >= 2) {
        const std::size_t half = jobs.size() / 2;
        auto second = std::async(std::launch::async, judgeAll, half, jobs.size());
        const std::vector<FontCandidate> first = judgeAll(0, half);
        found_.insert(found_.end(), first.begin(), first.end());
        const std::vector<FontCandidate> rest = second.get();
        found_.insert(found_.end(), rest.begin(), rest.end());
    } else {
        const std::vector<FontCandidate> all = judgeAll(0, jobs.size());
        found_.insert(found_.end(), all.begin(), all.end());
    }
    // The best, none overlapping a better one.
    std::sort(found_.begin(), found_.end(), [](const FontCandidate& a, const FontCandidate& b) { return a.score > b.score; });
    std::vector<FontCandidate> best;
    for (const FontCandidate& candidate : found_) {
        const bool covered = std::any_of(best.begin(), best.end(), [&](const FontCandidate& other) {
            return candidate.first <= other.last() && other.first <= candidate.last();
        });
        if (!covered)
            best.push_back(candidate);
        if (best.size() == static_cast<std::size_t>(kMostCandidates))
            break;
    }
    found_ = std::move(best);
}

void FontScanner::keep(std::int64_t offset, std::span<const std::uint8_t> bytes, int lag, double score)
{
    // Long stretches are looked at in overlapping parts of a few fonts' length.
    if (static_cast<std::int64_t>(bytes.size()) > kLongestStretch) {
        for (std::int64_t from = 0; from < static_cast<std::int64_t>(bytes.size()); from += kLongestStretch / 2) {
            const std::int64_t to = std::min<std::int64_t>(static_cast<std::int64_t>(bytes.size()), from + kLongestStretch);
            keep(offset + from, bytes.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)), lag,
                 score);
            if (to == static_cast<std::int64_t>(bytes.size()))
                break;
        }
        return;
    }
    const std::int64_t end = offset + static_cast<std::int64_t>(bytes.size());
    // The same stretch seen again, from the next block or piece: one, the union of both.
    for (Kept& kept : kept_) {
        const std::int64_t keptEnd = kept.offset + static_cast<std::int64_t>(kept.bytes.size());
        if (kept.lag != lag || offset > keptEnd || kept.offset > end)
            continue;
        const std::int64_t from = std::min(offset, kept.offset);
        const std::int64_t to = std::max(end, keptEnd);
        if (to - from > kLongestStretch)
            continue;
        std::vector<std::uint8_t> joined(static_cast<std::size_t>(to - from));
        std::copy(kept.bytes.begin(), kept.bytes.end(), joined.begin() + (kept.offset - from));
        std::copy(bytes.begin(), bytes.end(), joined.begin() + (offset - from));
        kept.offset = from;
        kept.bytes = std::move(joined);
        kept.score = std::max(kept.score, score);
        return;
    }
    kept_.push_back({offset, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), lag, score});
    if (kept_.size() > kMostStretches) {
        const auto worst = std::min_element(kept_.begin(), kept_.end(),
                                            [](const Kept& a, const Kept& b) { return a.score < b.score; });
        kept_.erase(worst);
    }
}

std::vector<FontCandidate> FontScanner::finish()
{
    carry_.clear();
    settle(std::numeric_limits<std::int64_t>::max());
    return std::move(found_);
}

std::optional<Position> FontCandidate::positionOfCode(int code) const
{
    if (!firstCode || code < *firstCode || code - *firstCode >= glyphs)
        return std::nullopt;
    return first + std::int64_t{code - *firstCode} * format.step();
}

std::string describeCandidate(const FontCandidate& candidate)
{
    std::string text = "Position " + decimalText(candidate.first) + ", " + candidate.format.words() + ", "
                       + std::to_string(candidate.glyphs) + (candidate.glyphs == 1 ? " glyph" : " glyphs");
    if (const auto letter = candidate.positionOfCode('A'))
        text += ", 'A' at " + decimalText(*letter);
    return text;
}

ScanOutcome scanForFonts(const ImageFiles& files, const std::function<bool(std::int64_t, std::int64_t)>& progress)
{
    ScanOutcome outcome;
    std::optional<MadeImage> image = MadeImage::open(files, outcome.problem);
    if (!image)
        return outcome;
    std::error_code error;
    const std::int64_t length = image->length(error);
    if (error) {
        outcome.problem = cannotRead("source", files.sourcePath, error);
        return outcome;
    }
    if (length == 0) {
        outcome.problem = "The source file \"" + files.sourcePath + "\" is empty: there is no font to find.";
        return outcome;
    }
    if (length < kFewestGlyphs * 4) {
        outcome.problem = "The source file \"" + files.sourcePath + "\" has only " + std::to_string(length)
                          + " bytes: too few for a font.";
        return outcome;
    }
    FontScanner scanner;
    std::vector<std::uint8_t> block(kScanBlock);
    std::int64_t offset = 0;
    while (offset < length) {
        if (!progress(offset, length)) {
            outcome.stopped = true;
            break;
        }
        // The source's holes read as zeros: nothing of a font is there.
        std::error_code holeError;
        const std::int64_t data = image->nextData(offset, length, holeError);
        if (!holeError && data > offset) {
            offset = data;
            continue;
        }
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(kScanBlock), length - offset));
        std::size_t got = 0;
        while (got < want) {
            const std::size_t now = image->readAt(offset + static_cast<std::int64_t>(got), std::span(block).subspan(got, want - got), error);
            if (error || now == 0)
                break;
            got += now;
        }
        if (error) {
            outcome.notes.push_back("Positions " + std::to_string(offset + 1) + " to " + std::to_string(offset + static_cast<std::int64_t>(want))
                                    + " could not be read (" + error.message() + ") and were passed over.");
            error.clear();
            offset += static_cast<std::int64_t>(want);
            continue;
        }
        if (got == 0)
            break;  // the file is shorter now than it was
        scanner.feed(offset, std::span(block).first(got));
        offset += static_cast<std::int64_t>(got);
    }
    std::error_code after;
    outcome.changed = image->length(after) != length;
    outcome.found = scanner.finish();
    return outcome;
}

} // namespace dotmatrix
