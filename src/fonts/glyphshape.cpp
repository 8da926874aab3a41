#include "glyphshape.h"

#include <algorithm>
#include <cmath>
#include <bit>
#include <cstdlib>
#include <string_view>

#include "referencefonts.h"

namespace dotmatrix {

namespace {

constexpr int kCells = GlyphShape::kAcross * GlyphShape::kDown;
// Samples a cell of a shape takes each way.
constexpr int kSamples = 3;
// The fewest digits and letters a run must hold to be named, and how alike
// they must look at the best code, and how much better than at any other.
constexpr int kFewestCompared = 16;
constexpr double kNamedScore = 0.45;
constexpr double kNamedMargin = 0.12;

// Lit dots of a word, from a table of bytes: popcount is a library call on
// the processors Debian builds for.
constexpr std::array<std::uint8_t, 256> kByteDots = [] {
    std::array<std::uint8_t, 256> dots{};
    for (unsigned byte = 0; byte < 256; ++byte)
        dots[byte] = static_cast<std::uint8_t>(std::popcount(byte));
    return dots;
}();

int dotsOf(std::uint32_t word)
{
    return kByteDots[word & 0xFF] + kByteDots[(word >> 8) & 0xFF] + kByteDots[(word >> 16) & 0xFF] + kByteDots[word >> 24];
}

bool isAlphanumeric(int code)
{
    return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

// A code's shape averaged over every reference font: quick to compare with.
struct Prototype {
    int code = 0;
    GlyphShape shape;
};

struct Reference {
    int width = 0;
    int height = 0;
    // Per code from reference::kFirstCode on.
    std::vector<GlyphShape> shapes;
    std::vector<GlyphBitmap> glyphs;
};

const std::vector<Reference>& references()
{
    static const std::vector<Reference> fonts = [] {
        std::vector<Reference> all;
        for (const reference::Font& font : reference::kFonts) {
            Reference made;
            made.width = font.width;
            made.height = font.height;
            for (int code = reference::kFirstCode; code <= reference::kLastCode; ++code) {
                GlyphBitmap glyph;
                glyph.width = font.width;
                glyph.height = font.height;
                const std::size_t first = static_cast<std::size_t>(code - reference::kFirstCode) * static_cast<std::size_t>(font.height);
                for (int y = 0; y < font.height; ++y)
                    glyph.rows[static_cast<std::size_t>(y)] = font.rows[first + static_cast<std::size_t>(y)];
                made.shapes.push_back(shapeOf(glyph));
                made.glyphs.push_back(glyph);
            }
            all.push_back(std::move(made));
        }
        return all;
    }();
    return fonts;
}

const std::vector<Prototype>& prototypes()
{
    static const std::vector<Prototype> made = [] {
        std::vector<Prototype> all;
        for (int code = reference::kFirstCode; code <= reference::kLastCode; ++code) {
            if (!isAlphanumeric(code))
                continue;
            Prototype prototype;
            prototype.code = code;
            GlyphShape& mean = prototype.shape;
            int count = 0;
            for (const Reference& font : references()) {
                const GlyphShape& shape = font.shapes[static_cast<std::size_t>(code - reference::kFirstCode)];
                if (shape.empty)
                    continue;
                for (std::size_t i = 0; i < mean.cells.size(); ++i)
                    mean.cells[i] += shape.cells[i];
                mean.logAspect += shape.logAspect;
                ++count;
            }
            double norm = 0;
            for (const float cell : mean.cells)
                norm += static_cast<double>(cell) * cell;
            if (count > 0 && norm > 1e-9) {
                for (float& cell : mean.cells)
                    cell = static_cast<float>(cell / std::sqrt(norm));
                mean.logAspect /= static_cast<float>(count);
                mean.empty = false;
            }
            all.push_back(prototype);
        }
        return all;
    }();
    return made;
}

} // namespace

GlyphShape GlyphShape::turned(bool mirror, bool flip) const
{
    GlyphShape shape = *this;
    for (int y = 0; y < kDown; ++y) {
        for (int x = 0; x < kAcross; ++x) {
            const int fromX = mirror ? kAcross - 1 - x : x;
            const int fromY = flip ? kDown - 1 - y : y;
            shape.cells[static_cast<std::size_t>(y * kAcross + x)] = cells[static_cast<std::size_t>(fromY * kAcross + fromX)];
        }
    }
    return shape;
}

double mostLikeAscii(const GlyphShape& glyph)
{
    double best = -1;
    for (const Prototype& prototype : prototypes())
        best = std::max(best, similarity(glyph, prototype.shape));
    return best;
}

double asciiLikeness(const GlyphShape& glyph, int code)
{
    for (const Prototype& prototype : prototypes()) {
        if (prototype.code == code)
            return similarity(glyph, prototype.shape);
    }
    return 0;
}

bool GlyphBitmap::blank() const
{
    return std::all_of(rows.begin(), rows.begin() + height, [](std::uint32_t row) { return row == 0; });
}

GlyphBitmap GlyphBitmap::mirrored() const
{
    GlyphBitmap turned = *this;
    for (int y = 0; y < height; ++y) {
        std::uint32_t row = 0;
        for (int x = 0; x < width; ++x)
            row |= lit(x, y) ? 1u << x : 0u;
        turned.rows[static_cast<std::size_t>(y)] = row;
    }
    return turned;
}

GlyphBitmap GlyphBitmap::flipped() const
{
    GlyphBitmap turned = *this;
    std::reverse(turned.rows.begin(), turned.rows.begin() + height);
    return turned;
}

GlyphPainter::GlyphPainter(const GlyphFormat& format) : format_(format)
{
    places_.resize(static_cast<std::size_t>(format.glyphBytes()));
    for (int byte = 0; byte < format.glyphBytes(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            const auto dot = format.dotOf(byte, bit);
            places_[static_cast<std::size_t>(byte)][static_cast<std::size_t>(bit)] =
                dot ? Place{static_cast<std::int8_t>(dot->x), static_cast<std::int8_t>(dot->y)} : Place{-1, -1};
        }
    }
}

GlyphBitmap GlyphPainter::paint(std::span<const std::uint8_t> glyph) const
{
    GlyphBitmap bitmap;
    bitmap.width = format_.width;
    bitmap.height = format_.height;
    const std::size_t count = std::min(glyph.size(), places_.size());
    for (std::size_t byte = 0; byte < count; ++byte) {
        unsigned value = glyph[byte];
        while (value != 0) {
            const int bit = std::countr_zero(value);
            value &= value - 1;
            const Place place = places_[byte][static_cast<std::size_t>(bit)];
            if (place.x >= 0)
                bitmap.rows[static_cast<std::size_t>(place.y)] |= 1u << (bitmap.width - 1 - place.x);
        }
    }
    return bitmap;
}

StrokeFacts strokeFactsOf(const GlyphBitmap& glyph)
{
    StrokeFacts facts;
    const int width = glyph.width;
    const int height = glyph.height;
    const std::uint32_t all = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    const auto spread = [](std::uint32_t row) { return row | (row << 1) | (row >> 1); };
    std::uint32_t columns = 0;
    std::uint32_t whole = all;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t row = glyph.rows[static_cast<std::size_t>(y)];
        const std::uint32_t above = y > 0 ? glyph.rows[static_cast<std::size_t>(y - 1)] : 0;
        const std::uint32_t below = y + 1 < height ? glyph.rows[static_cast<std::size_t>(y + 1)] : 0;
        facts.dots += dotsOf(row);
        facts.pairsAcross += dotsOf(row & (row >> 1));
        facts.pairsDown += dotsOf(row & below);
        facts.pairsAslant += dotsOf(row & (below << 1)) + dotsOf(row & (below >> 1));
        facts.isolated += dotsOf(row & ~((row << 1) | (row >> 1)) & ~spread(above) & ~spread(below));
        facts.rows += row != 0 ? 1 : 0;
        facts.fullLine = facts.fullLine || (width > 2 && row == all);
        columns |= row;
        whole &= row;
    }
    facts.columns = dotsOf(columns & all);
    facts.fullLine = facts.fullLine || (height > 2 && whole != 0);
    if (facts.isolated > 1) {
        facts.pieces = StrokeFacts::kManyPieces;
        return facts;
    }
    // Pieces: the runs of dots of each row, joined where they touch a run
    // of the row above, corners too.
    constexpr int kMostRuns = 64;
    std::array<std::uint32_t, kMostRuns> runs{};
    std::array<int, kMostRuns> parent{};
    std::array<int, GlyphFormat::kLargest + 1> rowStart{};
    int count = 0;
    const auto root = [&parent](int run) {
        while (parent[static_cast<std::size_t>(run)] != run)
            run = parent[static_cast<std::size_t>(run)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(run)])];
        return run;
    };
    int pieces = 0;
    for (int y = 0; y < height; ++y) {
        rowStart[static_cast<std::size_t>(y)] = count;
        std::uint32_t row = glyph.rows[static_cast<std::size_t>(y)];
        while (row != 0) {
            if (count == kMostRuns) {
                facts.pieces = StrokeFacts::kManyPieces;
                return facts;
            }
            const std::uint32_t lowest = row & (~row + 1);
            const std::uint32_t run = row & ~(row + lowest);
            row ^= run;
            runs[static_cast<std::size_t>(count)] = run;
            parent[static_cast<std::size_t>(count)] = count;
            ++pieces;
            if (y > 0) {
                for (int above = rowStart[static_cast<std::size_t>(y - 1)]; above < rowStart[static_cast<std::size_t>(y)]; ++above) {
                    if ((spread(run) & runs[static_cast<std::size_t>(above)]) == 0)
                        continue;
                    const int a = root(above);
                    const int b = root(count);
                    if (a != b) {
                        parent[static_cast<std::size_t>(b)] = a;
                        --pieces;
                    }
                }
            }
            ++count;
        }
    }
    facts.pieces = std::min(pieces, int{StrokeFacts::kManyPieces});
    return facts;
}

