#include "commandline.h"

#include "glyphformat.h"
#include "offsettext.h"

namespace dotmatrix {

Invocation readCommandLine(const std::vector<std::string>& arguments)
{
    Invocation invocation;
    using Mode = Invocation::Mode;
    const auto refuse = [&invocation](const std::string& why) {
        invocation.problem = why;
        return invocation;
    };
    std::vector<std::string> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        const auto command = [&](Mode mode) {
            if (invocation.mode != Mode::Window && invocation.mode != mode)
                return false;
            invocation.mode = mode;
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            invocation.mode = Mode::Help;
            return invocation;
        }
        if (argument == "--version") {
            invocation.mode = Mode::Version;
            return invocation;
        }
        if (argument == "--find-fonts" || argument == "--checksum" || argument == "--export") {
            const Mode mode = argument == "--find-fonts" ? Mode::FindFonts
                              : argument == "--checksum" ? Mode::Checksum
                                                         : Mode::Export;
            const auto file = value();
            if (!command(mode) || !file)
                return refuse(argument + " takes one file, and one command at a time");
            invocation.file = *file;
        } else if (argument == "--apply") {
            const auto sheet = value();
            if (!command(Mode::Apply) || !sheet)
                return refuse("--apply takes a PNG sheet, and one command at a time");
            invocation.sheet = *sheet;
        } else if (argument == "--source" || argument == "--target" || argument == "--output") {
            const auto path = value();
            if (!path)
                return refuse(argument + " takes a file");
            (argument == "--source" ? invocation.source : argument == "--target" ? invocation.target : invocation.output) =
                *path;
        } else if (argument == "--format") {
            const auto words = value();
            if (!words)
                return refuse("--format takes the format in words, such as \"width 6, bit 0 on top, first byte on "
                              "the left\"");
            const GlyphFormatReading reading = readGlyphFormat(*words);
            if (!reading.format)
                return refuse(reading.problem);
            invocation.format = reading.format;
        } else if (argument == "--at") {
            const auto text = value();
            const StartingOffset position = readStartingOffset(text.value_or(""));
            if (!position.position)
                return refuse("--at takes a position from 1 to 2147483647: " + position.problem);
            invocation.at = position.position;
        } else if (argument == "--count") {
            const auto text = value();
            const StartingOffset count = readStartingOffset(text.value_or(""));
            if (!count.position || count.position->number() > 65536)
                return refuse("--count takes a number of glyphs from 1 to 65536");
            invocation.count = count.position->number();
        } else if (argument == "--fix-checksum") {
            invocation.fixChecksum = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            return refuse("unknown option " + argument + " (see --help)");
        } else {
            files.push_back(argument);
        }
    }
    switch (invocation.mode) {
    case Mode::Window:
        if (files.size() > 2)
            return refuse("give at most a source and a target file");
        if (!files.empty())
            invocation.source = files[0];
        if (files.size() > 1)
            invocation.target = files[1];
        break;
    case Mode::Export:
        if (!invocation.at || !invocation.count || invocation.output.empty())
            return refuse("--export needs --at POSITION, --count N and --output FILE");
        break;
    case Mode::Apply:
        if (invocation.source.empty() || invocation.target.empty())
            return refuse("--apply needs --source FILE and --target FILE");
        break;
    default:
        break;
    }
    if (invocation.mode != Mode::Window && !files.empty())
        return refuse("unexpected argument \"" + files.front() + "\" (see --help)");
    return invocation;
}

std::string helpText()
{
    return R"(Usage: dotmatrix [SOURCE [TARGET]]
       dotmatrix COMMAND ...

Edits dot-matrix character fonts inside firmware images. Without a command
it opens the window, with SOURCE and TARGET chosen where given.

Commands (no display needed; exit code 0 only when all is done and checked):
  --find-fonts FILE
      Prints the places of FILE that look like fonts, best first.
      Example: dotmatrix --find-fonts firmware.bin
  --export FILE --at POSITION --count N [--format WORDS] --output OUT
      Writes N glyphs from POSITION of FILE to OUT, in the format its
      extension names: .png (a sheet), .bdf, .c or .bin.
      Example: dotmatrix --export firmware.bin --at 1001 --count 96 --output font.png
  --apply SHEET.png --source SRC --target TGT [--format WORDS] [--at POSITION]
          [--fix-checksum]
      A whole pass: copies SRC to TGT with the glyphs of the sheet that differ,
      where the sheet says (or at POSITION), and with --fix-checksum brings the
      checksum SRC carries up to date. TGT is replaced only once all is written
      and read back; on a failure it is left as it was.
      Example: dotmatrix --apply font.png --source vendor.bin --target patched.bin --fix-checksum
  --checksum FILE
      Says which checksum FILE carries of its own bytes and whether it holds:
      exit code 0 it holds, 1 it is broken, 2 none was found.
      Example: dotmatrix --checksum patched.bin
  --help, --version

WORDS name the format as the window does: "width 6, bit 0 on top, first byte
on the left", "8x16, bytes as rows, bit 7 on the left", "width 16, 16 tall,
page by page, bit 0 on top, first byte on the left", "width 5, 7 tall, 8 bytes
apart"; parts left out are the default, width 5, eight tall, bit 7 on top,
first byte on the right ("6" or "width 6" alone will do). --export uses the
default without --format, --apply the sheet's own.
)";
}

} // namespace dotmatrix
