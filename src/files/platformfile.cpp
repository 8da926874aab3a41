#include "platformfile.h"

#include <utility>

// What every platform's file has in common; the system calls are in
// platformfile_<platform>.cpp.

namespace dotmatrix {

namespace {

class UnusableFileCategory : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "unusable file"; }
    [[nodiscard]] std::string message(int reason) const override
    {
        switch (static_cast<UnusableFile>(reason)) {
        case UnusableFile::NamedPipe:
            return "it is a named pipe" + std::string(kUnaddressable);
        case UnusableFile::Socket:
            return "it is a socket" + std::string(kUnaddressable);
        default:
            break;
        }
        const std::string said = unusableFileReason(static_cast<UnusableFile>(reason));
        return said.empty() ? "it is not a file" : said;
    }
};

} // namespace

const std::error_category& unusableFileCategory()
{
    static const UnusableFileCategory category;
    return category;
}

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
