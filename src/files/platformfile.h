#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace dotmatrix {

// Identifies the file behind an open handle, so two paths of one file are
// recognised as the same file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t node = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Why a path that exists is not a file the tool can read and write by position.
enum class UnusableFile {
    CharacterDevice = 1,
    NamedPipe,
    Socket,
    KernelFile,
    RawDisk,
    MountedDisk,
    DiskInUse,
    Locked,
    DanglingLink,
};

[[nodiscard]] const std::error_category& unusableFileCategory();
// Why a file refused for `reason` can't be used, in the words of the system
// at hand (one per platform file); empty where all systems say it alike.
inline constexpr const char* kUnaddressable =
    ", which has no definite length and can't be read or written by position";
[[nodiscard]] std::string unusableFileReason(UnusableFile reason);
[[nodiscard]] std::error_code make_error_code(UnusableFile reason);

// Lets the calling thread run only where a core would otherwise be idle
// (`idle`), for work done on the chance that it is needed, which must not
// slow what the user waits for; or as any other again, once it is needed.
void runThisThreadWhenIdle(bool idle);

// A stretch of a file, zero-based: `begin` up to `end`.
struct ByteStretch {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    bool operator==(const ByteStretch&) const = default;
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

    // Opens `path` (UTF-8), which must be a regular file or a block device
    // with a definite length. ReadWrite creates a missing file and never
    // truncates. Anything else is refused before it is opened, with an
    // UnusableFile reason.
    [[nodiscard]] static PlatformFile open(const std::string& path, Access access, std::error_code& error);

    // The identity of the file a path names now.
    [[nodiscard]] static FileIdentity identityOf(const std::string& path, std::error_code& error);

    // Removes a file this program created; errors are dropped.
    static void remove(const std::string& path) noexcept;

    // What more there is to say of why `path` was refused with `reason`: the
    // mount points of a disk, the missing file a link names. Empty where
    // there is nothing to add.
    [[nodiscard]] static std::string detail(const std::string& path, const std::error_code& reason);

    // True when open() created the file.
    [[nodiscard]] bool created() const { return created_; }

    // Reads up to `into.size()` bytes at `offset`; fewer only at the end of the file.
    [[nodiscard]] std::size_t readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error);
    // Writes all of `bytes` at `offset`, extending the file as needed. On a
    // device, a write past its end fails with "no space".
    void writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes, std::error_code& error);
    // The length in bytes; a device's capacity.
    [[nodiscard]] std::int64_t size(std::error_code& error) const;
    // Makes a file at least `size` bytes long; new bytes read as zero. A
    // device can't grow: asking for more than its capacity fails with "no space".
    void extend(std::int64_t size, std::error_code& error);
    // Commits the file's contents to stable storage.
    void sync(std::error_code& error);
    // Takes a lock that other programs which lock files see: shared, or
    // exclusive. Fails with UnusableFile::Locked where another one holds a
    // lock that excludes it. Where the system locks by sharing modes instead
    // (Windows), the target's open() has done this already, and a shared lock
    // stops sharing the file with writers.
    void lock(bool exclusive, std::error_code& error);
    [[nodiscard]] FileIdentity identity(std::error_code& error) const;
    // True where the open file has been deleted meanwhile: it has no name
    // left, or (Windows) it goes once the last handle is closed.
    [[nodiscard]] bool deleted(std::error_code& error) const;

    // The first offset at or after `offset` that holds data, or `size` where
    // only a hole follows. Where holes can't be asked for, that is `offset`.
    [[nodiscard]] std::int64_t nextData(std::int64_t offset, std::int64_t size, std::error_code& error) const;
    // The end of the data that starts at `offset`: the next hole, or `size`.
    [[nodiscard]] std::int64_t nextHole(std::int64_t offset, std::int64_t size, std::error_code& error) const;

    // The stretches from `offset` to `end` that this file and `other` keep in
    // one place on the disk at the same offsets (extents a copy shares), and
    // so hold the same bytes, as the system says after writing both out.
    // Empty where it can't tell; never a stretch it is unsure of.
    [[nodiscard]] std::vector<ByteStretch> sharedWith(const PlatformFile& other, std::int64_t offset,
                                                      std::int64_t end, std::error_code& error) const;

    // Copies `count` bytes at `offset` to the same offset of `target` inside
    // the kernel, sharing extents where the file system can. Returns the bytes
    // copied: fewer where the source ends early, or where the kernel declines
    // such a copy (then `declined` is set and no error), so the caller copies
    // the rest itself.
    [[nodiscard]] std::int64_t copyTo(PlatformFile& target, std::int64_t offset, std::int64_t count, bool& declined,
                                      std::error_code& error);

    void close();
    // Closes and says how that went: some file systems report a failed
    // write only here.
    void close(std::error_code& error);

private:
    // A file descriptor, or a Windows handle; -1 is none on both.
    using Handle = std::intptr_t;
    static constexpr Handle kNoHandle = -1;

    explicit PlatformFile(Handle handle, bool device, bool created)
        : handle_(handle), device_(device), created_(created)
    {
    }

    Handle handle_ = kNoHandle;
    bool device_ = false;
    bool created_ = false;
};

} // namespace dotmatrix

template <>
struct std::is_error_code_enum<dotmatrix::UnusableFile> : std::true_type {};
