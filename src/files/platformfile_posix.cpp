#include "platformfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

// Here a file's handle is its file descriptor.

namespace dotmatrix {

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}


// Where the disk `status` describes, or any of its partitions, is mounted:
// "mounted on /media/card, /mnt"; empty where nowhere.
std::string mountPoints(const struct stat& status)
{
    // The disk's own mounts and those of its partitions: their sysfs folders
    // lie within the disk's.
    const auto sysfsFolder = [](unsigned major, unsigned minor) {
        const std::string link = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
        std::array<char, PATH_MAX> resolved{};
        return ::realpath(link.c_str(), resolved.data()) != nullptr ? std::string(resolved.data()) : std::string();
    };
    const std::string disk = sysfsFolder(major(status.st_rdev), minor(status.st_rdev));
    if (disk.empty())
        return {};
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    std::string found;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id;
        std::string parent;
        std::string device;
        std::string root;
        std::string point;
        fields >> id >> parent >> device >> root >> point;
        const auto colon = device.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string folder = sysfsFolder(static_cast<unsigned>(std::stoul(device.substr(0, colon))),
                                               static_cast<unsigned>(std::stoul(device.substr(colon + 1))));
        if (!folder.empty() && (folder == disk || folder.rfind(disk + "/", 0) == 0)) {
            found += found.empty() ? "mounted on " : ", ";
            found += point;
        }
    }
    return found;
}


// Anything but a regular file or a block device, as stat() sees it.
std::error_code unusableKind(const struct stat& status)
{
    if (S_ISDIR(status.st_mode))
        return std::make_error_code(std::errc::is_a_directory);
    if (S_ISCHR(status.st_mode))
        return UnusableFile::CharacterDevice;
    if (S_ISFIFO(status.st_mode))
        return UnusableFile::NamedPipe;
    if (S_ISSOCK(status.st_mode))
        return UnusableFile::Socket;
    if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode))
        return UnusableFile::CharacterDevice;
    return {};
}

// Files of /proc, /sys and their kin report lengths that have nothing to do
// with what they read, and writing them changes the running system.
bool isKernelFile(int handle, const struct stat& status)
{
    constexpr std::array<unsigned long, 11> kernelFileSystems = {
        0x9fa0,      // proc
        0x62656572,  // sysfs
        0x64626720,  // debugfs
        0x74726163,  // tracefs
        0x73636673,  // securityfs
        0x62656570,  // configfs
        0xde5e81e4,  // efivarfs
        0x27e0eb,    // cgroup
        0x63677270,  // cgroup2
        0xcafe4a11,  // bpf
        0x6165676c,  // pstore
    };
    struct statfs system {};
    if (::fstatfs(handle, &system) == 0) {
        for (const unsigned long type : kernelFileSystems) {
            if (static_cast<unsigned long>(system.f_type) == type)
                return true;
        }
    }
    if (S_ISREG(status.st_mode) && status.st_size == 0) {
        char probe = 0;
        return ::pread(handle, &probe, 1, 0) > 0;
    }
    return false;
}

