#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platformfile.h"
#include "position.h"

namespace dotmatrix {

// The two files of a pass, numbered as the pass knows them.
enum class PassFile { SourceFile = 1, TargetFile = 2 };

// A file operation that failed: which file, its path and the system's reason.
class FileError : public std::runtime_error {
public:
    FileError(PassFile file, const std::string& path, const std::string& action, const std::string& reason);
};

class BufferedFile;

// Byte-by-byte access by position to the source and the target of a pass.
// Bytes go through one block buffer per file, so single-byte reads and writes
// cost no system call each; every result is exactly that of unbuffered access,
// also when source and target are one file. Failures throw FileError.
class FileService {
public:
    FileService();
    FileService(const FileService&) = delete;
    FileService& operator=(const FileService&) = delete;
    ~FileService();

    // Opens the source for reading and the target for reading and writing,
    // creating a missing target and never truncating one, and locks them:
    // the source shared, the target exclusive. On failure no file is left
    // open and a target it created is removed.
    void open(const std::string& sourcePath, const std::string& targetPath);

    // Closes both files without a word, and removes the target where open()
    // created it: for a pass that is given up before it wrote anything.
    void abandon() noexcept;

    [[nodiscard]] bool isOpen() const;

    // The byte at `position`; 0 behind the end of the file. A read behind the
    // source's known end asks the system for its length again.
    [[nodiscard]] std::uint8_t readByte(PassFile file, Position position);

    // The bytes from `first` on as the file holds them now, whatever was read
    // before; 0 behind its end.
    void readFresh(PassFile file, Position first, std::span<std::uint8_t> into);

    // Forgets every byte and length read so far, so that what other programs
    // have changed meanwhile is seen.
    void forgetReads();

    // Writes one byte of the target; a position behind the end extends the file.
    void writeByte(Position position, std::uint8_t value);

    // The file's current length in bytes, writes not yet handed over included;
    // the source's as the system reports it now.
    [[nodiscard]] std::int64_t length(PassFile file);

    // Hears the last position copied after every piece of a copy, each of
    // about 50 ms at most; false stops the copy there.
    using CopyProgress = std::function<bool(Position)>;

    // Copies positions `first` to `last` of the source to the same positions of
    // the target, with the result of reading and writing them one at a time.
    // The kernel copies where it can, sharing extents, and holes stay holes.
    // False where `progress` stopped it: the target then holds the copy up to
    // the position last reported, and nothing of it behind.
    bool copy(Position first, Position last, const CopyProgress& progress = {});

    // Throws FileError unless both paths still name the open files.
    void checkPaths() const;

    // Hands every byte written so far to the operating system.
    void flush();

    // Flushes and commits the target to stable storage.
    void sync();

    // Closes both files; a failure of either close throws FileError, with
    // both closed all the same.
    void close();

    // Flushes what it can and closes both files; errors are dropped.
    void closeAll() noexcept;

private:
    [[nodiscard]] BufferedFile& file(PassFile which) const;
    void checkPath(PassFile which, const FileIdentity& identity) const;

    // Each copies one stretch of a copy; false where `report` stopped it.
    bool copyData(BufferedFile& source, std::int64_t offset, std::int64_t end,
                  const std::function<bool(std::int64_t)>& report);
    bool copyHole(std::int64_t offset, std::int64_t end, const std::function<bool(std::int64_t)>& report);
    void copyBuffered(BufferedFile& source, std::int64_t offset, std::int64_t end);
    // The copy buffer's first `wanted` bytes, at most one block of it.
    [[nodiscard]] std::span<std::uint8_t> copyBlock(std::int64_t wanted);

    std::unique_ptr<BufferedFile> source_;
    std::unique_ptr<BufferedFile> target_;
    FileIdentity sourceIdentity_;
    FileIdentity targetIdentity_;
    std::string createdTarget_;
    bool sameFile_ = false;
    bool kernelCopies_ = true;
    std::int64_t kernelPiece_ = 0;
    std::int64_t bufferedPiece_ = 0;
    std::vector<std::uint8_t> copyBuffer_;
};

// True when both paths name one existing file: the same path, a link, or
// another name with the same identity.
[[nodiscard]] bool isSameFile(const std::string& first, const std::string& second);

} // namespace dotmatrix
