#include "writerecord.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

using Ranges = std::vector<PositionRanges::Range>;

PositionRanges::Range range(std::int64_t first, std::int64_t last)
{
    return {Position(first), Position(last)};
}

TEST(PositionRanges, MergeCutAndTellWhatLiesBetween)
{
    PositionRanges ranges;
    ranges.add(Position(10), Position(14));
    ranges.add(Position(20), Position(24));
    ranges.add(Position(15), Position(15));  // touches the first: one range
    EXPECT_EQ(ranges.within(Position(1), Position(100)), (Ranges{range(10, 15), range(20, 24)}));
    EXPECT_EQ(ranges.within(Position(12), Position(21)), (Ranges{range(12, 15), range(20, 21)}));
    EXPECT_EQ(ranges.outside(Position(8), Position(26)), (Ranges{range(8, 9), range(16, 19), range(25, 26)}));
    EXPECT_EQ(ranges.outside(Position(11), Position(13)), Ranges{});
    ranges.remove(Position(12), Position(22));
    EXPECT_EQ(ranges.within(Position(1), Position(100)), (Ranges{range(10, 11), range(23, 24)}));
    ranges.add(Position(5), Position(30));
    EXPECT_EQ(ranges.within(Position(1), Position(100)), Ranges{range(5, 30)});
}

TEST(WriteRecord, KeepsTheBytesWrittenBackUntilACopyReplacesThem)
{
    WriteRecord record;
    record.copied(Position(1), Position(9));
    const std::uint8_t glyph[] = {0xA1, 0xA2, 0xA3};
    const std::uint8_t sheet[] = {0xB1, 0xB2};
    record.wroteBack(Position(10), glyph);
    record.imported(Position(20), sheet);
    EXPECT_EQ(record.writtenThrough(), Position(21));
    EXPECT_EQ(record.writtenBackCount(), 5);
    EXPECT_EQ(record.writtenBackByte(Position(11)), std::optional<std::uint8_t>(0xA2));
    EXPECT_EQ(record.writtenBackByte(Position(13)), std::nullopt);
    EXPECT_TRUE(record.wasImported(Position(21)));
    EXPECT_FALSE(record.wasImported(Position(10)));
    // The tail copy goes around what the import brought.
    EXPECT_EQ(record.copiedByTheTail(Position(5), Position(30)), (Ranges{range(5, 19), range(22, 30)}));

    // A copy over written-back bytes makes them the source's again.
    record.copied(Position(11), Position(20));
    EXPECT_EQ(record.writtenBackWithin(Position(1), Position(30)), (Ranges{range(10, 10), range(21, 21)}));
    EXPECT_EQ(record.writtenBackByte(Position(11)), std::nullopt);
    EXPECT_EQ(record.writtenBackByte(Position(21)), std::optional<std::uint8_t>(0xB2));
    EXPECT_FALSE(record.wasImported(Position(20)));
    EXPECT_EQ(record.writtenThrough(), Position(21));

    record.clear();
    EXPECT_EQ(record.writtenThrough(), Position(0));
    EXPECT_EQ(record.writtenBackCount(), 0);
    EXPECT_FALSE(record.written(Position(1)));
}

} // namespace
} // namespace dotmatrix