FileIdentity identityFrom(const struct stat& status)
{
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

bool kernelDeclinesCopy(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

} // namespace

std::string unusableFileReason(UnusableFile reason)
{
    switch (reason) {
    case UnusableFile::CharacterDevice:
        return "it is a character device" + std::string(kUnaddressable);
    case UnusableFile::RawDisk:
        return "it is a whole disk; use an image file of it instead";
    case UnusableFile::MountedDisk:
        return "it holds a file system that is mounted, and writing to it would destroy both";
    case UnusableFile::DiskInUse:
        return "another program is using it: it has the disk open for itself, or made it part of a volume";
    case UnusableFile::Locked:
        return "another program is using it: it holds a lock on the file";
    case UnusableFile::DanglingLink:
        return "it is a symbolic link to a file that does not exist";
    case UnusableFile::KernelFile:
        return "its reported length does not tell what it holds, as with the files the kernel makes up "
               "under /proc and /sys";
    case UnusableFile::NamedPipe:
    case UnusableFile::Socket:
        break;  // said alike everywhere
    }
    return {};
}

PlatformFile PlatformFile::open(const std::string& path, Access access, std::error_code& error)
{
    error.clear();
    // A write past the process's file size limit must fail like any other
    // write, not end the program with the dots on display.
    static const bool noSizeSignal = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)noSizeSignal;
    // The kind is checked before opening: opening a device or a pipe can
    // have effects of its own. A file that appears or goes in between is
    // looked at again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        struct stat status {};
        const bool exists = ::stat(path.c_str(), &status) == 0;
        if (!exists && (errno != ENOENT || access == Access::ReadOnly)) {
            error = lastError();
            return {};
        }
        struct stat link {};
        if (!exists && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            error = UnusableFile::DanglingLink;
            return {};
        }
        if (exists) {
            error = unusableKind(status);
            if (error)
                return {};
        }
        int flags = (access == Access::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        if (!exists)
            flags |= O_CREAT | O_EXCL;
        // A disk is opened for writing only where nothing has mounted or
        // claimed it: the kernel refuses such an exclusive open.
        if (exists && access == Access::ReadWrite && S_ISBLK(status.st_mode))
            flags |= O_EXCL;
        int handle = -1;
        do {
            handle = ::open(path.c_str(), flags, 0666);
        } while (handle < 0 && errno == EINTR);
        if (handle < 0) {
            if ((!exists && errno == EEXIST) || (exists && errno == ENOENT))
                continue;
            error = lastError();
            // A disk the kernel won't give out: mounted, or held by another program.
            if (errno == EBUSY && S_ISBLK(status.st_mode))
                error = mountPoints(status).empty() ? UnusableFile::DiskInUse : UnusableFile::MountedDisk;
            return {};
        }
        PlatformFile file(handle, false, !exists);
        const int statusFlags = ::fcntl(handle, F_GETFL);
        if (statusFlags < 0 || ::fcntl(handle, F_SETFL, statusFlags & ~O_NONBLOCK) != 0
            || ::fstat(handle, &status) != 0) {
            error = lastError();
            return {};
        }
        error = unusableKind(status);
        if (!error && isKernelFile(handle, status))
            error = UnusableFile::KernelFile;
        if (error)
            return {};
        file.device_ = S_ISBLK(status.st_mode);
        return file;
    }
    error = std::make_error_code(std::errc::resource_unavailable_try_again);
    return {};
}

FileIdentity PlatformFile::identityOf(const std::string& path, std::error_code& error)
{
    error.clear();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = lastError();
        return {};
    }
    return identityFrom(status);
}

void PlatformFile::remove(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

std::string PlatformFile::detail(const std::string& path, const std::error_code& reason)
{
    if (reason == UnusableFile::DanglingLink) {
        std::array<char, PATH_MAX> target{};
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size() - 1);
        // Built piece by piece: GCC 12 misjudges a concatenation here (-Wrestrict).
        std::string quoted;
        if (length > 0) {
            quoted += '"';
            quoted.append(target.data(), static_cast<std::size_t>(length));
            quoted += '"';
        }
        return quoted;
    }
    if (reason != UnusableFile::MountedDisk)
        return {};
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return {};
    return mountPoints(status);
}

