#include "charactercode.h"

#include <charconv>

#include "offsettext.h"

namespace dotmatrix {

namespace {

// The one code point of a UTF-8 text of one character; nothing otherwise.
std::optional<int> soleCodePoint(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    int point = lead;
    if (lead >= 0xF0) {
        length = 4;
        point = lead & 0x07;
    } else if (lead >= 0xE0) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xC0) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0x80) {
        return std::nullopt;
    }
    if (text.size() != length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        point = (point << 6) | (next & 0x3F);
    }
    return point;
}

} // namespace

TypedCharacter readTypedCharacter(std::string_view utf8)
{
    while (!utf8.empty() && (utf8.front() == ' ' || utf8.front() == '\t') && utf8.size() > 1)
        utf8.remove_prefix(1);
    while (!utf8.empty() && (utf8.back() == ' ' || utf8.back() == '\t') && utf8.size() > 1)
        utf8.remove_suffix(1);
    // Built piece by piece: GCC 12 misjudges chains of + here (-Wrestrict).
    std::string quoted(1, '"');
    quoted.append(utf8);
    quoted += '"';
    const auto said = [&quoted](const char* why) {
        std::string problem = quoted;
        problem += why;
        return TypedCharacter{std::nullopt, problem};
    };
    if (utf8.empty())
        return {std::nullopt, "Type a character, such as A, or its code, such as 65 or 0x41."};
    if (const auto point = soleCodePoint(utf8)) {
        if (*point > kLastCode) {
            TypedCharacter refused = said(" has code ");
            refused.problem += std::to_string(*point);
            refused.problem += ": a font of one byte a character holds codes 0 to 255 only.";
            return refused;
        }
        return {*point, {}};
    }
    std::string_view digits = utf8;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    int code = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, base);
    const bool number = error == std::errc() && end == digits.data() + digits.size();
    if (!number && error != std::errc::result_out_of_range)
        return said(" is neither one character nor a code: type a character, such as A, or its code, such as 65 "
                    "or 0x41.");
    if (!number || code < 0 || code > kLastCode)
        return said(" is no code from 0 to 255.");
    return {code, {}};
}

std::optional<int> codeAt(const CharacterMark& mark, Position position, int width)
{
    const std::int64_t distance = position.number() - mark.position.number();
    if (width <= 0 || distance % width != 0)
        return std::nullopt;
    const std::int64_t code = mark.code + distance / width;
    if (code < 0 || code > kLastCode)
        return std::nullopt;
    return static_cast<int>(code);
}

Position positionOfCode(const CharacterMark& mark, int code, int width)
{
    return mark.position + std::int64_t{code - mark.code} * width;
}

std::string markProblem(const CharacterMark& mark, int width)
{
    const Position first = positionOfCode(mark, 0, width);
    if (first >= kFirstPosition)
        return {};
    return "Code " + std::to_string(mark.code) + " at position " + decimalText(mark.position)
           + " would put code 0 at position " + std::to_string(first.number())
           + ", before the first byte of the file.";
}

std::string codeText(int code)
{
    std::string text = std::to_string(code);
    if (code == ' ')
        return text + " space";
    if (code > ' ' && code < 0x7F)
        return text + " " + static_cast<char>(code);
    if (code >= 0xA1 && code <= 0xFF) {
        text += ' ';
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

} // namespace dotmatrix
