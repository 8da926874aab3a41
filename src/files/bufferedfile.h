#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "fileerror.h"
#include "platformfile.h"

namespace dotmatrix {

// One open file of a pass with a single block buffer. Offsets are zero-based;
// reads behind the end yield 0; the dirty part of the block reaches the file
// on flush or on a block change. Failures throw FileError naming the file.
class BufferedFile {
public:
    static constexpr std::int64_t kBlockSize = 64 * 1024;

    // Hears every range of the file that has been handed to the system.
    using WriteListener = std::function<void(std::int64_t offset, std::int64_t count)>;

    BufferedFile(PlatformFile file, PassFile role, std::string path);

    [[nodiscard]] std::int64_t size() const { return size_; }
    [[nodiscard]] PlatformFile& platform() { return file_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] PassFile role() const { return role_; }
    void listen(WriteListener listener) { listener_ = std::move(listener); }

    [[nodiscard]] std::uint8_t read(std::int64_t offset);
    void write(std::int64_t offset, std::uint8_t value);
    // Fills `into` from `offset` on, with zeros behind the end.
    void readSpan(std::int64_t offset, std::span<std::uint8_t> into);
    // Reads all of `into` from `offset`; throws FileError where the file ends first.
    void readWhole(std::int64_t offset, std::span<std::uint8_t> into);
    void writeSpan(std::int64_t offset, std::span<const std::uint8_t> bytes);
    // Lengthens the file to `size` bytes of which the new ones are zero.
    void extend(std::int64_t size);
    // Takes note of bytes that reached the file past the buffer.
    void written(std::int64_t offset, std::int64_t count);
    // Reads the length again; buffered bytes of another length are dropped.
    void refreshSize();
    // The length as the system reports it now, buffer and known length aside.
    [[nodiscard]] std::int64_t sizeNow() const;
    // Reads the buffered bytes of a range again from the file, which may have
    // changed through another name of it.
    void reload(std::int64_t offset, std::int64_t count);
    void flush();
    void sync();
    // Fills `into` from `offset` on with what the file holds now, 0 behind
    // its end, whatever length was seen before. Pending writes must be out.
    void readFresh(std::int64_t offset, std::span<std::uint8_t> into);
    // Forgets the buffered block and the length, once written bytes are out.
    void forget();
    void close();
    void lock(bool exclusive);
    [[nodiscard]] FileIdentity identity() const;
    [[nodiscard]] std::int64_t nextData(std::int64_t offset, std::int64_t limit) const;
    [[nodiscard]] std::int64_t nextHole(std::int64_t offset, std::int64_t limit) const;
    // Throws FileError for `error`, saying the file could not be `action`ed.
    void check(const std::error_code& error, const char* action) const;

private:
    // Makes the block that holds `offset` the buffered one.
    void hold(std::int64_t offset);

    PlatformFile file_;
    PassFile role_;
    std::string path_;
    std::int64_t size_ = 0;
    std::vector<std::uint8_t> block_;
    std::int64_t blockStart_ = -1;
    std::int64_t dirtyBegin_ = 0;
    std::int64_t dirtyEnd_ = 0;
    WriteListener listener_;
};

} // namespace dotmatrix
