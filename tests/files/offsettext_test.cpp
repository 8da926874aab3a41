#include "offsettext.h"

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

TEST(StartingOffset, AcceptsDecimalPositionsFromOneToTheHighest)
{
    const std::pair<const char*, std::int64_t> accepted[] = {
        {"1", 1}, {"0010", 10}, {" 42 ", 42}, {"\t7", 7}, {"2147483647", 2147483647}, {"000000000002147483647", 2147483647},
    };
    for (const auto& [text, number] : accepted) {
        const StartingOffset offset = readStartingOffset(text);
        ASSERT_TRUE(offset.position) << text;
        EXPECT_EQ(offset.position->number(), number) << text;
        EXPECT_TRUE(offset.problem.empty());
    }
}

TEST(StartingOffset, RefusesEverythingElseWithAReason)
{
    for (const char* text : {"", "0", "0000", "-1", "+5", "1e3", "12 3", "0x10", "2147483648", "１２"}) {
        const StartingOffset offset = readStartingOffset(text);
        EXPECT_FALSE(offset.position) << text;
        EXPECT_NE(offset.problem.find("2147483647"), std::string::npos) << offset.problem;
    }
}

TEST(StartingOffset, ShowsPositionsInPlainDigits)
{
    EXPECT_EQ(decimalText(Position(10)), "10");
    EXPECT_EQ(decimalText(Position(2147483647)), "2147483647");
}

} // namespace
} // namespace dotmatrix
