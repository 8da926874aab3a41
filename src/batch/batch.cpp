#include "batch.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include <QImage>
#include <QImageReader>
#include <QString>

#include "checksum.h"
#include "conversionpass.h"
#include "fontscan.h"
#include "glyphexport.h"
#include "offsettext.h"
#include "platformfile.h"
#include "sheetimage.h"

namespace dotmatrix {

namespace {

// A failure of a command: what the line on stderr says.
struct Failure {
    std::string message;
    int code = 1;
};

QString qPath(const std::string& path)
{
    return QString::fromStdString(path);
}

// Paths are UTF-8 here, as the window and the core take them, on every system.
std::filesystem::path fsPath(const std::string& path)
{
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Reads `count` bytes of `path` from `first` on; the file must hold them all.
std::vector<std::uint8_t> readBytes(const std::string& path, Position first, std::int64_t count)
{
    std::error_code error;
    PlatformFile file = PlatformFile::open(path, PlatformFile::Access::ReadOnly, error);
    if (error)
        throw Failure{"cannot read \"" + path + "\": " + error.message()};
    const std::int64_t length = file.size(error);
    if (error)
        throw Failure{"cannot read \"" + path + "\": " + error.message()};
    if (offsetOf(first) + count > length)
        throw Failure{"\"" + path + "\" has " + std::to_string(length) + " bytes: " + std::to_string(count)
                      + " bytes from position " + decimalText(first) + " run past its end"};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    if (file.readAt(offsetOf(first), bytes, error) != bytes.size() || error)
        throw Failure{"cannot read \"" + path + "\": " + (error ? error.message() : "it ended early")};
    return bytes;
}

// Where a file is made before it is put in place of `path`.
std::string partialPath(const std::string& path)
{
    return path + ".dotmatrix-partial";
}

// Writes `write` into a new file beside `path` and puts it in place once
// whole, so that a failure leaves `path` as it was.
void writeWhole(const std::string& path, const std::function<bool(const std::string&)>& write)
{
    const std::string partial = partialPath(path);
    std::error_code ignored;
    if (!write(partial)) {
        std::filesystem::remove(fsPath(partial), ignored);
        throw Failure{"cannot write \"" + path + "\"; it is left as it was"};
    }
    std::error_code error;
    std::filesystem::rename(fsPath(partial), fsPath(path), error);
    if (error) {
        std::filesystem::remove(fsPath(partial), ignored);
        throw Failure{"cannot write \"" + path + "\": " + error.message() + "; it is left as it was"};
    }
}

bool savePng(const GlyphRun& run, const std::string& path)
{
    return sheetImage(run).save(qPath(path), "PNG");
}

int exportGlyphs(const Invocation& invocation, std::ostream& out)
{
    const GlyphFormat format = invocation.format.value_or(GlyphFormat::original(5));
    const std::optional<ExportFormat> kind = exportFormatOfPath(invocation.output);
    if (!kind)
        throw Failure{"\"" + invocation.output + "\" names no export format: end it in .png, .bdf, .c or .bin"};
    // The glyphs' own bytes, one a pitch apart.
    const std::vector<std::uint8_t> span =
        readBytes(invocation.file, *invocation.at, (*invocation.count - 1) * format.step() + format.glyphBytes());
    const GlyphRun run = GlyphRun::of(*invocation.at, format, span, *invocation.count);
    const std::u8string stem = fsPath(invocation.output).stem().u8string();
    const std::string name(stem.begin(), stem.end());
    writeWhole(invocation.output, [&](const std::string& partial) {
        if (*kind == ExportFormat::PngSheet)
            return savePng(run, partial);
        const std::string text = exportText(run, *kind, cIdentifier(name));
        std::ofstream file(fsPath(partial), std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        return static_cast<bool>(file.flush());
    });
    out << *invocation.count << " glyphs (" << format.words() << ") from position " << decimalText(run.first)
        << " written to \"" << invocation.output << "\".\n";
    return 0;
}

int findFonts(const Invocation& invocation, std::ostream& out, std::ostream& err, bool progress)
{
    const ScanOutcome outcome = scanForFonts({invocation.file, {}, Position(0)},
                                             [&](std::int64_t done, std::int64_t length) {
                                                 if (progress && length > 0)
                                                     err << "\rScanning " << (done * 100 / length) << " %" << std::flush;
                                                 return true;
                                             });
    if (progress)
        err << "\r              \r" << std::flush;
    if (!outcome.problem.empty())
        throw Failure{outcome.problem};
    for (const FontCandidate& candidate : outcome.found)
        out << describeCandidate(candidate) << "\n";
    return 0;
}

int checksum(const Invocation& invocation, std::ostream& out)
{
    std::error_code error;
    PlatformFile file = PlatformFile::open(invocation.file, PlatformFile::Access::ReadOnly, error);
    const std::int64_t length = error ? 0 : file.size(error);
    if (error)
        throw Failure{"cannot read \"" + invocation.file + "\": " + error.message()};
    if (length > kLargestCheckedImage)
        throw Failure{"\"" + invocation.file + "\" is larger than 256 MiB, the largest image checked", 2};
    const ChecksumReader reader = [&](std::int64_t offset, std::span<std::uint8_t> into) {
        if (file.readAt(offset, into, error) != into.size() || error)
            throw Failure{"cannot read \"" + invocation.file + "\": " + (error ? error.message() : "it ended early")};
        return true;
    };
    if (const auto found = findChecksum(length, reader)) {
        out << describeChecksum(*found) << ": it holds.\n";
        return 0;
    }
    // A PC option ROM says it sums to zero: one that does not is broken.
    if (hasOptionRomHeader(length, reader).value_or(false)) {
        out << "\"" << invocation.file << "\" is an option ROM of " << length
            << " bytes, whose bytes should sum to zero modulo 256: they do not, so it is broken.\n";
        return 1;
    }
    out << "\"" << invocation.file << "\" carries no checksum this tool knows of its own bytes.\n";
    return 2;
}

// The window as a command needs it: the answers given on its command line,
// progress on stderr, and every message kept.
class BatchWindow : public WindowPort {
public:
    BatchWindow(std::string offset, GlyphFormat format, bool fixChecksum, std::ostream& err, bool progress)
        : offset_(std::move(offset)), format_(format), fixChecksum_(fixChecksum), err_(err), progress_(progress)
    {
    }

    std::vector<std::string> problems;
    std::vector<std::string> stops;
    bool completed = false;
    std::string completedNote;
    bool checksumAsked = false;

    [[nodiscard]] std::string offsetText() const override { return offset_; }
    [[nodiscard]] int selectedSymtype() const override { return format_.isOriginal() ? format_.width - 4 : -1; }
    [[nodiscard]] std::optional<GlyphFormat> chosenFormat() const override
    {
        return format_.isOriginal() ? std::nullopt : std::optional<GlyphFormat>(format_);
    }
    void setCuroffText(const std::string&) override {}
    void setStartButtEnabled(bool) override {}
    void veskdisplay() override {}
    void showCompleted(const std::string& note) override
    {
        completed = true;
        completedNote = note;
    }
    void showProblem(const std::string& message) override { problems.push_back(message); }
    bool confirm(Asking asking, const std::string&, bool) override
    {
        switch (asking) {
        case Asking::StartPastTheEnd:
            return false;
        case Asking::Checksum:
            checksumAsked = true;
            return fixChecksum_;
        case Asking::TailCopy:
        case Asking::Import:
            return true;
        }
        return false;
    }
    void runTask(BackgroundTask& task) override
    {
        task.start();
        const std::int64_t span = std::max<std::int64_t>(1, task.last().number() - task.first().number() + 1);
        bool shown = false;
        while (!task.waitFinished(std::chrono::milliseconds(200))) {
            if (!progress_)
                continue;
            const std::int64_t done = std::max<std::int64_t>(0, task.done().number() - task.first().number() + 1);
            err_ << "\r" << label(task.kind()) << " " << std::min<std::int64_t>(100, done * 100 / span) << " %   "
                 << std::flush;
            shown = true;
        }
        if (shown)
            err_ << "\r                                        \r" << std::flush;
    }
    void showStopped(const std::string& message) override { stops.push_back(message); }

private:
    static const char* label(BackgroundTask::Kind kind)
    {
        switch (kind) {
        case BackgroundTask::Kind::Sync:
            return "Writing to the disk";
        case BackgroundTask::Kind::Verify:
            return "Checking the target";
        case BackgroundTask::Kind::SourceCheck:
        case BackgroundTask::Kind::TargetCheck:
            return "Reading for the checksum";
        default:
            return "Copying";
        }
    }

    std::string offset_;
    GlyphFormat format_;
    bool fixChecksum_;
    std::ostream& err_;
    bool progress_;
};

std::string oneLine(std::string text)
{
    // The pass's messages may run to paragraphs: the first says what happened.
    const auto paragraph = text.find("\n\n");
    if (paragraph != std::string::npos)
        text.erase(paragraph);
    for (char& c : text)
        c = c == '\n' ? ' ' : c;
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

int apply(const Invocation& invocation, std::ostream& out, std::ostream& err, bool progress)
{
    QImageReader reader(qPath(invocation.sheet), "png");
    reader.setDecideFormatFromContent(true);
    const QImage image = reader.read();
    if (image.isNull())
        throw Failure{"cannot read \"" + invocation.sheet + "\" as a PNG sheet: " + reader.errorString().toStdString()};
    const SheetInfo info = sheetInfoOf(image);
    // The sheet's own format unless --format says one; where both do, they agree in size.
    const std::optional<GlyphFormat> sheetFormat = info.drawnFormat(DotOrder{});
    if (!invocation.format && !sheetFormat)
        throw Failure{"the sheet \"" + invocation.sheet + "\" does not say how wide its glyphs are: give --format"};
    if (invocation.format && sheetFormat
        && (sheetFormat->width != invocation.format->width || sheetFormat->height != invocation.format->height))
        throw Failure{"the sheet \"" + invocation.sheet + "\" holds glyphs " + std::to_string(sheetFormat->width) + " x "
                      + std::to_string(sheetFormat->height) + " dots, and --format says "
                      + std::to_string(invocation.format->width) + " x " + std::to_string(invocation.format->height)};
    const GlyphFormat format = invocation.format ? *invocation.format : *sheetFormat;
    const std::optional<Position> at = invocation.at ? invocation.at : info.position;
    if (!at)
        throw Failure{"the sheet \"" + invocation.sheet + "\" does not say where it belongs: give --at POSITION"};
    const SheetGlyphs glyphs = readSheetImage(image, format);
    if (!glyphs.problem.empty())
        throw Failure{"\"" + invocation.sheet + "\" is no sheet of glyphs: " + oneLine(glyphs.problem)};

    // The pass writes into a copy of the target, put in place once verified.
    const std::string partial = partialPath(invocation.target);
    std::error_code error;
    std::filesystem::remove(fsPath(partial), error);
    const bool existed = std::filesystem::exists(fsPath(invocation.target), error);
    if (existed && !std::filesystem::copy_file(fsPath(invocation.target), fsPath(partial), error))
        throw Failure{"cannot copy \"" + invocation.target + "\" to work on: " + error.message()
                      + "; it is left as it was"};

    BatchWindow window(decimalText(*at), format, invocation.fixChecksum, err, progress);
    auto pass = std::make_unique<ConversionPass>(window);
    // The pass lets go of its files before what it made is removed.
    const auto leave = [&](const std::string& why) {
        pass.reset();
        std::error_code ignored;
        std::filesystem::remove(fsPath(partial), ignored);
        return Failure{why + (existed ? "; \"" + invocation.target + "\" is left as it was"
                                      : "; \"" + invocation.target + "\" was not made")};
    };
    pass->setSourcePath(invocation.source);
    pass->setTargetPath(partial);
    pass->start();
    if (!pass->isOpen()) {
        throw leave(window.problems.empty() ? "the pass did not start at position " + decimalText(*at)
                                            : oneLine(window.problems.back()));
    }
    const std::size_t problemsBefore = window.problems.size();
    const std::int64_t written = pass->importGlyphs(*at, glyphs.bytes);
    const bool nothingDiffered = window.problems.size() > problemsBefore
                                 && window.problems.back().find("what the target holds already") != std::string::npos;
    if (window.problems.size() > problemsBefore && !nothingDiffered)
        throw leave(oneLine(window.problems[problemsBefore]));
    const std::size_t problemsAtSkip = window.problems.size();
    pass->skipRest();
    if (!window.completed) {
        const std::string why = window.problems.size() > problemsAtSkip ? window.problems.back()
                                : !window.stops.empty()                  ? window.stops.back()
                                                                         : std::string("the pass did not finish");
        throw leave(oneLine(why));
    }
    const std::string checksumLine = pass->checksumLine();
    if (invocation.fixChecksum && written > 0 && !pass->sourceChecksum())
        throw leave("--fix-checksum: the source carries no checksum of its own bytes that this tool knows");
    if (invocation.fixChecksum && !window.completedNote.empty())
        throw leave(oneLine(window.completedNote));
    pass.reset();
    std::filesystem::rename(fsPath(partial), fsPath(invocation.target), error);
    if (error)
        throw leave("cannot put the finished target in place: " + error.message());

    const std::int64_t count = static_cast<std::int64_t>(glyphs.bytes.size()) / format.glyphBytes();
    out << "Wrote " << written << " of the sheet's " << count << " glyphs (" << format.words() << ") from position "
        << decimalText(*at) << " into \"" << invocation.target << "\", checked.\n";
    if (window.checksumAsked)
        out << (invocation.fixChecksum ? "Brought the checksum up to date. " : "Left the checksum as it was. ")
            << checksumLine << "\n";
    else if (!checksumLine.empty())
        out << checksumLine << " It holds.\n";
    if (!window.completedNote.empty())
        out << window.completedNote << "\n";
    return 0;
}

} // namespace

int runBatch(const Invocation& invocation, std::ostream& out, std::ostream& err, bool progress)
{
    using Mode = Invocation::Mode;
    try {
        switch (invocation.mode) {
        case Mode::FindFonts:
            return findFonts(invocation, out, err, progress);
        case Mode::Export:
            return exportGlyphs(invocation, out);
        case Mode::Apply:
            return apply(invocation, out, err, progress);
        case Mode::Checksum:
            return checksum(invocation, out);
        default:
            return 0;
        }
    } catch (const Failure& failure) {
        err << "dotmatrix: " << failure.message << "\n";
        return failure.code == 0 ? 1 : failure.code;
    } catch (const std::exception& failure) {
        err << "dotmatrix: " << failure.what() << "\n";
        return 1;
    }
}

} // namespace dotmatrix
