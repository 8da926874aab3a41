#include "conversionpass.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "testfiles.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::gridBytes;
using testing::readFile;
using testing::writeFile;

// What the target must hold, written from the rule: every position holds the
// byte of the last write to it, a position no write reached keeps its old
// byte, and reads behind the end of a file yield 0.
class ReferenceModel {
public:
    ReferenceModel(Bytes source, Bytes target, bool sameFile)
        : source_(std::move(source)), target_(std::move(target)), sameFile_(sameFile)
    {
    }

    void start(std::int64_t first, int width)
    {
        if (open_)
            return;
        open_ = true;
        for (std::int64_t p = 1; p < first; ++p)
            write(p, read(sourceBytes(), p));
        width_ = width;
        offset_ = first;
        capture(sourceBytes());
    }

    void move(std::int64_t distance, bool fromTarget)
    {
        if (!open_)
            return;
        writeBack();
        if (offset_ + distance < 1)
            return;
        offset_ += distance;
        capture(fromTarget ? target_ : sourceBytes());
    }

    void changeWidth(int width)
    {
        if (!open_)
            return;
        writeBack();
        width_ = width;
        capture(sourceBytes());
    }

    void toggle(int column, int bit)
    {
        if (column < width_)
            grid_[static_cast<std::size_t>(column)] ^= static_cast<std::uint8_t>(1 << bit);
    }

    void skip()
    {
        if (!open_)
            return;
        const auto length = static_cast<std::int64_t>(sourceBytes().size());
        for (std::int64_t p = offset_; p <= length; ++p)
            write(p, read(sourceBytes(), p));
        open_ = false;
    }

    [[nodiscard]] bool open() const { return open_; }
    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] std::int64_t offset() const { return offset_; }
    [[nodiscard]] const Bytes& target() const { return target_; }
    [[nodiscard]] Bytes grid() const { return Bytes(grid_.begin(), grid_.begin() + width_); }

private:
    Bytes& sourceBytes() { return sameFile_ ? target_ : source_; }

    static std::uint8_t read(const Bytes& file, std::int64_t p)
    {
        return p <= static_cast<std::int64_t>(file.size()) ? file[static_cast<std::size_t>(p - 1)] : 0;
    }

    void write(std::int64_t p, std::uint8_t value)
    {
        if (p > static_cast<std::int64_t>(target_.size()))
            target_.resize(static_cast<std::size_t>(p), 0);
        target_[static_cast<std::size_t>(p - 1)] = value;
    }

    void capture(const Bytes& file)
    {
        for (int c = 0; c < width_; ++c)
            grid_[static_cast<std::size_t>(c)] = read(file, offset_ + c);
    }

    void writeBack()
    {
        for (int c = 0; c < width_; ++c)
            write(offset_ + c, grid_[static_cast<std::size_t>(c)]);
    }

    Bytes source_;
    Bytes target_;
    bool sameFile_;
    bool open_ = false;
    int width_ = 0;
    std::int64_t offset_ = 0;
    std::array<std::uint8_t, 7> grid_{};
};

Bytes randomBytes(std::mt19937& random, std::size_t count)
{
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

void runSequence(std::uint32_t seed)
{
    SCOPED_TRACE("replay with DOTMATRIX_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    testing::TempFolder folder;
    const std::string source = folder.path("source.rom");
    const std::string target = folder.path("target.bin");

    const Bytes sourceBytes = randomBytes(random, random() % 120);
    writeFile(source, sourceBytes);
    const bool sameFile = random() % 4 == 0;
    Bytes targetBytes;
    if (sameFile) {
        std::filesystem::create_hard_link(source, target);
        targetBytes = sourceBytes;
    } else if (random() % 2 == 0) {
        targetBytes = randomBytes(random, random() % 160);
        writeFile(target, targetBytes);
    }

    testing::RecordingWindow window;
    ConversionPass pass(window);
    pass.setSourcePath(source);
    pass.setTargetPath(target);
    ReferenceModel model(sourceBytes, targetBytes, sameFile);

    for (int step = 0; step < 400; ++step) {
        const unsigned action = random() % 100;
        if (action < 6) {
            const auto first = std::int64_t{1} + static_cast<std::int64_t>(random() % (sourceBytes.size() + 30));
            window.offset = std::to_string(first);
            window.symtype = static_cast<int>(random() % 4);
            pass.start();
            model.start(first, window.symtype + 4);
        } else if (action < 45) {
            const int column = static_cast<int>(random() % 7);
            const int bit = static_cast<int>(random() % 8);
            EXPECT_EQ(pass.toggleDot(column, bit), column < model.width());
            model.toggle(column, bit);
        } else if (action < 58) {
            pass.nextCharacter();
            model.move(model.width(), false);
        } else if (action < 70) {
            pass.previousCharacter();
            model.move(-model.width(), true);
        } else if (action < 82) {
            pass.stepForward();
            model.move(1, false);
        } else if (action < 92) {
            pass.stepBack();
            model.move(-1, false);
        } else if (action < 97) {
            window.symtype = static_cast<int>(random() % 4);
            pass.changeWidth();
            model.changeWidth(window.symtype + 4);
        } else {
            pass.skipRest();
            model.skip();
        }

        ASSERT_EQ(pass.isOpen(), model.open()) << "step " << step;
        ASSERT_EQ(window.startEnabled, !model.open()) << "step " << step;
        ASSERT_EQ(pass.state().CharWidth, model.width()) << "step " << step;
        ASSERT_EQ(pass.state().CurOffset.number(), model.offset()) << "step " << step;
        ASSERT_EQ(gridBytes(pass.state().DotGrid), model.grid()) << "step " << step;
        if (model.open() || model.width() > 0) {
            ASSERT_EQ(readFile(target), model.target()) << "step " << step;
        }
    }
    pass.skipRest();
    model.skip();
    if (model.width() > 0) {
        EXPECT_EQ(readFile(target), model.target());
    }
}

TEST(RandomizedPass, FollowsTheTargetContentRule)
{
    if (const char* replay = std::getenv("DOTMATRIX_SEED")) {
        runSequence(static_cast<std::uint32_t>(std::strtoul(replay, nullptr, 10)));
        return;
    }
    const std::uint32_t seed = std::random_device{}();
    for (std::uint32_t run = 0; run < 150 && !HasFailure(); ++run)
        runSequence(seed + run);
}

} // namespace
} // namespace dotmatrix