std::size_t PlatformFile::readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error)
{
    error.clear();
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::pread(handle_, into.data() + done, into.size() - done,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = lastError();
            break;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void PlatformFile::writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes, std::error_code& error)
{
    error.clear();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(handle_, bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            error = lastError();
            return;
        }
        if (put == 0) {
            error = std::make_error_code(std::errc::no_space_on_device);
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

std::int64_t PlatformFile::size(std::error_code& error) const
{
    error.clear();
    if (device_) {
        // stat() reports 0 for a device; its end is where a seek takes us.
        const off_t end = ::lseek(handle_, 0, SEEK_END);
        if (end < 0) {
            error = lastError();
            return 0;
        }
        return static_cast<std::int64_t>(end);
    }
    struct stat status {};
    if (::fstat(handle_, &status) != 0) {
        error = lastError();
        return 0;
    }
    return static_cast<std::int64_t>(status.st_size);
}

void PlatformFile::extend(std::int64_t size, std::error_code& error)
{
    const std::int64_t now = this->size(error);
    if (error || size <= now)
        return;
    if (device_) {
        error = std::make_error_code(std::errc::no_space_on_device);
        return;
    }
    int result = 0;
    do {
        result = ::ftruncate(handle_, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        error = lastError();
}

void PlatformFile::sync(std::error_code& error)
{
    error.clear();
    if (::fsync(handle_) != 0)
        error = lastError();
}

void PlatformFile::lock(bool exclusive, std::error_code& error)
{
    error.clear();
    int result = 0;
    do {
        result = ::flock(handle_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error = errno == EWOULDBLOCK ? std::error_code(UnusableFile::Locked) : lastError();
        return;
    }
    // Programs that lock with fcntl() or lockf() (record locks) and with open
    // file description locks (virtual machines on their disk images) see
    // neither flock() nor each other's kind but for this one: it conflicts
    // with both.
    struct flock whole {};
    whole.l_type = exclusive ? F_WRLCK : F_RDLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(handle_, F_OFD_SETLK, &whole) != 0) {
        if (errno == EAGAIN || errno == EACCES)
            error = UnusableFile::Locked;
        // Elsewhere (a file system without such locks) flock() has to do.
    }
}

bool PlatformFile::deleted(std::error_code& error) const
{
    error.clear();
    struct stat status {};
    if (::fstat(handle_, &status) != 0) {
        error = lastError();
        return false;
    }
    return status.st_nlink == 0 && S_ISREG(status.st_mode);
}

FileIdentity PlatformFile::identity(std::error_code& error) const
{
    error.clear();
    struct stat status {};
    if (::fstat(handle_, &status) != 0) {
        error = lastError();
        return {};
    }
    return identityFrom(status);
}

std::int64_t PlatformFile::nextData(std::int64_t offset, std::int64_t size, std::error_code& error) const
{
    error.clear();
    if (device_ || offset >= size)
        return std::min(offset, size);
    const off_t found = ::lseek(handle_, static_cast<off_t>(offset), SEEK_DATA);
    if (found >= 0)
        return std::min<std::int64_t>(found, size);
    if (errno == ENXIO)
        return size;
    if (errno != EINVAL && errno != EOPNOTSUPP)
        error = lastError();
    return offset;
}

std::int64_t PlatformFile::nextHole(std::int64_t offset, std::int64_t size, std::error_code& error) const
{
    error.clear();
    if (device_ || offset >= size)
        return size;
    const off_t found = ::lseek(handle_, static_cast<off_t>(offset), SEEK_HOLE);
    if (found >= 0)
        return std::min<std::int64_t>(found, size);
    if (errno != ENXIO && errno != EINVAL && errno != EOPNOTSUPP)
        error = lastError();
    return size;
}

namespace {

struct Extent {
    std::int64_t logical = 0;
    std::int64_t physical = 0;
    std::int64_t length = 0;
};

// The extents of `fd` that a copy can share, from `offset` to `end`, as
// FIEMAP tells them once the file is written out; false where it can't.
bool sharableExtents(int fd, std::int64_t offset, std::int64_t end, std::vector<Extent>& extents)
{
    // Extents whose place on the disk is not yet known, or not the data's own.
    constexpr std::uint32_t kUnsure = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED
                                      | FIEMAP_EXTENT_DATA_ENCRYPTED | FIEMAP_EXTENT_NOT_ALIGNED
                                      | FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_UNWRITTEN;
    constexpr std::uint32_t kBatch = 256;
    std::vector<std::uint8_t> storage(sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    std::uint32_t flags = FIEMAP_FLAG_SYNC;
    for (std::int64_t at = offset; at < end;) {
        auto* map = reinterpret_cast<fiemap*>(storage.data());
        std::fill(storage.begin(), storage.end(), std::uint8_t{0});
        map->fm_start = static_cast<std::uint64_t>(at);
        map->fm_length = static_cast<std::uint64_t>(end - at);
        map->fm_flags = flags;
        map->fm_extent_count = kBatch;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0)
            return false;
        flags = 0;  // written out once is enough
        if (map->fm_mapped_extents == 0)
            break;
        bool last = false;
        for (std::uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& extent = map->fm_extents[i];
            last = last || (extent.fe_flags & FIEMAP_EXTENT_LAST) != 0;
            at = std::max<std::int64_t>(at, static_cast<std::int64_t>(extent.fe_logical + extent.fe_length));
            if ((extent.fe_flags & kUnsure) == 0 && (extent.fe_flags & FIEMAP_EXTENT_SHARED) != 0)
                extents.push_back({static_cast<std::int64_t>(extent.fe_logical),
                                   static_cast<std::int64_t>(extent.fe_physical),
                                   static_cast<std::int64_t>(extent.fe_length)});
        }
        if (last)
            break;
    }
    return true;
}

} // namespace

std::vector<ByteStretch> PlatformFile::sharedWith(const PlatformFile& other, std::int64_t offset, std::int64_t end,
                                                  std::error_code& error) const
{
    error.clear();
    std::vector<ByteStretch> shared;
    std::vector<Extent> mine;
    std::vector<Extent> theirs;
    if (device_ || other.device_ || offset >= end
        || !sharableExtents(static_cast<int>(handle_), offset, end, mine)
        || !sharableExtents(static_cast<int>(other.handle_), offset, end, theirs))
        return shared;
    // Both in order of their logical offsets: walk them side by side.
    std::size_t j = 0;
    for (const Extent& a : mine) {
        while (j < theirs.size() && theirs[j].logical + theirs[j].length <= a.logical)
            ++j;
        for (std::size_t k = j; k < theirs.size() && theirs[k].logical < a.logical + a.length; ++k) {
            const Extent& b = theirs[k];
            // The same bytes on the disk only where both map an offset to one place.
            if (a.physical - a.logical != b.physical - b.logical)
                continue;
            const std::int64_t begin = std::max({a.logical, b.logical, offset});
            const std::int64_t stop = std::min({a.logical + a.length, b.logical + b.length, end});
            if (begin < stop)
                shared.push_back({begin, stop});
        }
    }
    return shared;
}

std::int64_t PlatformFile::copyTo(PlatformFile& target, std::int64_t offset, std::int64_t count, bool& declined,
                                  std::error_code& error)
{
    error.clear();
    declined = false;
    if (device_ || target.device_) {
        declined = true;
        return 0;
    }
    std::int64_t done = 0;
    while (done < count) {
        loff_t from = offset + done;
        loff_t to = from;
        const ssize_t copied = ::copy_file_range(handle_, &from, target.handle_, &to,
                                                 static_cast<std::size_t>(count - done), 0);
        if (copied < 0) {
            if (errno == EINTR)
                continue;
            if (kernelDeclinesCopy(errno))
                declined = true;
            else
                error = lastError();
            break;
        }
        if (copied == 0)
            break;  // the source ends here
        done += copied;
    }
    return done;
}

void PlatformFile::close(std::error_code& error)
{
    error.clear();
    // Not retried on EINTR: the descriptor is gone either way.
    if (handle_ != kNoHandle && ::close(static_cast<int>(std::exchange(handle_, kNoHandle))) != 0 && errno != EINTR)
        error = lastError();
}

void runThisThreadWhenIdle(bool idle)
{
    // A hint: where the system refuses it, the thread runs as before.
    const sched_param none{};
    (void)::pthread_setschedparam(::pthread_self(), idle ? SCHED_IDLE : SCHED_OTHER, &none);
}

} // namespace dotmatrix
