#include "fontscan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>

#include "offsettext.h"
#include "platformfile.h"

namespace dotmatrix {

namespace {

constexpr int kNarrowest = 4;
constexpr int kWidest = 7;
// The quick count goes by chunks; what passes it is weighed glyph by glyph.
constexpr std::size_t kChunk = 256;
// Glyphs a window weighs at once, and the fewest a font has in a row.
constexpr int kWindow = 32;
constexpr std::int64_t kFewestGlyphs = 16;
// What of one block is weighed again with the next, so that a font across
// the blocks' edge is seen whole.
constexpr std::size_t kCarry = 64 * 1024;
constexpr std::size_t kScanBlock = 4 << 20;
// The most of a stretch weighed at once, and how much two pieces share: more
// than the longest font (256 glyphs of 8 bytes) with room to spare.
constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kPieceOverlap = 8 * 1024;

bool isText(std::uint8_t byte)
{
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

// Letters, digits and blanks: what words are made of. A font kept with
// bit 7 in its unused row has bytes below 0x80 only, many of them printable.
bool isWordByte(std::uint8_t byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == ' '
           || byte == '.' || byte == ',';
}

// Lit dots of a byte, from a table: popcount is a library call on the
// processors Debian builds for.
constexpr std::array<std::uint8_t, 256> kInk = [] {
    std::array<std::uint8_t, 256> ink{};
    for (unsigned byte = 0; byte < 256; ++byte)
        ink[byte] = static_cast<std::uint8_t>(std::popcount(byte));
    return ink;
}();

// Per byte, one count to add: zeros in bits 0 to 9, fill in 10 to 19, text from 20.
constexpr std::array<std::uint32_t, 256> kChunkCounts = [] {
    std::array<std::uint32_t, 256> counts{};
    for (unsigned byte = 0; byte < 256; ++byte)
        counts[byte] = (byte == 0 ? 1u : 0u) | (byte == 0xFF ? 1u << 10 : 0u)
                       | ((byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r' ? 1u << 20 : 0u);
    return counts;
}();

// Could a chunk be part of a font? Fonts have blank columns, little fill
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

struct Glyph {
    bool inked = false;
    bool solid = false;
    bool texty = false;
    bool prose = false;  // every byte printable, none blank: a piece of text
    bool firstBlank = false;
    bool lastBlank = false;
    std::uint8_t rows = 0;  // every bit any column uses
    int ink = 0;
    int zeros = 0;   // blank columns
    int vertical = 0;  // lit dots with a lit dot below them in the column
    int within = 0;  // lit dots shared by neighbouring columns
    int across = 0;  // shared by the last column and the next glyph's first
    std::uint64_t key = 0;

    [[nodiscard]] bool good(int width) const
    {
        return !solid && !texty && !prose && ink <= 6 * width;
    }
};

// What each byte of a stretch is, worked out once for every width and alignment.
struct ByteFacts {
    std::uint8_t ink;       // lit dots
    std::uint8_t vertical;  // lit dots with a lit dot below
    std::uint8_t shared;    // lit dots shared with the next byte
    std::uint8_t kind;      // kZero, kFill, kWord, kPrintable
};
constexpr std::uint8_t kZero = 1;
constexpr std::uint8_t kFill = 2;
constexpr std::uint8_t kWord = 4;
constexpr std::uint8_t kPrintable = 8;

void learnFacts(std::span<const std::uint8_t> bytes, std::vector<ByteFacts>& facts)
{
    facts.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[i];
        const std::uint8_t next = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        facts[i] = {kInk[byte], kInk[static_cast<std::uint8_t>(byte & (byte >> 1))],
                    kInk[static_cast<std::uint8_t>(byte & next)],
                    static_cast<std::uint8_t>((byte == 0 ? kZero : 0) | (byte == 0xFF ? kFill : 0)
                                              | (isWordByte(byte) ? kWord : 0)
                                              | (isText(byte) && byte != 0 ? kPrintable : 0))};
    }
}

void glyphsOf(std::span<const std::uint8_t> bytes, const std::vector<ByteFacts>& facts, std::size_t first, int width,
              std::vector<Glyph>& glyphs)
{
    glyphs.clear();
    const auto wide = static_cast<std::size_t>(width);
    for (std::size_t at = first; at + wide <= bytes.size(); at += wide) {
        Glyph glyph;
        std::uint8_t all = 0xFF;
        for (std::size_t column = 0; column < wide; ++column) {
            const std::uint8_t byte = bytes[at + column];
            const ByteFacts& fact = facts[at + column];
            glyph.rows |= byte;
            glyph.ink += fact.ink;
            glyph.zeros += fact.kind & kZero;
            glyph.vertical += fact.vertical;
            all &= fact.kind;
            glyph.key = glyph.key * 257 + byte;
            if (column + 1 < wide)
                glyph.within += fact.shared;
        }
        const std::size_t last = at + wide - 1;
        if (last + 1 < bytes.size())
            glyph.across = facts[last].shared;
        glyph.inked = glyph.ink > 0;
        glyph.solid = (all & kFill) != 0;
        glyph.texty = (all & kWord) != 0;
        glyph.prose = (all & kPrintable) != 0;
        glyph.firstBlank = bytes[at] == 0;
        glyph.lastBlank = bytes[last] == 0;
        glyphs.push_back(glyph);
    }
}

// Of the glyphs of a stretch: how many leave the top or the bottom row
// free, and how many of the inked ones leave an edge column blank.
struct EdgeCounts {
    int inked = 0;
    int firstBlank = 0;
    int lastBlank = 0;
    int topFree = 0;
    int bottomFree = 0;

    void add(const Glyph& glyph)
    {
        topFree += (glyph.rows & 0x80) == 0 ? 1 : 0;
        bottomFree += (glyph.rows & 0x01) == 0 ? 1 : 0;
        if (!glyph.inked)
            return;
        ++inked;
        firstBlank += glyph.firstBlank ? 1 : 0;
        lastBlank += glyph.lastBlank ? 1 : 0;
    }
};

// How much the glyphs from `first` on, `count` of them, look like a font.
double windowScore(const std::vector<Glyph>& glyphs, std::size_t first, std::size_t count, int width)
{
    int good = 0;
    int inked = 0;
    int solid = 0;
    int texty = 0;
    EdgeCounts edges;
    int ink = 0;
    int zeros = 0;
    int vertical = 0;
    int within = 0;
    int across = 0;
    std::array<std::uint64_t, kWindow> keys{};
    for (std::size_t i = first; i < first + count; ++i) {
        const Glyph& glyph = glyphs[i];
        good += glyph.good(width) ? 1 : 0;
        inked += glyph.inked && !glyph.solid ? 1 : 0;
        solid += glyph.solid ? 1 : 0;
        texty += glyph.texty ? 1 : 0;
        edges.add(glyph);
        ink += glyph.ink;
        zeros += glyph.zeros;
        vertical += glyph.vertical;
        within += glyph.within;
        across += glyph.across;
        keys[i - first] = glyph.key;
    }
    std::sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(count));
    const auto distinct = std::unique(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(count)) - keys.begin();
    const double n = static_cast<double>(count);
    if (inked * 2 < static_cast<int>(count))
        return 0;  // mostly blank: no font
    const double columns = std::max(1.0, static_cast<double>(ink));
    // Strokes go on within a glyph more than across the gap to the next one.
    const double strokes = (static_cast<double>(within) / (width - 1) - static_cast<double>(across)) * width / columns;
    // Letters fill a fair share of their dots, in strokes down the columns;
    // tables of small numbers are mostly blank, with dots here and there.
    const double density = columns / (std::max(1, inked) * width * 8.0);
    const double fullness = 1.5 - 6 * std::max(0.0, 0.15 - density) - 6 * std::max(0.0, density - 0.55);
    const double blankShare = zeros / (n * width);
    return 1.5 * good / n + std::max(edges.firstBlank, edges.lastBlank) / n
           + std::max(edges.topFree, edges.bottomFree) / n
           + 2.0 * std::clamp(strokes, -1.0, 1.0) + static_cast<double>(distinct) / n + 0.5 * inked / n
           + fullness + 2.0 * vertical / columns - 4.0 * std::max(0.0, blankShare - 0.4) - 3.0 * solid / n
           - 2.0 * texty / n;
}

// How the glyphs of a run stand upright: the order, and how many bytes
// later (or earlier) its first glyph starts.
struct Upright {
    DotOrder order;
    int shift = 0;
};

// The row least used is the bottom one (the descenders' row). The gap
// between letters is on the right, and the stems of letters on the left:
// where one edge column is blank in most glyphs, the glyphs are read so that
// it falls on the right and the data column with more ink on the left, a
// byte earlier or later where that puts the gap at the other end of a glyph.
Upright uprightOf(std::span<const std::uint8_t> bytes, int width)
{
    std::int64_t bit0 = 0;
    std::int64_t bit7 = 0;
    double bitSum = 0;
    std::int64_t dots = 0;
    // Per glyph, which of two columns has more ink: votes for [a][b] > [b][a].
    std::array<std::array<std::int64_t, 8>, 8> heavier{};
    std::int64_t firstBlank = 0;
    std::int64_t lastBlank = 0;
    std::int64_t glyphs = 0;
    for (std::size_t at = 0; at + static_cast<std::size_t>(width) <= bytes.size(); at += static_cast<std::size_t>(width)) {
        std::uint8_t rows = 0;
        for (int column = 0; column < width; ++column) {
            const std::uint8_t byte = bytes[at + static_cast<std::size_t>(column)];
            rows |= byte;

            for (int bit = 0; bit < 8; ++bit) {
                if (((byte >> bit) & 1) != 0) {
                    bitSum += bit;
                    ++dots;
                }
            }
        }
        if (rows == 0)
            continue;
        ++glyphs;
        for (const int a : {0, 1}) {
            for (const int b : {width - 2, width - 1}) {
                const int inkA = std::popcount(bytes[at + static_cast<std::size_t>(a)]);
                const int inkB = std::popcount(bytes[at + static_cast<std::size_t>(b)]);
                if (inkA > inkB)
                    ++heavier[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
                else if (inkB > inkA)
                    ++heavier[static_cast<std::size_t>(b)][static_cast<std::size_t>(a)];
            }
        }
        bit0 += rows & 1;
        bit7 += rows >> 7;
        firstBlank += bytes[at] == 0 ? 1 : 0;
        lastBlank += bytes[at + static_cast<std::size_t>(width) - 1] == 0 ? 1 : 0;
    }
    Upright upright;
    if (bit0 != bit7)
        upright.order.bit0OnTop = bit7 < bit0;
    else
        upright.order.bit0OnTop = dots > 0 && bitSum / static_cast<double>(dots) > 3.5;
    // More glyphs have their heavier column, the stem, on the left.
    // Votes of the glyphs whose column `a` has more ink than column `b`, against.
    const auto votes = [&heavier](int a, int b) {
        return std::pair{heavier[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)],
                         heavier[static_cast<std::size_t>(b)][static_cast<std::size_t>(a)]};
    };
    // Where the votes are close (a font of nearly symmetric letters), the
    // gap is taken to follow the letter in file order, as most fonts keep it.
    const auto clear = [](std::pair<std::int64_t, std::int64_t> vote) {
        return std::abs(vote.first - vote.second) * 10 > vote.first + vote.second;
    };
    const bool gapLast = lastBlank * 5 >= glyphs * 3 && lastBlank >= firstBlank;
    const bool gapFirst = !gapLast && firstBlank * 5 >= glyphs * 3;
    if (gapLast || gapFirst) {
        // The data, in file order, reads left to right where its first
        // column is the heavier; the gap then follows it, so the glyphs
        // start a byte later where it stood in front.
        const auto vote = gapLast ? votes(0, width - 2) : votes(1, width - 1);
        upright.order.firstByteLeft = !clear(vote) || vote.first > vote.second;
        if (gapLast)
            upright.shift = upright.order.firstByteLeft ? 0 : -1;
        else
            upright.shift = upright.order.firstByteLeft ? 1 : 0;
    } else {
        const auto vote = votes(0, width - 1);
        upright.order.firstByteLeft = !clear(vote) || vote.first > vote.second;
    }
    return upright;
}

// The two alignments at `width` that look most like glyph edges: where
// neighbouring bytes share the fewest dots and a blank column is.
std::array<int, 2> likelyAlignments(std::span<const std::uint8_t> bytes, const std::vector<ByteFacts>& facts,
                                    std::int64_t base, int width)
{
    std::array<std::int64_t, kWidest> shared{};
    std::array<std::int64_t, kWidest> blank{};
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        const auto residue = static_cast<std::size_t>((base + static_cast<std::int64_t>(i)) % width);
        shared[residue] += facts[i].shared;
        blank[residue] += facts[i].kind & kZero;
    }
    // Alignment a puts glyph edges between residues a - 1 and a.
    std::array<std::int64_t, kWidest> edge{};
    for (int a = 0; a < width; ++a) {
        const auto before = static_cast<std::size_t>((a + width - 1) % width);
        edge[static_cast<std::size_t>(a)] = 4 * (blank[before] + blank[static_cast<std::size_t>(a)]) - 2 * shared[before];
    }
    int best = 0;
    int second = 1;
    if (edge[1] > edge[0])
        std::swap(best, second);
    for (int a = 2; a < width; ++a) {
        if (edge[static_cast<std::size_t>(a)] > edge[static_cast<std::size_t>(best)]) {
            second = best;
            best = a;
        } else if (edge[static_cast<std::size_t>(a)] > edge[static_cast<std::size_t>(second)]) {
            second = a;
        }
    }
    return {best, second};
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
    std::vector<ByteFacts> facts;
    std::vector<Glyph> glyphs;
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
            const auto region = bytes.subspan(from, to - from);
            const std::int64_t base = offset + static_cast<std::int64_t>(from);
            learnFacts(region, facts);
            for (int width = kNarrowest; width <= kWidest; ++width) {
                FontCandidate best;
                for (const int alignment : likelyAlignments(region, facts, base, width)) {
                    const auto skip = static_cast<std::size_t>(((alignment - base) % width + width) % width);
                    glyphsOf(region, facts, skip, width, glyphs);
                    if (glyphs.size() < static_cast<std::size_t>(kWindow))
                        continue;
                    // The best window, then as far on either side as glyphs go on looking like a font.
                    std::vector<double> scores;
                    double top = 0;
                    std::size_t at = 0;
                    for (std::size_t first = 0; first + kWindow <= glyphs.size(); first += kWindow / 2) {
                        scores.push_back(windowScore(glyphs, first, kWindow, width));
                        if (scores.back() > top) {
                            top = scores.back();
                            at = first;
                        }
                    }
                    // What the glyphs of the best window share goes on in the
                    // run: the blank edge column, the free row.
                    EdgeCounts edges;
                    for (std::size_t i = at; i < at + kWindow; ++i) {
                        if (glyphs[i].inked)
                            edges.add(glyphs[i]);
                    }
                    const auto most = [&edges](int count) { return count * 10 >= edges.inked * 7; };
                    const bool gapFirst = most(edges.firstBlank) && edges.firstBlank >= edges.lastBlank;
                    const bool gapLast = most(edges.lastBlank) && !gapFirst;
                    const std::uint8_t freeRow = most(edges.topFree) && edges.topFree >= edges.bottomFree ? 0x80
                                                 : most(edges.bottomFree)                                ? 0x01
                                                                                                          : 0;
                    const auto fontLike = [&](std::size_t i) {
                        const Glyph& glyph = glyphs[i];
                        if (!glyph.inked)
                            return true;
                        return glyph.good(width) && (!gapFirst || glyph.firstBlank) && (!gapLast || glyph.lastBlank)
                               && (glyph.rows & freeRow) == 0;
                    };
                    // A glyph belongs to the run where it, or six of the eight
                    // from it on, look like the window's.
                    const auto fits = [&](std::size_t i, int step) {
                        if (fontLike(i))
                            return true;
                        int alike = 0;
                        for (int k = 0; k < 8; ++k) {
                            const auto j = static_cast<std::ptrdiff_t>(i) + k * step;
                            if (j < 0 || j >= static_cast<std::ptrdiff_t>(glyphs.size()))
                                break;
                            alike += fontLike(static_cast<std::size_t>(j)) ? 1 : 0;
                        }
                        return alike >= 6;
                    };
                    std::size_t first = at;
                    while (first > 0 && fits(first - 1, -1))
                        --first;
                    std::size_t last = at + kWindow - 1;
                    while (last + 1 < glyphs.size() && fits(last + 1, 1))
                        ++last;
                    // Blank glyphs at either end are no part of it.
                    while (first < last && !glyphs[first].inked)
                        ++first;
                    while (last > first && !glyphs[last].inked)
                        --last;
                    const auto run = static_cast<std::int64_t>(last - first + 1);
                    // The run as a whole counts, not its best window alone; a
                    // font has a few hundred glyphs at most.
                    double sum = 0;
                    int windows = 0;
                    for (std::size_t window = 0; window < scores.size(); ++window) {
                        const std::size_t start = window * (kWindow / 2);
                        if (start >= first && start + kWindow <= last + 1) {
                            sum += scores[window];
                            ++windows;
                        }
                    }
                    const double score = (windows > 0 ? sum / windows : top)
                                         + 0.3 * std::log2(static_cast<double>(std::min<std::int64_t>(run, 256)));
                    if (run < kFewestGlyphs || score <= best.score)
                        continue;
                    const Upright upright = uprightOf(region.subspan(skip + first * static_cast<std::size_t>(width),
                                                                     static_cast<std::size_t>(run * width)),
                                                      width);
                    best.first = Position(base + static_cast<std::int64_t>(skip + first * static_cast<std::size_t>(width)) + 1
                                          + upright.shift);
                    if (best.first < kFirstPosition)
                        best.first = best.first + width;
                    best.format = GlyphFormat::original(width);
                    best.glyphs = run;
                    best.score = score;
                    best.format.order = upright.order;
                }
                if (best.glyphs > 0)
                    keep(best);
            }
            if (to == regionTo)
                break;
        }
        chunk = end;
    }
}

