#pragma once

#include <optional>
#include <string>
#include <vector>

#include "glyphformat.h"
#include "position.h"

namespace dotmatrix {

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
    std::optional<GlyphFormat> format;
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
