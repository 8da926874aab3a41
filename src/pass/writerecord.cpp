#include "writerecord.h"

#include <algorithm>

namespace dotmatrix {

void PositionRanges::add(Position first, Position last)
{
    if (first > last)
        return;
    std::int64_t from = first.number();
    std::int64_t to = last.number();
    auto it = ranges_.upper_bound(from);
    if (it != ranges_.begin() && std::prev(it)->second + 1 >= from)
        --it;
    while (it != ranges_.end() && it->first <= to + 1) {
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        it = ranges_.erase(it);
    }
    ranges_.emplace(from, to);
}

void PositionRanges::remove(Position first, Position last)
{
    auto it = ranges_.upper_bound(first.number());
    if (it != ranges_.begin())
        --it;
    while (it != ranges_.end() && it->first <= last.number()) {
        const auto [from, to] = *it;
        if (to < first.number()) {
            ++it;
            continue;
        }
        it = ranges_.erase(it);
        if (from < first.number())
            ranges_.emplace(from, first.number() - 1);
        if (to > last.number())
            ranges_.emplace(last.number() + 1, to);
    }
}

std::vector<PositionRanges::Range> PositionRanges::within(Position first, Position last) const
{
    std::vector<Range> found;
    auto it = ranges_.upper_bound(first.number());
    if (it != ranges_.begin())
        --it;
    for (; it != ranges_.end() && it->first <= last.number(); ++it) {
        const std::int64_t from = std::max(it->first, first.number());
        const std::int64_t to = std::min(it->second, last.number());
        if (from <= to)
            found.push_back({Position(from), Position(to)});
    }
    return found;
}

std::vector<PositionRanges::Range> PositionRanges::outside(Position first, Position last) const
{
    std::vector<Range> gaps;
    Position from = first;
    for (const Range& range : within(first, last)) {
        if (range.first > from)
            gaps.push_back({from, range.first - 1});
        from = range.last + 1;
    }
    if (from <= last)
        gaps.push_back({from, last});
    return gaps;
}

void WriteRecord::clear()
{
    writtenThrough_ = Position(0);
    writtenBack_.clear();
    imported_.clear();
    bytes_.clear();
}

void WriteRecord::copied(Position first, Position last)
{
    if (first > last)
        return;
    writtenThrough_ = std::max(writtenThrough_, last);
    // The source's bytes replace whatever was written back there.
    bytes_.erase(bytes_.lower_bound(first.number()), bytes_.upper_bound(last.number()));
    writtenBack_.remove(first, last);
    imported_.remove(first, last);
}

void WriteRecord::wroteBack(Position first, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    const Position last = first + (static_cast<std::int64_t>(bytes.size()) - 1);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes_[first.number() + static_cast<std::int64_t>(i)] = bytes[i];
    writtenThrough_ = std::max(writtenThrough_, last);
    writtenBack_.add(first, last);
}

void WriteRecord::imported(Position first, std::span<const std::uint8_t> bytes)
{
    wroteBack(first, bytes);
    if (!bytes.empty())
        imported_.add(first, first + (static_cast<std::int64_t>(bytes.size()) - 1));
}

std::optional<std::uint8_t> WriteRecord::writtenBackByte(Position position) const
{
    const auto it = bytes_.find(position.number());
    if (it == bytes_.end())
        return std::nullopt;
    return it->second;
}

} // namespace dotmatrix
