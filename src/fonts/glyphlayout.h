#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "position.h"

namespace dotmatrix {

// Where the glyphs of a view over a whole file stand: rows of glyphs of one
// width, each row labelled on its left, scrolled by rows. Plain arithmetic on
// positions and pixels, with no widget: the overview asks it, and so may any
// other view of many glyphs.
class GlyphLayout {
public:
    static constexpr int kDotRows = 8;
    // Rows of a scroll bar: an int counts them, so a huge disk is scrolled
    // through some rows at a time.
    static constexpr std::int64_t kMostScrollRows = std::int64_t{1} << 30;

    struct Rect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        [[nodiscard]] bool empty() const { return width <= 0 || height <= 0; }
        friend bool operator==(const Rect&, const Rect&) = default;
    };

    // Glyphs of `bytes` bytes (1 to 7), a dot of each bit, eight tall.
    void setWidth(int bytes) { setShape(bytes, bytes, kDotRows); }
    // Glyphs `step` bytes apart, drawn `across` by `down` dots; the
    // alignment is kept within one step.
    void setShape(int step, int across, int down);
    void setDotSize(int pixels) { dot_ = pixels; }
    void setViewport(int width, int height);
    void setLabelWidth(int pixels) { labelWidth_ = pixels; }
    // The length the view covers: its glyphs end there.
    void setLength(std::int64_t bytes);
    // Glyphs start `bytes` later (or earlier) in the file.
    void shiftAlignment(int bytes);
    // Glyphs start at `position` and every glyph width from it.
    void alignTo(Position position);
    // Puts `row` at the top, kept between the first and the last that fill the view.
    void setTopRow(std::int64_t row);

    // The bytes from glyph to glyph.
    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] int across() const { return across_; }
    [[nodiscard]] int down() const { return down_; }
    [[nodiscard]] int dotSize() const { return dot_; }
    [[nodiscard]] int labelWidth() const { return labelWidth_; }
    [[nodiscard]] std::int64_t length() const { return length_; }
    [[nodiscard]] std::int64_t alignment() const { return alignment_; }
    [[nodiscard]] std::int64_t topRow() const { return topRow_; }

    [[nodiscard]] int pitchX() const { return (across_ + 1) * dot_; }
    [[nodiscard]] int pitchY() const { return (down_ + 1) * dot_; }
    [[nodiscard]] int columns() const;
    [[nodiscard]] int rowsInView() const;
    [[nodiscard]] std::int64_t rowBytes() const { return std::int64_t{columns()} * width_; }
    [[nodiscard]] std::int64_t rowStart(std::int64_t row) const { return 1 + alignment_ + row * rowBytes(); }
    [[nodiscard]] std::int64_t rowCount() const;
    [[nodiscard]] std::int64_t lastTopRow() const;
    [[nodiscard]] std::int64_t rowOf(std::int64_t position) const;
    // The first position of the glyph that holds `position`.
    [[nodiscard]] std::int64_t glyphHolding(std::int64_t position) const;
    // The first and the last glyph of the file.
    [[nodiscard]] std::int64_t firstGlyph() const { return 1 + alignment_; }
    [[nodiscard]] std::int64_t lastGlyph() const;

    // The glyph under a point of the view; nothing in the gaps, on the labels
    // or behind the file's end.
    [[nodiscard]] std::optional<std::int64_t> glyphAt(int x, int y) const;
    // Where the glyph at `position` stands; empty where it is not in view.
    [[nodiscard]] Rect glyphRect(std::int64_t position) const;
    // The first positions of the glyphs in view.
    [[nodiscard]] std::vector<Position> glyphsInView() const;

    // The scroll bar: rows per step, its range and its value for the top row.
    [[nodiscard]] std::int64_t rowsPerStep() const;
    [[nodiscard]] int scrollMaximum() const { return static_cast<int>(lastTopRow() / rowsPerStep()); }
    [[nodiscard]] int scrollValue() const { return static_cast<int>(topRow_ / rowsPerStep()); }
    [[nodiscard]] int scrollPage() const;
    // The top row for a scroll bar value; the top row itself where it is within that step.
    [[nodiscard]] std::int64_t rowOfScrollValue(int value) const;

private:
    int width_ = 5;
    int across_ = 5;
    int down_ = kDotRows;
    int dot_ = 4;
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    int labelWidth_ = 0;
    std::int64_t length_ = 0;
    std::int64_t alignment_ = 0;
    std::int64_t topRow_ = 0;
};

} // namespace dotmatrix
