#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "position.h"

namespace dotmatrix {

// Codes of the characters a font's glyphs stand for: one byte each.
inline constexpr int kLastCode = 255;

// A glyph the user has named: the character with code `code` starts at
// `position`, and every glyph width on, one code further.
struct CharacterMark {
    Position position{0};
    int code = 0;
};

// A character typed or its code: one character stands for itself ("A", "7");
// a longer text is a code, decimal ("65") or hex ("0x41"). Either the code,
// or why the text is none.
struct TypedCharacter {
    std::optional<int> code;
    std::string problem;
};
[[nodiscard]] TypedCharacter readTypedCharacter(std::string_view utf8);

// The code of the glyph at `position` for glyphs `width` bytes wide; nothing
// where no code from 0 to 255 falls on it.
[[nodiscard]] std::optional<int> codeAt(const CharacterMark& mark, Position position, int width);
// Where the glyph of `code` starts; may lie before position 1.
[[nodiscard]] Position positionOfCode(const CharacterMark& mark, int code, int width);
// Why a mark can't stand: code 0 would start before position 1. Empty where it can.
[[nodiscard]] std::string markProblem(const CharacterMark& mark, int width);

// A code and its character, as labels show it: "65 A", "32 space", "10";
// characters 160 to 255 as Latin-1, in UTF-8.
[[nodiscard]] std::string codeText(int code);

} // namespace dotmatrix