void FontScanner::keep(const FontCandidate& candidate)
{
    const auto overlaps = [&candidate](const FontCandidate& other) {
        return candidate.first <= other.last() && other.first <= candidate.last();
    };
    // A better one where this one is leaves it out; worse ones it covers go.
    for (const FontCandidate& other : kept_) {
        if (overlaps(other) && other.score >= candidate.score)
            return;
    }
    std::erase_if(kept_, overlaps);
    kept_.push_back(candidate);
    std::sort(kept_.begin(), kept_.end(), [](const FontCandidate& a, const FontCandidate& b) { return a.score > b.score; });
    if (kept_.size() > static_cast<std::size_t>(kMostCandidates))
        kept_.resize(kMostCandidates);
}

std::vector<FontCandidate> FontScanner::finish()
{
    carry_.clear();
    return kept_;
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

ScanOutcome scanForFonts(const ScanSource& files, const std::function<bool(std::int64_t, std::int64_t)>& progress)
{
    ScanOutcome outcome;
    std::error_code error;
    PlatformFile source = PlatformFile::open(files.sourcePath, PlatformFile::Access::ReadOnly, error);
    const auto cannot = [&](const std::string& which, const std::string& path) {
        outcome.problem = "Cannot read the " + which + " file \"" + path + "\": " + error.message() + ".";
        return outcome;
    };
    if (error)
        return cannot("source", files.sourcePath);
    std::optional<PlatformFile> target;
    if (!files.targetPath.empty() && files.writtenThrough.number() > 0) {
        target = PlatformFile::open(files.targetPath, PlatformFile::Access::ReadOnly, error);
        if (error)
            return cannot("target", files.targetPath);
    }
    const std::int64_t length = std::max(source.size(error), files.writtenThrough.number());
    if (error)
        return cannot("source", files.sourcePath);
    if (length == 0) {
        outcome.problem = "The source file \"" + files.sourcePath + "\" is empty: there is no font to find.";
        return outcome;
    }
    if (length < kFewestGlyphs * kNarrowest) {
        outcome.problem = "The source file \"" + files.sourcePath + "\" has only " + std::to_string(length)
                          + " bytes: too few for a font.";
        return outcome;
    }
    FontScanner scanner;
    std::vector<std::uint8_t> block(kScanBlock);
    const std::int64_t written = files.writtenThrough.number();
    std::int64_t offset = 0;
    while (offset < length) {
        if (!progress(offset, length)) {
            outcome.stopped = true;
            break;
        }
        // The source's holes read as zeros: nothing of a font is there.
        PlatformFile& from = target && offset < written ? *target : source;
        const std::int64_t limit = target && offset < written ? written : length;
        std::error_code holeError;
        const std::int64_t data = from.nextData(offset, limit, holeError);
        if (!holeError && data > offset) {
            offset = data;
            continue;
        }
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(kScanBlock), limit - offset));
        std::size_t got = 0;
        while (got < want) {
            const std::size_t now = from.readAt(offset + static_cast<std::int64_t>(got), std::span(block).subspan(got, want - got), error);
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
    outcome.changed = std::max(source.size(after), written) != length;
    outcome.found = scanner.finish();
    return outcome;
}

} // namespace dotmatrix
