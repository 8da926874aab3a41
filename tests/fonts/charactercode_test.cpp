#include "charactercode.h"

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

TEST(CharacterCodes, AreTypedAsACharacterOrACodeAndCountedOneAGlyph)
{
    const std::pair<const char*, int> typed[] = {
        {"A", 65}, {"7", 55}, {" ", 32}, {"65", 65}, {"0x41", 65}, {"0X7e", 126}, {"0", 48}, {"00", 0},
        {" 255 ", 255}, {"\xC3\xA9", 0xE9},
    };
    for (const auto& [text, code] : typed) {
        const TypedCharacter read = readTypedCharacter(text);
        ASSERT_TRUE(read.code) << text << ": " << read.problem;
        EXPECT_EQ(*read.code, code) << text;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"", "Type a character"},        {"AB", "neither one character nor a code"},
        {"0x1G", "neither"},             {"256", "no code from 0 to 255"},
        {"-1", "no code from 0 to 255"}, {"99999999999", "no code from 0 to 255"},
        {"\xE2\x82\xAC", "has code 8364"},
    };
    for (const auto& [text, said] : refused) {
        const TypedCharacter read = readTypedCharacter(text);
        EXPECT_FALSE(read.code) << text;
        EXPECT_NE(read.problem.find(said), std::string::npos) << text << ": " << read.problem;
    }

    const CharacterMark mark{Position(1001), 'A'};
    EXPECT_EQ(codeAt(mark, Position(1011), 5), 'C');
    EXPECT_EQ(codeAt(mark, Position(1012), 5), std::nullopt);  // no glyph starts there
    EXPECT_EQ(codeAt(mark, Position(1001 + 5 * 191), 5), std::nullopt);  // beyond 255
    EXPECT_EQ(positionOfCode(mark, '0', 5), Position(1001 - 5 * 17));
    EXPECT_EQ(markProblem(mark, 5), "");
    EXPECT_NE(markProblem({Position(11), 'A'}, 5).find("would put code 0 at position -314"), std::string::npos);
    EXPECT_EQ(codeText('A'), "65 A");
    EXPECT_EQ(codeText(' '), "32 space");
    EXPECT_EQ(codeText(10), "10");
    EXPECT_EQ(codeText(0xE9), "233 \xC3\xA9");
}

} // namespace
} // namespace dotmatrix
