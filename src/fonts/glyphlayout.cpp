#include "glyphlayout.h"

#include <algorithm>

namespace dotmatrix {

void GlyphLayout::setShape(int step, int across, int down)
{
    width_ = std::max(1, step);
    across_ = std::max(1, across);
    down_ = std::max(1, down);
    alignment_ %= width_;
    setTopRow(topRow_);
}

void GlyphLayout::setViewport(int width, int height)
{
    viewWidth_ = width;
    viewHeight_ = height;
    setTopRow(topRow_);
}

void GlyphLayout::setLength(std::int64_t bytes)
{
    length_ = std::max<std::int64_t>(0, bytes);
    setTopRow(topRow_);
}

void GlyphLayout::shiftAlignment(int bytes)
{
    alignment_ = ((alignment_ + bytes) % width_ + width_) % width_;
    setTopRow(topRow_);
}

void GlyphLayout::alignTo(Position position)
{
    alignment_ = ((position.number() - 1) % width_ + width_) % width_;
    setTopRow(topRow_);
}

void GlyphLayout::setTopRow(std::int64_t row)
{
    topRow_ = std::clamp<std::int64_t>(row, 0, lastTopRow());
}

int GlyphLayout::columns() const
{
    return std::max(1, (viewWidth_ - labelWidth_) / pitchX());
}

int GlyphLayout::rowsInView() const
{
    return std::max(1, viewHeight_ / pitchY());
}

std::int64_t GlyphLayout::rowCount() const
{
    const std::int64_t bytes = length_ - alignment_;
    return bytes <= 0 ? 0 : (bytes + rowBytes() - 1) / rowBytes();
}

std::int64_t GlyphLayout::lastTopRow() const
{
    return std::max<std::int64_t>(0, rowCount() - rowsInView());
}

std::int64_t GlyphLayout::rowOf(std::int64_t position) const
{
    return std::max<std::int64_t>(0, (position - 1 - alignment_) / rowBytes());
}

std::int64_t GlyphLayout::glyphHolding(std::int64_t position) const
{
    const std::int64_t into = ((position - 1 - alignment_) % width_ + width_) % width_;
    const std::int64_t first = position - into;
    return first < 1 ? first + width_ : first;
}

std::int64_t GlyphLayout::lastGlyph() const
{
    const std::int64_t first = firstGlyph();
    return std::max(first, first + (length_ - first) / width_ * width_);
}

std::optional<std::int64_t> GlyphLayout::glyphAt(int x, int y) const
{
    const int inside = x - labelWidth_;
    if (inside < 0 || y < 0)
        return std::nullopt;
    const int column = inside / pitchX();
    const int row = y / pitchY();
    if (column >= columns() || row >= rowsInView() || inside % pitchX() >= across_ * dot_
        || y % pitchY() >= down_ * dot_)
        return std::nullopt;
    const std::int64_t position = rowStart(topRow_ + row) + std::int64_t{column} * width_;
    if (position > length_)
        return std::nullopt;
    return position;
}

GlyphLayout::Rect GlyphLayout::glyphRect(std::int64_t position) const
{
    const std::int64_t offset = position - rowStart(topRow_);
    if (offset < 0 || (offset % width_) != 0)
        return {};
    const std::int64_t index = offset / width_;
    const std::int64_t row = index / columns();
    if (row >= rowsInView())
        return {};
    const int column = static_cast<int>(index % columns());
    return {labelWidth_ + column * pitchX(), static_cast<int>(row) * pitchY(), across_ * dot_, down_ * dot_};
}

std::vector<Position> GlyphLayout::glyphsInView() const
{
    std::vector<Position> glyphs;
    const int perRow = columns();
    for (std::int64_t row = topRow_; row < std::min(topRow_ + rowsInView(), rowCount()); ++row) {
        for (int column = 0; column < perRow; ++column) {
            const std::int64_t position = rowStart(row) + std::int64_t{column} * width_;
            if (position <= length_)
                glyphs.emplace_back(position);
        }
    }
    return glyphs;
}

std::int64_t GlyphLayout::rowsPerStep() const
{
    return std::max<std::int64_t>(1, (rowCount() + kMostScrollRows - 1) / kMostScrollRows);
}

int GlyphLayout::scrollPage() const
{
    return std::max(1, static_cast<int>(rowsInView() / rowsPerStep()));
}

std::int64_t GlyphLayout::rowOfScrollValue(int value) const
{
    if (topRow_ / rowsPerStep() == value)
        return topRow_;
    return std::int64_t{value} * rowsPerStep();
}

} // namespace dotmatrix
