#include "madeimage.h"

#include <algorithm>

namespace dotmatrix {

std::int64_t bytesFromTarget(std::int64_t offset, std::int64_t count, Position writtenThrough)
{
    return std::clamp<std::int64_t>(writtenThrough.number() - offset, 0, std::max<std::int64_t>(count, 0));
}

std::string cannotRead(const char* which, const std::string& path, const std::error_code& error)
{
    return std::string("Cannot read the ") + which + " file \"" + path + "\": " + error.message() + ".";
}

namespace {

// Reads `into` at `offset` of one file, zeros behind its end; false, and
// `problem` said, where it can't be read.
bool readStretch(PlatformFile& file, std::int64_t offset, std::span<std::uint8_t> into, const char* which,
                 const std::string& path, std::string& problem)
{
    std::error_code error;
    const std::size_t got = file.readAt(offset, into, error);
    std::fill(into.begin() + static_cast<std::ptrdiff_t>(error ? 0 : got), into.end(), std::uint8_t{0});
    if (error)
        problem = cannotRead(which, path, error);
    return !error;
}

} // namespace

std::optional<MadeImage> MadeImage::open(const ImageFiles& files, std::string& problem)
{
    std::error_code error;
    PlatformFile source = PlatformFile::open(files.sourcePath, PlatformFile::Access::ReadOnly, error);
    if (error) {
        problem = cannotRead("source", files.sourcePath, error);
        return std::nullopt;
    }
    std::optional<PlatformFile> target;
    if (!files.targetPath.empty() && files.writtenThrough >= kFirstPosition) {
        target = PlatformFile::open(files.targetPath, PlatformFile::Access::ReadOnly, error);
        if (error) {
            problem = cannotRead("target", files.targetPath, error);
            return std::nullopt;
        }
    }
    return MadeImage(files, std::move(source), std::move(target));
}

bool MadeImage::inTarget(std::int64_t offset) const
{
    return target_ && bytesFromTarget(offset, 1, files_.writtenThrough) > 0;
}

std::int64_t MadeImage::length(std::error_code& error) const
{
    return std::max(source_.size(error), files_.writtenThrough.number());
}

std::size_t MadeImage::readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error)
{
    if (!inTarget(offset))
        return source_.readAt(offset, into, error);
    const std::int64_t fromTarget = bytesFromTarget(offset, static_cast<std::int64_t>(into.size()), files_.writtenThrough);
    return target_->readAt(offset, into.first(static_cast<std::size_t>(fromTarget)), error);
}

void MadeImage::readAll(std::int64_t offset, std::span<std::uint8_t> into, std::string& problem)
{
    const auto fromTarget = inTarget(offset) ? static_cast<std::size_t>(bytesFromTarget(
                                                   offset, static_cast<std::int64_t>(into.size()), files_.writtenThrough))
                                             : 0;
    if (fromTarget > 0 && !readStretch(*target_, offset, into.first(fromTarget), "target", files_.targetPath, problem))
        return;
    readStretch(source_, offset + static_cast<std::int64_t>(fromTarget), into.subspan(fromTarget), "source",
                files_.sourcePath, problem);
}

void MadeImage::readSource(std::int64_t offset, std::span<std::uint8_t> into, std::string& problem)
{
    readStretch(source_, offset, into, "source", files_.sourcePath, problem);
}

std::int64_t MadeImage::nextData(std::int64_t offset, std::int64_t end, std::error_code& error) const
{
    if (!inTarget(offset))
        return source_.nextData(offset, end, error);
    return target_->nextData(offset, std::min(end, files_.writtenThrough.number()), error);
}

} // namespace dotmatrix
