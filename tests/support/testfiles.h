#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "charactergrid.h"
#include "windowport.h"

namespace dotmatrix::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    [[nodiscard]] std::string path(const std::string& name) const;

private:
    std::filesystem::path root_;
};

#ifndef _WIN32
// Mounts, loop devices and file size limits are POSIX means (testfiles_posix.cpp).

// Runs a shell command quietly; its output goes to `log` when it fails.
[[nodiscard]] bool run(const std::string& command, std::string* log = nullptr);

// A file system mounted on a fresh folder for the life of the object: a
// tmpfs, an overlay, or ext4, XFS or btrfs on a loop-mounted image. Only root
// can mount: elsewhere, or where the kernel or the tools are missing, it stays
// unmounted and says why, so the test can skip.
class MountedFolder {
public:
    // `type` is "tmpfs", "ext4", "xfs" or "btrfs".
    MountedFolder(const std::string& type, int sizeMiB);
    // An overlay of a lower and an upper folder; path() is the merged view.
    static MountedFolder overlay();
    // A FUSE file system whose file "image", of `bytes` bytes, holds
    // position p & 0xFF at position p and takes `delayMs` for every read, as
    // a network share or a slow card would; its file "target" takes writes,
    // each sync of it takes `syncDelayMs`, and where `failClose` is set,
    // every close of it fails.
    static MountedFolder slow(std::int64_t bytes, int delayMs, bool failClose = false, int syncDelayMs = 0);
    MountedFolder(const MountedFolder&) = delete;
    MountedFolder& operator=(const MountedFolder&) = delete;
    MountedFolder(MountedFolder&& other) noexcept;
    ~MountedFolder();

    [[nodiscard]] bool mounted() const { return whyNot_.empty(); }
    [[nodiscard]] const std::string& whyNot() const { return whyNot_; }
    // A name inside the mounted file system.
    [[nodiscard]] std::string path(const std::string& name) const;
    // A name in the folder below the mount (the overlay's upper folder).
    [[nodiscard]] std::string below(const std::string& name) const;

private:
    MountedFolder() = default;
    void mount(const std::string& command);

    std::unique_ptr<TempFolder> folder_;
    std::string mountPoint_;
    std::string whyNot_;
};

// A file attached as a loop block device for the life of the object.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image);
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    ~LoopDevice();

    [[nodiscard]] bool attached() const { return whyNot_.empty(); }
    [[nodiscard]] const std::string& whyNot() const { return whyNot_; }
    [[nodiscard]] const std::string& device() const { return device_; }

private:
    std::string device_;
    std::string whyNot_;
};

// Limits the size of files this process may write, so writes past `bytes`
// fail with "File too large" as they would on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::int64_t bytes);
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit();

private:
    std::uint64_t previous_;
};

#endif

// The folder of the real files that hold fonts (../shared/realfonts beside
// the checkout), fetched once into a temporary folder by its script; empty,
// with why in `whyNot`, where they can't be had (no network, no apt-get).
[[nodiscard]] std::string realFonts(std::string& whyNot);

// True where Windows is Wine, which differs from it in a few ways tests need to know.
[[nodiscard]] bool underWine();

void writeFile(const std::string& path, const Bytes& bytes);
// Writes `bytes` into an existing file from zero-based `offset`, as another program would.
void writeAt(const std::string& path, std::int64_t offset, const Bytes& bytes);
[[nodiscard]] Bytes readFile(const std::string& path);
// `count` bytes 1, 2, 3, ... wrapping after 255: every position tells its own byte.
[[nodiscard]] Bytes countingBytes(std::size_t count, std::uint8_t first = 1);

// The grid as the bytes its columns encode.
[[nodiscard]] Bytes gridBytes(const CharacterGrid& grid);

// Stands in for the window: inputs set by the test, outputs recorded.
class RecordingWindow : public WindowPort {
public:
    std::string offset = "0000";
    int symtype = 1;
    // Where set, a format other than the four sizes, in place of `symtype`.
    std::optional<GlyphFormat> format;
    std::vector<std::string> curoffTexts;
    bool startEnabled = true;
    int displays = 0;
    int completed = 0;
    std::string completedNote;
    std::vector<bool> yesByDefaults;
    std::vector<Asking> askings;
    std::vector<std::string> problems;
    std::vector<std::string> questions;
    bool answer = true;  // to every question
    // Where set, answers in place of `answer`.
    std::function<bool(Asking)> answerFor;
    // Where set, the user stops a copy before it has done more than a piece.
    bool stopCopies = false;
    std::vector<BackgroundTask::Kind> waits;
    std::vector<std::string> stops;
    // Where set, runs just before each task, and every millisecond while one
    // runs: another program's doing meanwhile.
    std::function<void(BackgroundTask::Kind)> beforeTask;
    std::function<void(const BackgroundTask&)> duringTask;

    [[nodiscard]] std::string offsetText() const override { return offset; }
    [[nodiscard]] int selectedSymtype() const override { return symtype; }
    [[nodiscard]] std::optional<GlyphFormat> chosenFormat() const override { return format; }
    void setCuroffText(const std::string& text) override { curoffTexts.push_back(text); }
    void setStartButtEnabled(bool enabled) override { startEnabled = enabled; }
    void veskdisplay() override { ++displays; }
    void showCompleted(const std::string& note) override
    {
        ++completed;
        completedNote = note;
    }
    void showProblem(const std::string& message) override { problems.push_back(message); }
    bool confirm(Asking asking, const std::string& question, bool yesByDefault) override
    {
        questions.push_back(question);
        yesByDefaults.push_back(yesByDefault);
        askings.push_back(asking);
        return answerFor ? answerFor(asking) : answer;
    }
    void runTask(BackgroundTask& task) override
    {
        waits.push_back(task.kind());
        if (beforeTask)
            beforeTask(task.kind());
        if (stopCopies)
            task.requestStop();
        task.start();
        while (!task.waitFinished(std::chrono::milliseconds(1))) {
            if (duringTask)
                duringTask(task);
        }
        if (task.kind() == BackgroundTask::Kind::PrefixCopy)
            curoffTexts.push_back(std::to_string(task.done().number()));
    }
    void showStopped(const std::string& message) override { stops.push_back(message); }

    [[nodiscard]] std::string curoff() const { return curoffTexts.empty() ? "0000" : curoffTexts.back(); }
};

} // namespace dotmatrix::testing
