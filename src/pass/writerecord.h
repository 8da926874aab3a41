#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "position.h"

namespace dotmatrix {

// What a pass has written to the target, kept in one place: the characters
// written back from the grid (or by anything else that writes glyphs) apart
// from the bytes copied from the source. A pass writes without a gap from
// position 1 on, so what it has written is positions 1 to extent().
class WriteRecord {
public:
    struct Range {
        Position first;
        Position last;
        friend bool operator==(const Range&, const Range&) = default;
    };

    // Forgets everything: a new pass has written nothing.
    void clear();
    // Positions `first` to `last` now hold the source's bytes, also where
    // they were written back before.
    void copied(Position first, Position last);
    // Positions from `first` on now hold `bytes`, of a glyph edited or not,
    // or of a checksum.
    void wroteBack(Position first, std::span<const std::uint8_t> bytes);

    // The last position written, by a copy or a write-back; 0 before either.
    [[nodiscard]] Position extent() const { return extent_; }
    // True where the target holds what the pass wrote at `position`.
    [[nodiscard]] bool written(Position position) const { return position >= kFirstPosition && position <= extent_; }
    // The written-back ranges that meet `first` to `last`, cut to them, in order.
    [[nodiscard]] std::vector<Range> writtenBackWithin(Position first, Position last) const;
    // The positions written back, counted once each.
    [[nodiscard]] std::int64_t writtenBackCount() const { return static_cast<std::int64_t>(bytes_.size()); }
    // The byte last written back at `position`; nothing where none was.
    [[nodiscard]] std::optional<std::uint8_t> writtenBackByte(Position position) const;

private:
    Position extent_{0};
    // Disjoint, non-adjacent ranges of written-back positions: first -> last.
    std::map<std::int64_t, std::int64_t> writtenBack_;
    // The byte last written back at each of those positions: what the
    // target must hold there at the end.
    std::map<std::int64_t, std::uint8_t> bytes_;
};

} // namespace dotmatrix
