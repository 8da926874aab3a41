// Times a whole pass over a large image against a plain read/write copy and
// against `cp` of the same file on the same file system, and single moves on
// a small one; reports peak memory.
//
// Then the tail copy's question after a jump far on and back. With
// --scan-fonts it times the font scan of a 1 GiB image (or --size-mib)
// against sha256sum instead; with --checksum-odds it counts the checksums
// found by chance in random and mostly-zero images and in the files of a
// folder (--folder, the system's libraries by default), and how many of them
// would be offered with Yes as the default.
//
//   pass_bench [--size-mib N] [--moves N] [--runs N] [--folder PATH] [--jump-gib N] [--scan-fonts]
//              [--checksum-odds]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>
#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "benchsystem.h"
#include "checksum.h"
#include "conversionpass.h"
#include "platformfile.h"
#ifdef DOTMATRIX_SCAN_BENCH
#include "fontimages.h"
#include "fontscan.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using dotmatrix::ConversionPass;
using dotmatrix::Position;

bool isCopy(dotmatrix::BackgroundTask::Kind kind)
{
    using Kind = dotmatrix::BackgroundTask::Kind;
    return kind == Kind::PrefixCopy || kind == Kind::TailCopy || kind == Kind::GapCopy;
}

// The window as a benchmark needs it: fixed inputs, outputs counted.
class QuietWindow : public dotmatrix::WindowPort {
public:
    std::string offset = "1";
    int symtype = 1;
    int problems = 0;
    int completed = 0;
    long curoffUpdates = 0;

    [[nodiscard]] std::string offsetText() const override { return offset; }
    [[nodiscard]] int selectedSymtype() const override { return symtype; }
    std::optional<dotmatrix::GlyphFormat> format;
    [[nodiscard]] std::optional<dotmatrix::GlyphFormat> chosenFormat() const override { return format; }
    void setCuroffText(const std::string&) override { ++curoffUpdates; }
    void setStartButtEnabled(bool) override {}
    void veskdisplay() override {}
    void showCompleted(const std::string&) override { ++completed; }
    void showProblem(const std::string& message) override
    {
        ++problems;
        std::fprintf(stderr, "problem: %s\n", message.c_str());
    }
    bool answer = true;
    int questions = 0;
    bool confirm(dotmatrix::Asking, const std::string&, bool) override
    {
        ++questions;
        return answer;
    }
    void showStopped(const std::string&) override { ++stops; }

    // Waits as the window does, timing the gaps between progress reports of
    // copies; where `stopAfter` is set, asks a copy to stop once it has run
    // that long and times how soon it does.
    void runTask(dotmatrix::BackgroundTask& task) override
    {
        const auto began = Clock::now();
        runTimed(task);
        spent[task.kind()] += Clock::now() - began;
    }

    void runTimed(dotmatrix::BackgroundTask& task)
    {
        task.start();
        const auto started = Clock::now();
        auto lastChange = started;
        Position last = task.done();
        std::optional<Clock::time_point> stopAsked;
        while (!task.waitFinished(std::chrono::milliseconds(1))) {
            const auto now = Clock::now();
            if (task.done() != last) {
                longestGap = std::max(longestGap, now - lastChange);
                lastChange = now;
                last = task.done();
            }
            if (stopAfter && !stopAsked && isCopy(task.kind()) && now - started >= *stopAfter) {
                task.requestStop();
                stopAsked = now;
            }
        }
        if (task.stoppable())
            longestGap = std::max(longestGap, Clock::now() - lastChange);
        if (stopAsked)
            stopLatency = Clock::now() - *stopAsked;
    }

    int stops = 0;
    // The time the pass waited for each kind of task.
    std::map<dotmatrix::BackgroundTask::Kind, Clock::duration> spent;
    std::optional<Clock::duration> stopAfter;
    Clock::duration longestGap{};
    Clock::duration stopLatency{};
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "pass_bench: %s\n", what.c_str());
    std::exit(1);
}

namespace {

void makeRandomFile(const std::string& path, std::int64_t size, std::mt19937_64& random)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(1 << 17);
    for (std::int64_t written = 0; written < size;) {
        for (auto& word : block)
            word = random();
        const auto count = std::min<std::int64_t>(size - written, static_cast<std::int64_t>(block.size() * 8));
        out.write(reinterpret_cast<const char*>(block.data()), count);
        written += count;
    }
    if (!out)
        fail("cannot write " + path);
}

