#include "platformfile.h"

#include <utility>

// What every platform's file has in common; the system calls are in
// platformfile_<platform>.cpp.

namespace dotmatrix {

std::error_code make_error_code(UnusableFile reason)
{
    return {static_cast<int>(reason), unusableFileCategory()};
}

PlatformFile::PlatformFile(PlatformFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)), device_(other.device_), created_(other.created_)
{
}

PlatformFile& PlatformFile::operator=(PlatformFile&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, kNoHandle);
        device_ = other.device_;
        created_ = other.created_;
    }
    return *this;
}

PlatformFile::~PlatformFile()
{
    close();
}

void PlatformFile::close()
{
    std::error_code dropped;
    close(dropped);
}

} // namespace dotmatrix
