#include "writerecord.h"

#include <algorithm>

namespace dotmatrix {

void WriteRecord::clear()
{
    extent_ = Position(0);
    writtenBack_.clear();
    bytes_.clear();
}

void WriteRecord::copied(Position first, Position last)
{
    if (first > last)
        return;
    extent_ = std::max(extent_, last);
    // The source's bytes replace whatever was written back there.
    bytes_.erase(bytes_.lower_bound(first.number()), bytes_.upper_bound(last.number()));
    auto it = writtenBack_.upper_bound(first.number());
    if (it != writtenBack_.begin())
        --it;
    while (it != writtenBack_.end() && it->first <= last.number()) {
        const auto [from, to] = *it;
        if (to < first.number()) {
            ++it;
            continue;
        }
        it = writtenBack_.erase(it);
        if (from < first.number())
            writtenBack_.emplace(from, first.number() - 1);
        if (to > last.number())
            writtenBack_.emplace(last.number() + 1, to);
    }
}

void WriteRecord::wroteBack(Position first, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    const Position last = first + (static_cast<std::int64_t>(bytes.size()) - 1);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes_[first.number() + static_cast<std::int64_t>(i)] = bytes[i];
    extent_ = std::max(extent_, last);
    std::int64_t from = first.number();
    std::int64_t to = last.number();
    // Swallow every range that meets or touches this one.
    auto it = writtenBack_.upper_bound(from);
    if (it != writtenBack_.begin() && std::prev(it)->second + 1 >= from)
        --it;
    while (it != writtenBack_.end() && it->first <= to + 1) {
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        it = writtenBack_.erase(it);
    }
    writtenBack_.emplace(from, to);
}

std::vector<WriteRecord::Range> WriteRecord::writtenBackWithin(Position first, Position last) const
{
    std::vector<Range> ranges;
    auto it = writtenBack_.upper_bound(first.number());
    if (it != writtenBack_.begin())
        --it;
    for (; it != writtenBack_.end() && it->first <= last.number(); ++it) {
        const std::int64_t from = std::max(it->first, first.number());
        const std::int64_t to = std::min(it->second, last.number());
        if (from <= to)
            ranges.push_back({Position(from), Position(to)});
    }
    return ranges;
}

std::optional<std::uint8_t> WriteRecord::writtenBackByte(Position position) const
{
    const auto it = bytes_.find(position.number());
    if (it == bytes_.end())
        return std::nullopt;
    return it->second;
}

} // namespace dotmatrix
