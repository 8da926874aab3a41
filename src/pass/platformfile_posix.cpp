#include "platformfile.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dotmatrix {

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}

} // namespace

PlatformFile::PlatformFile(PlatformFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

PlatformFile& PlatformFile::operator=(PlatformFile&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

PlatformFile::~PlatformFile()
{
    close();
}

PlatformFile PlatformFile::open(const std::string& path, Access access, std::error_code& error)
{
    error.clear();
    const int flags = access == Access::ReadOnly ? O_RDONLY : O_RDWR | O_CREAT;
    int handle = -1;
    do {
        // Non-blocking, so that a named pipe can't hang the window on open.
        handle = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) {
        error = lastError();
        return {};
    }
    PlatformFile file(handle);
    const int statusFlags = ::fcntl(handle, F_GETFL);
    if (statusFlags < 0 || ::fcntl(handle, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
        error = lastError();
        return {};
    }
    struct stat status {};
    if (::fstat(handle, &status) != 0) {
        error = lastError();
        return {};
    }
    if (S_ISDIR(status.st_mode)) {
        error = std::make_error_code(std::errc::is_a_directory);
        return {};
    }
    return file;
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
    struct stat status {};
    if (::fstat(handle_, &status) != 0) {
        error = lastError();
        return 0;
    }
    return static_cast<std::int64_t>(status.st_size);
}

void PlatformFile::resize(std::int64_t size, std::error_code& error)
{
    error.clear();
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
    if (::fsync(handle_) != 0) {
        // EINVAL: a device or pipe with no storage of its own to commit to.
        if (errno != EINVAL)
            error = lastError();
    }
}

FileIdentity PlatformFile::identity(std::error_code& error) const
{
    error.clear();
    struct stat status {};
    if (::fstat(handle_, &status) != 0) {
        error = lastError();
        return {};
    }
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

void PlatformFile::close()
{
    if (handle_ >= 0)
        ::close(std::exchange(handle_, -1));
}

} // namespace dotmatrix
