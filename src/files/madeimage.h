#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>

#include "platformfile.h"
#include "position.h"

namespace dotmatrix {

// The files of an image as a pass makes it.
struct ImageFiles {
    std::string sourcePath;
    std::string targetPath;       // empty outside a pass
    Position writtenThrough{0};   // the target holds positions 1 to this one
};

// Of `count` bytes from zero-based `offset`, how many lead from the target:
// a pass writes without a gap from position 1 on, so the target holds what
// it made up to `writtenThrough` and the source stands for the rest.
[[nodiscard]] std::int64_t bytesFromTarget(std::int64_t offset, std::int64_t count, Position writtenThrough);

// Reads the image as a pass makes it through read-only handles of its own,
// opened afresh, so that what other programs did shows.
class MadeImage {
public:
    // Opens the files; where one can't be, nothing, and `problem` says why.
    [[nodiscard]] static std::optional<MadeImage> open(const ImageFiles& files, std::string& problem);

    // The source's length, or more where the pass has written beyond it.
    [[nodiscard]] std::int64_t length(std::error_code& error) const;
    // Reads at zero-based `offset` from the file that holds it, up to where
    // that file's stretch ends; as a read of one file, it may return fewer.
    [[nodiscard]] std::size_t readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error);
    // Reads `into.size()` bytes at `offset`: zeros behind the ends. Where a
    // file can't be read, `problem` says which and why.
    void readAll(std::int64_t offset, std::span<std::uint8_t> into, std::string& problem);
    // Reads the source's own bytes at `offset`, as readAll does.
    void readSource(std::int64_t offset, std::span<std::uint8_t> into, std::string& problem);
    // The first offset at or after `offset`, before `end`, that holds data.
    [[nodiscard]] std::int64_t nextData(std::int64_t offset, std::int64_t end, std::error_code& error) const;

private:
    MadeImage(ImageFiles files, PlatformFile source, std::optional<PlatformFile> target)
        : files_(std::move(files)), source_(std::move(source)), target_(std::move(target))
    {
    }
    // True where the target holds the byte at `offset`.
    [[nodiscard]] bool inTarget(std::int64_t offset) const;

    ImageFiles files_;
    PlatformFile source_;
    std::optional<PlatformFile> target_;
};

// What a file that can't be read says, as the views and the scan say it.
[[nodiscard]] std::string cannotRead(const char* which, const std::string& path, const std::error_code& error);

} // namespace dotmatrix
