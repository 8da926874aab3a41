#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <system_error>

namespace dotmatrix {

// Identifies the file behind an open handle, so two paths of one file are
// recognised as the same file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t node = 0;
    bool operator==(const FileIdentity&) const = default;
};

// One open file and the operating system calls on it. This is the only code
// that talks to the system about files; offsets here are zero-based.
class PlatformFile {
public:
    enum class Access { ReadOnly, ReadWrite };

    PlatformFile() = default;
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;
    PlatformFile(PlatformFile&& other) noexcept;
    PlatformFile& operator=(PlatformFile&& other) noexcept;
    ~PlatformFile();

    // Opens `path`; ReadWrite creates a missing file and never truncates.
    // A folder is refused.
    [[nodiscard]] static PlatformFile open(const std::string& path, Access access, std::error_code& error);

    // Reads up to `into.size()` bytes at `offset`; fewer only at the end of the file.
    [[nodiscard]] std::size_t readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error);
    // Writes all of `bytes` at `offset`, extending the file as needed.
    void writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes, std::error_code& error);
    [[nodiscard]] std::int64_t size(std::error_code& error) const;
    // Makes the file `size` bytes long; new bytes read as zero.
    void resize(std::int64_t size, std::error_code& error);
    // Commits the file's contents to stable storage.
    void sync(std::error_code& error);
    [[nodiscard]] FileIdentity identity(std::error_code& error) const;
    void close();

private:
    explicit PlatformFile(int handle) : handle_(handle) {}

    int handle_ = -1;
};

} // namespace dotmatrix