GlyphShape shapeOf(const GlyphBitmap& glyph)
{
    GlyphShape shape;
    int left = glyph.width;
    int right = -1;
    int top = glyph.height;
    int bottom = -1;
    for (int y = 0; y < glyph.height; ++y) {
        for (int x = 0; x < glyph.width; ++x) {
            if (glyph.lit(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return shape;
    double wide = right - left + 1;
    double tall = bottom - top + 1;
    shape.logAspect = static_cast<float>(std::log(tall / wide));
    // A stroke alone ('l', '-') keeps its place in a box a third as wide as tall.
    double x0 = left;
    double y0 = top;
    if (wide * 3 < tall) {
        x0 -= (tall / 3 - wide) / 2;
        wide = tall / 3;
    }
    if (tall * 3 < wide) {
        y0 -= (wide / 3 - tall) / 2;
        tall = wide / 3;
    }
    double sum = 0;
    for (int cy = 0; cy < GlyphShape::kDown; ++cy) {
        for (int cx = 0; cx < GlyphShape::kAcross; ++cx) {
            int lit = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const auto x = static_cast<int>(std::floor(x0 + (cx + (sx + 0.5) / kSamples) * wide / GlyphShape::kAcross));
                    const auto y = static_cast<int>(std::floor(y0 + (cy + (sy + 0.5) / kSamples) * tall / GlyphShape::kDown));
                    lit += x >= 0 && x < glyph.width && y >= 0 && y < glyph.height && glyph.lit(x, y) ? 1 : 0;
                }
            }
            const float value = static_cast<float>(lit) / (kSamples * kSamples);
            shape.cells[static_cast<std::size_t>(cy * GlyphShape::kAcross + cx)] = value;
            sum += value;
        }
    }
    const auto mean = static_cast<float>(sum / kCells);
    double norm = 0;
    for (float& cell : shape.cells) {
        cell -= mean;
        norm += static_cast<double>(cell) * cell;
    }
    if (norm < 1e-6)
        return shape;  // evenly inked: no shape to compare
    const auto scale = static_cast<float>(1 / std::sqrt(norm));
    for (float& cell : shape.cells)
        cell *= scale;
    shape.empty = false;
    return shape;
}

double similarity(const GlyphShape& a, const GlyphShape& b)
{
    if (a.empty || b.empty)
        return 0;
    float dot = 0;
    for (std::size_t i = 0; i < a.cells.size(); ++i)
        dot += a.cells[i] * b.cells[i];
    return static_cast<double>(dot) - 0.25 * std::abs(static_cast<double>(a.logAspect - b.logAspect));
}

std::optional<AsciiMatch> matchAscii(std::span<const GlyphShape> glyphs)
{
    const auto count = static_cast<int>(glyphs.size());
    if (count < kFewestCompared)
        return std::nullopt;
    const std::vector<Prototype>& all = prototypes();
    // Distinctive characters first: every glyph compared with them alone.
    static const std::vector<const Prototype*> anchors = [&all] {
        std::vector<const Prototype*> chosen;
        for (const Prototype& prototype : all) {
            if (std::string_view("0247ABEHKMRSaegkmr").find(static_cast<char>(prototype.code)) != std::string_view::npos)
                chosen.push_back(&prototype);
        }
        return chosen;
    }();
    std::vector<float> alike(static_cast<std::size_t>(count) * anchors.size(), 0);
    for (int i = 0; i < count; ++i) {
        for (std::size_t k = 0; k < anchors.size(); ++k)
            alike[static_cast<std::size_t>(i) * anchors.size() + k] =
                static_cast<float>(similarity(glyphs[static_cast<std::size_t>(i)], anchors[k]->shape));
    }
    // The first glyph's code: every glyph one code further.
    struct Guess {
        int first;
        double score;
    };
    std::vector<Guess> guesses;
    for (int first = -count + 1; first <= reference::kLastCode; ++first) {
        double sum = 0;
        int compared = 0;
        for (std::size_t k = 0; k < anchors.size(); ++k) {
            const int i = anchors[k]->code - first;
            if (i < 0 || i >= count)
                continue;
            sum += alike[static_cast<std::size_t>(i) * anchors.size() + k];
            ++compared;
        }
        if (compared * 3 >= static_cast<int>(anchors.size()))
            guesses.push_back({first, sum / compared});
    }
    if (guesses.empty())
        return std::nullopt;
    std::sort(guesses.begin(), guesses.end(), [](const Guess& a, const Guess& b) { return a.score > b.score; });
    guesses.resize(std::min<std::size_t>(guesses.size(), 6));
    // The likely codes weighed on every digit and letter.
    std::optional<AsciiMatch> best;
    double second = -1;
    for (const Guess& guess : guesses) {
        double sum = 0;
        int compared = 0;
        for (const Prototype& prototype : all) {
            const int i = prototype.code - guess.first;
            if (i < 0 || i >= count)
                continue;
            sum += similarity(glyphs[static_cast<std::size_t>(i)], prototype.shape);
            ++compared;
        }
        if (compared < kFewestCompared)
            continue;
        const double score = sum / compared;
        if (!best || score > best->score) {
            second = best ? best->score : second;
            best = AsciiMatch{guess.first, score, 0};
        } else {
            second = std::max(second, score);
        }
    }
    if (!best)
        return std::nullopt;
    best->margin = best->score - std::max(second, 0.0);
    if (best->score < kNamedScore || best->margin < kNamedMargin)
        return std::nullopt;
    return best;
}

double referenceLead(bool across, int lines)
{
    const std::vector<Reference>& fonts = references();
    int nearest = 1 << 20;
    for (const Reference& font : fonts)
        nearest = std::min(nearest, std::abs((across ? font.width : font.height) - lines));
    double shares = 0;
    int counted = 0;
    for (const Reference& font : fonts) {
        const int size = across ? font.width : font.height;
        if (std::abs(size - lines) != nearest)
            continue;
        for (int code = reference::kFirstCode; code <= reference::kLastCode; ++code) {
            if (!((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')))
                continue;
            const GlyphBitmap& glyph = font.glyphs[static_cast<std::size_t>(code - reference::kFirstCode)];
            int lead = 0;
            if (across) {
                while (lead < glyph.width && [&] {
                    for (int y = 0; y < glyph.height; ++y)
                        if (glyph.lit(lead, y))
                            return false;
                    return true;
                }())
                    ++lead;
            } else {
                while (lead < glyph.height && glyph.rows[static_cast<std::size_t>(lead)] == 0)
                    ++lead;
            }
            shares += static_cast<double>(lead) / size;
            ++counted;
        }
    }
    return counted > 0 ? shares / counted : 0;
}

} // namespace dotmatrix
