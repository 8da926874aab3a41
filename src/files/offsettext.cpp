#include "offsettext.h"

#include <algorithm>

namespace dotmatrix {

namespace {

const std::string kWhatToType = "Type the decimal position of the first byte of the font, from 1 to "
                                + std::to_string(kLastCharacterPosition.number()) + ".";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

StartingOffset readStartingOffset(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return {std::nullopt, "The starting offset is empty. " + kWhatToType};

    const bool digitsOnly = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    std::string quoted(1, '"');
    quoted.append(text).push_back('"');
    if (!digitsOnly)
        return {std::nullopt, "The starting offset " + quoted + " is not a decimal whole number. " + kWhatToType};

    std::int64_t value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
        if (value > kLastCharacterPosition.number())
            return {std::nullopt, "The starting offset " + quoted + " is beyond the highest position, "
                                      + std::to_string(kLastCharacterPosition.number()) + ". " + kWhatToType};
    }
    if (value < kFirstPosition.number())
        return {std::nullopt, "The starting offset " + quoted + " is below 1; position 1 is the first byte of a file. "
                                  + kWhatToType};
    return {Position(value), {}};
}

std::string decimalText(Position position)
{
    return std::to_string(position.number());
}

std::string endsBeyondTheHighest(const std::string& what)
{
    return what + " would end beyond position " + decimalText(kLastCharacterPosition)
           + ", the highest this tool can address.";
}

std::string hexDigits(std::uint64_t value, int digits)
{
    while (digits < 16 && (value >> (4 * digits)) != 0)
        ++digits;
    std::string text;
    for (int nibble = digits - 1; nibble >= 0; --nibble)
        text += "0123456789ABCDEF"[(value >> (4 * nibble)) & 0xF];
    return text;
}

std::string hexText(std::uint64_t value, int digits)
{
    return "0x" + hexDigits(value, digits);
}

} // namespace dotmatrix
