#pragma once

#include <optional>
#include <string>
#include <vector>

#include "glyphtools.h"
#include "position.h"

namespace dotmatrix {

// A glyph format as the command line gives it: the width in bytes and the
// dot order, in the words the window names them.
struct GlyphFormatWords {
    int width = 5;
    DotOrder order;
};
// Reads "width 6, bit 0 on top, first byte on the left", or a part of it
// ("6", "width 6"); what is left out is the original default (width 5, bit
// 7 on top, first byte on the right). Why not, where the words are no format.
struct FormatReading {
    std::optional<GlyphFormatWords> format;
    std::string problem;
};
[[nodiscard]] FormatReading readFormatWords(const std::string& words);

// What the program was started to do.
struct Invocation {
    enum class Mode { Window, Help, Version, FindFonts, Export, Apply, Checksum };
    Mode mode = Mode::Window;
    // The window's source and target; the file a command reads.
    std::string source;
    std::string target;
    std::string file;
    std::string sheet;
    std::string output;
    std::optional<GlyphFormatWords> format;
    std::optional<Position> at;
    std::optional<long long> count;
    bool fixChecksum = false;
    // Why the command line is refused; empty where it is not.
    std::string problem;
};

// Reads the arguments after the program's name.
[[nodiscard]] Invocation readCommandLine(const std::vector<std::string>& arguments);

// What --help prints.
[[nodiscard]] std::string helpText();

} // namespace dotmatrix
