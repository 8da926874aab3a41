#include "writerecord.h"

#include <algorithm>

namespace dotmatrix {

void WriteRecord::clear()
{
    extent_ = Position(0);
    writtenBack_.clear();
}

void WriteRecord::copied(Position first, Position last)
{
    if (first <= last)
        extent_ = std::max(extent_, last);
}

void WriteRecord::wroteBack(Position first, Position last)
{
    if (first > last)
        return;
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

std::int64_t WriteRecord::writtenBackCount() const
{
    std::int64_t count = 0;
    for (const auto& [from, to] : writtenBack_)
        count += to - from + 1;
    return count;
}

} // namespace dotmatrix