// Compares two files block by block without holding either.
bool sameContent(const std::string& a, const std::string& b, const std::vector<std::pair<std::int64_t, std::uint8_t>>& edits)
{
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
    std::int64_t offset = 0;
    std::size_t nextEdit = 0;
    for (;;) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount())
            return false;
        const auto count = left.gcount();
        if (count == 0)
            return true;
        // Apply the expected edits that fall into this block to the source side.
        while (nextEdit < edits.size() && edits[nextEdit].first - 1 < offset + count) {
            x[static_cast<std::size_t>(edits[nextEdit].first - 1 - offset)] = static_cast<char>(edits[nextEdit].second);
            ++nextEdit;
        }
        if (std::memcmp(x.data(), y.data(), static_cast<std::size_t>(count)) != 0)
            return false;
        offset += count;
    }
}

// A whole pass: start in the middle at width 5, 100 moves of all four kinds
// with a dot toggled before each, then "Skip the rest".
// A whole pass from `first`: 100 moves with an edit each, or none at all.
// The 100 leave the image as it was; `leaveAnEdit` switches one more dot
// and moves on, so that the target differs and the checksum look counts.
double timePass(const std::string& source, const std::string& target, std::int64_t first, QuietWindow& window,
                bool edits = true, bool leaveAnEdit = false)
{
    ConversionPass pass(window);
    pass.setSourcePath(source);
    pass.setTargetPath(target);
    window.offset = std::to_string(first);
    window.symtype = 1;
    settle();
    const auto start = Clock::now();
    pass.start();
    for (int move = 0; move < (edits ? 100 : 0); ++move) {
        pass.toggleDot(move % 5, move % 8);
        switch (move % 4) {
        case 0: pass.nextCharacter(); break;
        case 1: pass.stepForward(); break;
        case 2: pass.stepBack(); break;
        default: pass.previousCharacter(); break;
        }
    }
    if (leaveAnEdit) {
        pass.toggleDot(0, 0);
        pass.nextCharacter();
    }
    pass.skipRest();
    const double seconds = secondsSince(start);
    if (window.problems != 0 || window.completed != 1)
        fail("the pass did not complete");
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Replays the pass's moves on a model of the target: the positions that
// write-backs left in front of the tail copy, with the byte each holds.
std::vector<std::pair<std::int64_t, std::uint8_t>> expectedEdits(const std::string& source, std::int64_t first)
{
    std::ifstream in(source, std::ios::binary);
    auto sourceByte = [&](std::int64_t position) {
        in.seekg(position - 1);
        return static_cast<std::uint8_t>(in.get());
    };
    std::map<std::int64_t, std::uint8_t> written;
    auto targetByte = [&](std::int64_t position) -> std::uint8_t {
        if (const auto found = written.find(position); found != written.end())
            return found->second;
        return position < first ? sourceByte(position) : 0;
    };
    constexpr int width = 5;
    std::array<std::uint8_t, width> grid{};
    std::int64_t offset = first;
    auto capture = [&](bool fromTarget) {
        for (int c = 0; c < width; ++c)
            grid[static_cast<std::size_t>(c)] = fromTarget ? targetByte(offset + c) : sourceByte(offset + c);
    };
    capture(false);
    for (int move = 0; move < 100; ++move) {
        grid[static_cast<std::size_t>(move % 5)] ^= static_cast<std::uint8_t>(1 << (move % 8));
        for (int c = 0; c < width; ++c)
            written[offset + c] = grid[static_cast<std::size_t>(c)];
        const std::int64_t distance[] = {width, 1, -1, -width};
        offset += distance[move % 4];
        capture(move % 4 == 3);
    }
    std::vector<std::pair<std::int64_t, std::uint8_t>> edits;
    for (const auto& [position, value] : written) {
        if (position < offset)
            edits.emplace_back(position, value);
    }
    return edits;
}

#ifdef DOTMATRIX_SCAN_BENCH
// A 1 GiB image (or `sizeMiB`) of what firmware holds around its fonts,
// with fonts of every width and dot order at known places: the scan against
// sha256sum of the same file, and whether each font is listed.
int scanBench(const std::filesystem::path& work, std::int64_t sizeMiB)
{
    using dotmatrix::DotOrder;
    namespace images = dotmatrix::fontimages;
    const std::string image = (work / "firmware.bin").string();
    const std::int64_t size = sizeMiB << 20;
    std::mt19937 random(1207);
    const images::Bytes text = images::textBytes(1 << 20);
    images::Bytes program;
    {
        // A program of the system's, which holds no font (this one holds test fonts).
        std::ifstream shell("/bin/bash", std::ios::binary);
        program.assign(std::istreambuf_iterator<char>(shell), std::istreambuf_iterator<char>());
        program.resize(std::min<std::size_t>(program.size(), 1 << 20));
    }
    struct Placed {
        std::int64_t position;
        dotmatrix::GlyphFormat format;
    };
    std::vector<Placed> placed;
    {
        std::ofstream out(image, std::ios::binary | std::ios::trunc);
        // Pieces of 1 MiB in turn: random, program, zeros, text, random, 0xFF fill.
        images::Bytes piece;
        int font = 0;
        for (std::int64_t at = 0; at < size; at += 1 << 20) {
            const std::int64_t kind = (at >> 20) % 6;
            if (kind == 0 || kind == 4)
                piece = images::randomBytes(1 << 20, random);
            else if (kind == 1)
                piece = program;
            else if (kind == 2)
                piece.assign(1 << 20, 0x00);
            else if (kind == 3)
                piece = text;
            else
                piece.assign(1 << 20, 0xFF);
            piece.resize(1 << 20, 0);
            // Now and then a font among the random bytes.
            const std::int64_t every = std::max<std::int64_t>(6, size / (1 << 20) / 16 / 6 * 6);
            if (kind == 0 && (at >> 20) % every == 0 && font < 16) {
                // Columns 4 to 7 wide in each dot order, and a PC's 8x16 rows
                // and a display's 16-tall columns page by page now and then.
                const DotOrder order{(font / 4) % 2 == 1, (font / 8) % 2 == 1};
                dotmatrix::GlyphFormat format = dotmatrix::GlyphFormat::original(4 + font % 4, order);
                images::Bytes glyphs;
                if (font == 6) {
                    format = *dotmatrix::readGlyphFormat("8x16, bytes as rows").format;
                    glyphs = images::fontGlyphs(images::Font::Terminus16, format, 0x20, 96);
                } else if (font == 13) {
                    format = *dotmatrix::readGlyphFormat("width 8, 16 tall, page by page, bit 0 on top, first byte on the left").format;
                    glyphs = images::fontGlyphs(images::Font::Terminus16, format, 0x20, 96);
                } else {
                    glyphs = images::consoleGlyphs(0x20, 96, format.width, order);
                }
                const std::size_t into = 300000 + static_cast<std::size_t>(font) * 17;
                std::copy(glyphs.begin(), glyphs.end(), piece.begin() + static_cast<std::ptrdiff_t>(into));
                placed.push_back({at + static_cast<std::int64_t>(into) + 1, format});
                ++font;
            }
            out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
        }
    }
    settle();
    const auto scanStart = Clock::now();
    const dotmatrix::ScanOutcome outcome =
        dotmatrix::scanForFonts({image, {}, Position(0)}, [](std::int64_t, std::int64_t) { return true; });
    const double scanSeconds = secondsSince(scanStart);
    const auto shaStart = Clock::now();
    const std::string command = "sha256sum '" + image + "' >/dev/null";
    if (std::system(command.c_str()) != 0)
        fail("sha256sum failed");
    const double shaSeconds = secondsSince(shaStart);
    std::filesystem::remove(image);

    int missing = 0;
    for (const Placed& font : placed) {
        const auto found = std::find_if(outcome.found.begin(), outcome.found.end(), [&](const dotmatrix::FontCandidate& c) {
            // In its format, upright, on a glyph of it, with its characters named.
            const std::int64_t into = c.first.number() - font.position;
            const std::int64_t bytes = font.format.glyphBytes();
            return c.format == font.format && into >= 0 && into < 96 * bytes && into % bytes == 0
                   && c.positionOfCode('A') == Position(font.position + ('A' - ' ') * bytes);
        });
        if (found == outcome.found.end()) {
            ++missing;
            std::printf("not found: the font at %lld, %s\n", static_cast<long long>(font.position),
                        font.format.words().c_str());
        } else {
            std::printf("found as row %d: %s\n", static_cast<int>(found - outcome.found.begin()) + 1,
                        dotmatrix::describeCandidate(*found).c_str());
        }
    }
    std::printf("image: %lld MiB with %zu fonts; %zu rows listed\n", static_cast<long long>(sizeMiB), placed.size(),
                outcome.found.size());
    std::printf("font scan: %.3f s; sha256sum: %.3f s; peak resident memory %.1f MiB\n", scanSeconds, shaSeconds,
                static_cast<double>(peakResidentKiB()) / 1024);
    std::printf("font scan / sha256sum: %.2f\n", scanSeconds / shaSeconds);
    return missing == 0 ? 0 : 1;
}
#endif

// What the checksum look finds where no checksum is: how often, and how
// often sure enough to be offered with Yes.
struct Chance {
    long images = 0;
    long found = 0;
    long confirmed = 0;
};

void lookAt(const std::vector<std::uint8_t>& image, Chance& chance, const std::string& name)
{
    ++chance.images;
    const auto found = dotmatrix::findChecksum(static_cast<std::int64_t>(image.size()),
                                               [&image](std::int64_t offset, std::span<std::uint8_t> into) {
                                                   std::memcpy(into.data(), image.data() + offset, into.size());
                                                   return true;
                                               });
    if (!found)
        return;
    ++chance.found;
    if (found->confirmed()) {
        ++chance.confirmed;
        std::printf("confirmed: %s: %s\n", name.c_str(), dotmatrix::describeChecksum(*found).c_str());
    }
}

int checksumOdds(const std::filesystem::path& folder)
{
    std::mt19937_64 random(20261208);
    Chance randomImages;
    Chance sparseImages;
    for (int image = 0; image < 4000; ++image) {
        std::vector<std::uint8_t> bytes(64 << 10);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        lookAt(bytes, randomImages, "random image " + std::to_string(image));
        std::vector<std::uint8_t> sparse(64 << 10, 0);
        for (unsigned segment = random() % 4; segment > 0; --segment) {
            const std::size_t at = random() % sparse.size();
            const std::size_t length = std::min<std::size_t>(sparse.size() - at, 1 + random() % 4000);
            for (std::size_t i = at; i < at + length; ++i)
                sparse[i] = static_cast<std::uint8_t>(random());
        }
        lookAt(sparse, sparseImages, "sparse image " + std::to_string(image));
    }
    Chance files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             folder, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error) || it->is_symlink(error))
            continue;
        const auto size = static_cast<std::int64_t>(it->file_size(error));
        if (error || size < dotmatrix::kSmallestCheckedImage || size > (std::int64_t{64} << 20))
            continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
            continue;
        lookAt(bytes, files, it->path().string());
    }
    const auto line = [](const char* what, const Chance& chance) {
        std::printf("%s: %ld looked at, %ld with a form matched by chance, %ld of them offered with Yes\n", what,
                    chance.images, chance.found, chance.confirmed);
    };
    line("random 64 KiB images", randomImages);
    line("mostly-zero 64 KiB images", sparseImages);
    line(("files of " + folder.string()).c_str(), files);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::int64_t sizeMiB = 256;
    long moves = 100000;
    int runs = 3;
    int jumpGiB = 2;
    bool scanFonts = false;
    bool checksumChance = false;
    bool sized = false;
    bool folderGiven = false;
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--scan-fonts") {
            scanFonts = true;
            continue;
        }
        if (option == "--checksum-odds") {
            checksumChance = true;
            continue;
        }
        if (i + 1 >= argc)
            fail("option " + option + " wants a value");
        if (option == "--size-mib")
            sizeMiB = std::atoll(argv[i + 1]);
        else if (option == "--moves")
            moves = std::atol(argv[i + 1]);
        else if (option == "--runs")
            runs = std::atoi(argv[i + 1]);
        else if (option == "--folder")
            folder = argv[i + 1];
        else if (option == "--jump-gib")
            jumpGiB = std::atoi(argv[i + 1]);
        else
            fail("unknown option " + option);
        sized = sized || option == "--size-mib";
        folderGiven = folderGiven || option == "--folder";
        ++i;
    }
    if (checksumChance)
        return checksumOdds(folderGiven ? folder : std::filesystem::path("/usr/lib"));
    if (sizeMiB < 1 || moves < 1 || runs < 1)
        fail("sizes must be positive");

    const std::filesystem::path work = folder / ("pass-bench-" + std::to_string(std::random_device{}()));
    std::error_code made;
    if (!std::filesystem::create_directory(work, made))
        fail("cannot make a temporary folder in " + folder.string());
    if (scanFonts) {
#ifdef DOTMATRIX_SCAN_BENCH
        const int failed = scanBench(work, sized ? sizeMiB : 1024);
        std::filesystem::remove_all(work);
        return failed;
#else
        fail("the font scan benchmark is built on Linux only");
#endif
    }
    const std::string source = (work / "source.rom").string();
    const std::string target = (work / "target.bin").string();
    const std::string baseline = (work / "baseline.bin").string();
    const std::int64_t size = sizeMiB << 20;

    const long residentBefore = peakResidentKiB();
    std::mt19937_64 random(20261207);
    makeRandomFile(source, size, random);
    const std::int64_t first = size / 2;

    // The disk's write-back time varies a lot from run to run: pass and
    // baseline take turns, and the medians count.
    std::vector<double> passTimes;
    std::vector<double> baselineTimes;
    std::vector<double> systemTimes;
    std::vector<double> unchangedTimes;
    std::vector<double> verifyTimes;
    std::vector<double> unchangedVerifyTimes;
    std::vector<double> editedTimes;
    std::vector<double> lookWaits;
    Clock::duration longestGap{};
    bool targetRight = true;
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove(target);
        QuietWindow still;
        unchangedTimes.push_back(timePass(source, target, first, still, false));
        unchangedVerifyTimes.push_back(std::chrono::duration<double>(still.spent[dotmatrix::BackgroundTask::Kind::Verify]).count());
        std::filesystem::remove(target);
        std::ofstream(target, std::ios::trunc).close();
        QuietWindow window;
        passTimes.push_back(timePass(source, target, first, window));
        verifyTimes.push_back(std::chrono::duration<double>(window.spent[dotmatrix::BackgroundTask::Kind::Verify]).count());
        longestGap = std::max(longestGap, window.longestGap);
        baselineTimes.push_back(plainCopy(source, baseline));
        systemTimes.push_back(systemCopy(source, baseline));
        targetRight = targetRight && sameContent(source, target, expectedEdits(source, first));
    }
    // Apart, so that its reading of the whole source weighs on no other figure.
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove(target);
        QuietWindow edited;
        editedTimes.push_back(timePass(source, target, first, edited, true, true));
        lookWaits.push_back(std::chrono::duration<double>(edited.spent[dotmatrix::BackgroundTask::Kind::SourceCheck]).count());
    }
    const long residentPass = peakResidentKiB();
    const double passSeconds = median(passTimes);
    const double baselineSeconds = median(baselineTimes);
    const double systemSeconds = median(systemTimes);

    // A Cancel a while into the prefix copy, then into the tail copy.
    std::vector<double> stopLatencies;
    for (const bool tail : {false, true}) {
        std::filesystem::remove(target);
        QuietWindow window;
        ConversionPass pass(window);
        pass.setSourcePath(source);
        pass.setTargetPath(target);
        window.offset = tail ? "1" : std::to_string(size);
        window.stopAfter = std::chrono::milliseconds(100);
        settle();
        if (tail) {
            pass.start();
            pass.skipRest();
        } else {
            pass.start();
        }
        // A small image may be copied before the request comes.
        if (window.stopLatency == Clock::duration{})
            continue;
        if (window.stops != 1)
            fail("a stop request did not stop the copy");
        stopLatencies.push_back(std::chrono::duration<double>(window.stopLatency).count());
    }

    // Single moves on a small image, in the original sizes and in a PC's
    // 8x16 font of rows (16 bytes a glyph).
    const std::string small = (work / "small.rom").string();
    const std::string smallTarget = (work / "small.bin").string();
    makeRandomFile(small, 64 << 10, random);
    const auto timeMoves = [&](std::optional<dotmatrix::GlyphFormat> format) {
        std::filesystem::remove(smallTarget);
        QuietWindow smallWindow;
        smallWindow.format = format;
        smallWindow.offset = "1000";
        ConversionPass smallPass(smallWindow);
        smallPass.setSourcePath(small);
        smallPass.setTargetPath(smallTarget);
        smallPass.start();
        const auto movesStart = Clock::now();
        for (long move = 0; move < moves; ++move) {
            if (move % 2 == 0)
                smallPass.nextCharacter();
            else
                smallPass.previousCharacter();
        }
        const double seconds = secondsSince(movesStart) / static_cast<double>(moves);
        smallPass.skipRest();
        return seconds;
    };
    const double moveSeconds = timeMoves(std::nullopt);
    const double rowMoveSeconds = timeMoves(dotmatrix::readGlyphFormat("8x16, bytes as rows").format);

    // The look for a checksum at the start, alone and with the prefix copy it follows.
    settle();
    double checkSeconds = 0;
    {
        std::error_code error;
        dotmatrix::PlatformFile file = dotmatrix::PlatformFile::open(source, dotmatrix::PlatformFile::Access::ReadOnly, error);
        if (error)
            fail("cannot open " + source);
        const auto checkStart = Clock::now();
        const auto found = dotmatrix::findChecksum(size, [&](std::int64_t offset, std::span<std::uint8_t> into) {
            std::size_t got = 0;
            while (got < into.size()) {
                const std::size_t now = file.readAt(offset + static_cast<std::int64_t>(got), into.subspan(got), error);
                if (error || now == 0)
                    fail("cannot read " + source);
                got += now;
            }
            return true;
        });
        checkSeconds = secondsSince(checkStart);
        if (found)
            fail("a random image carries a checksum: " + dotmatrix::describeChecksum(*found));
    }
    double startSeconds = 0;
    {
        std::filesystem::remove(target);
        QuietWindow window;
        ConversionPass pass(window);
        pass.setSourcePath(source);
        pass.setTargetPath(target);
        window.offset = std::to_string(size);
        settle();
        const auto startStart = Clock::now();
        pass.start();
        startSeconds = secondsSince(startStart);
        pass.skipRest();
    }

    // "Skip the rest" after a jump far on and back: the question reads only
    // what was written back, however far the pass has copied.
    // In a scope of its own: the pass closes its files as it goes, and
    // Windows removes no open file.
    const double questionSeconds = [&] {
        const std::string far = (work / "far.rom").string();
        const std::string farTarget = (work / "far.bin").string();
        std::ofstream(far, std::ios::trunc).close();
        std::filesystem::resize_file(far, static_cast<std::uintmax_t>((std::int64_t{jumpGiB} << 30) + (1 << 20)));
        QuietWindow farWindow;
        ConversionPass farPass(farWindow);
        farPass.setSourcePath(far);
        farPass.setTargetPath(farTarget);
        farWindow.offset = "1";
        farPass.start();
        farPass.toggleDot(0, 0);
        farPass.jumpTo(Position(std::int64_t{jumpGiB} << 30));
        farPass.jumpTo(Position(1));
        farPass.toggleDot(1, 1);
        farWindow.answer = false;
        const auto questionStart = Clock::now();
        farPass.skipRest();
        const double seconds = secondsSince(questionStart);
        if (farWindow.questions != 1 || !farPass.isOpen())
            fail("the tail copy's question was not asked");
        return seconds;
    }();

    std::filesystem::remove_all(work);

    std::printf("image: %lld MiB, %u cores\n", static_cast<long long>(sizeMiB), std::thread::hardware_concurrency());
    std::printf("pass: %.3f s (median of %d)\n", passSeconds, runs);
    std::printf("baseline copy: %.3f s (median of %d)\n", baselineSeconds, runs);
    std::printf("pass / baseline: %.2f\n", passSeconds / baselineSeconds);
    std::printf("system copy (cp --reflink=auto or CopyFile) + flush: %.4f s (median of %d)\n", systemSeconds, runs);
    std::printf("pass / system copy: %.2f\n", passSeconds / systemSeconds);
    std::printf("pass that changes nothing: %.3f s; / system copy: %.2f\n", median(unchangedTimes),
                median(unchangedTimes) / systemSeconds);
    std::printf("pass that leaves an edit: %.3f s, of it waiting for the checksum look %.3f s; / system copy: %.2f\n",
                median(editedTimes), median(lookWaits), median(editedTimes) / systemSeconds);
    std::printf("verify before Completed: %.4f s with edits, %.4f s with none (medians)\n", median(verifyTimes),
                median(unchangedVerifyTimes));
    std::printf("one move: %.2f us; in an 8x16 font of rows: %.2f us\n", moveSeconds * 1e6, rowMoveSeconds * 1e6);
    std::printf("longest gap between progress reports: %.1f ms\n",
                std::chrono::duration<double, std::milli>(longestGap).count());
    for (const double latency : stopLatencies)
        std::printf("copy stopped %.1f ms after a Cancel request\n", latency * 1e3);
    std::printf("peak resident memory: %.1f MiB with no file open, %.1f MiB after the pass (+%.1f MiB)\n",
                static_cast<double>(residentBefore) / 1024, static_cast<double>(residentPass) / 1024,
                static_cast<double>(residentPass - residentBefore) / 1024);
    std::printf("checksum look at the start: %.3f s alone; start at the last byte (prefix copy and look): %.3f s\n",
                checkSeconds, startSeconds);
    std::printf("tail copy's question after a jump of %d GiB and back: %.3f ms\n", jumpGiB, questionSeconds * 1e3);
    std::printf("target check: %s\n", targetRight ? "ok" : "WRONG");
    return targetRight ? 0 : 1;
}
