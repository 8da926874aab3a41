#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "copyengine.h"
#include "fileerror.h"
#include "platformfile.h"
#include "position.h"

namespace dotmatrix {

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
    // True where the source and the target are one file.
    [[nodiscard]] bool oneFile() const { return sameFile_; }

    // The byte at `position`; 0 behind the end of the file. A read behind the
    // source's known end asks the system for its length again.
    [[nodiscard]] std::uint8_t readByte(PassFile file, Position position);

    // The bytes from `first` on as the file holds them now, whatever was read
    // before; 0 behind its end.
    void readFresh(PassFile file, Position first, std::span<std::uint8_t> into);

    // The stretches of positions from `first` to `last` where the system
    // keeps the source's and the target's bytes in one place on the disk
    // (extents a copy shares), which need no reading to compare; written
    // out first. Empty where it can't tell.
    [[nodiscard]] std::vector<ByteStretch> sharedStretches(Position first, Position last);

    // Forgets every byte and length read so far, so that what other programs
    // have changed meanwhile is seen.
    void forgetReads();

    // Writes one byte of the target; a position behind the end extends the file.
    void writeByte(Position position, std::uint8_t value);

    // The file's current length in bytes, writes not yet handed over included;
    // the source's as the system reports it now.
    [[nodiscard]] std::int64_t length(PassFile file);

    // The file's length as the system reports it now, with every byte
    // written so far handed over first.
    [[nodiscard]] std::int64_t lengthNow(PassFile file);
    // A copy between the open files, for one copy of the thread that runs it.
    [[nodiscard]] CopyEngine copier(CopyEngine::Progress progress = {});

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

    std::unique_ptr<BufferedFile> source_;
    std::unique_ptr<BufferedFile> target_;
    FileIdentity sourceIdentity_;
    FileIdentity targetIdentity_;
    std::string createdTarget_;
    bool sameFile_ = false;
};

// True when both paths name one existing file: the same path, a link, or
// another name with the same identity.
[[nodiscard]] bool isSameFile(const std::string& first, const std::string& second);

} // namespace dotmatrix
