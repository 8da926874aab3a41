#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "position.h"

namespace dotmatrix {

// Disjoint, non-adjacent ranges of positions.
class PositionRanges {
public:
    struct Range {
        Position first;
        Position last;
        friend bool operator==(const Range&, const Range&) = default;
    };

    void clear() { ranges_.clear(); }
    // Adds `first` to `last`, merging what meets or touches it.
    void add(Position first, Position last);
    // Takes `first` to `last` out.
    void remove(Position first, Position last);
    // The ranges that meet `first` to `last`, cut to them, in order.
    [[nodiscard]] std::vector<Range> within(Position first, Position last) const;
    // The ranges of `first` to `last` that none of these meets, in order.
    [[nodiscard]] std::vector<Range> outside(Position first, Position last) const;

private:
    std::map<std::int64_t, std::int64_t> ranges_;  // first -> last
};

// What a pass has written to the target, kept in one place: the characters
// written back from the grid (or by anything else that writes glyphs) apart
// from the bytes copied from the source, with the bytes written back, and
// which of them an import brought, which the tail copy keeps. A pass writes
// without a gap from position 1 on, so what it has written is positions 1 to
// writtenThrough().
class WriteRecord {
public:
    using Range = PositionRanges::Range;

    // Forgets everything: a new pass has written nothing.
    void clear();
    // Positions `first` to `last` now hold the source's bytes, also where
    // they were written back before.
    void copied(Position first, Position last);
    // Positions from `first` on now hold `bytes`, of a glyph edited or not,
    // or of a checksum.
    void wroteBack(Position first, std::span<const std::uint8_t> bytes);
    // The same for the glyph of an imported sheet: the tail copy leaves it.
    void imported(Position first, std::span<const std::uint8_t> bytes);

    // The last position written, by a copy or a write-back; 0 before either.
    [[nodiscard]] Position writtenThrough() const { return writtenThrough_; }
    // True where the target holds what the pass wrote at `position`.
    [[nodiscard]] bool written(Position position) const { return position >= kFirstPosition && position <= writtenThrough_; }
    // Every range written back.
    [[nodiscard]] const PositionRanges& writtenBack() const { return writtenBack_; }
    // The written-back ranges that meet `first` to `last`, cut to them, in order.
    [[nodiscard]] std::vector<Range> writtenBackWithin(Position first, Position last) const
    {
        return writtenBack_.within(first, last);
    }
    // The stretches of `first` to `last` the tail copy writes: all but what an import brought.
    [[nodiscard]] std::vector<Range> copiedByTheTail(Position first, Position last) const
    {
        return imported_.outside(first, last);
    }
    // True where an import brought the byte at `position`.
    [[nodiscard]] bool wasImported(Position position) const { return !imported_.within(position, position).empty(); }
    // The positions written back, counted once each.
    [[nodiscard]] std::int64_t writtenBackCount() const { return static_cast<std::int64_t>(bytes_.size()); }
    // The byte last written back at `position`; nothing where none was.
    [[nodiscard]] std::optional<std::uint8_t> writtenBackByte(Position position) const;

private:
    Position writtenThrough_{0};
    PositionRanges writtenBack_;
    PositionRanges imported_;
    // The byte last written back at each of those positions: what the
    // target must hold there at the end.
    std::map<std::int64_t, std::uint8_t> bytes_;
};

} // namespace dotmatrix
