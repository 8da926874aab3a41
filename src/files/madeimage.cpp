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

const PlatformFile* MadeImage::holder(std::int64_t offset) const
{
    return target_ && bytesFromTarget(offset, 1, files_.writtenThrough) > 0 ? &*target_ : &source_;
}

PlatformFile& MadeImage::holder(std::int64_t offset)
{
    return const_cast<PlatformFile&>(*std::as_const(*this).holder(offset));
}

const std::string& MadeImage::pathAt(std::int64_t offset) const
{
    return holder(offset) == &source_ ? files_.sourcePath : files_.targetPath;
}

std::int64_t MadeImage::length(std::error_code& error) const
{
    return std::max(source_.size(error), files_.writtenThrough.number());
}

std::size_t MadeImage::readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error)
{
    if (target_) {
        const std::int64_t fromTarget = bytesFromTarget(offset, static_cast<std::int64_t>(into.size()), files_.writtenThrough);
        if (fromTarget > 0)
            into = into.first(static_cast<std::size_t>(fromTarget));
    }
    return holder(offset).readAt(offset, into, error);
}

void MadeImage::readAll(std::int64_t offset, std::span<std::uint8_t> into, std::string& problem)
{
    std::fill(into.begin(), into.end(), std::uint8_t{0});
    std::size_t got = 0;
    while (got < into.size()) {
        const std::int64_t at = offset + static_cast<std::int64_t>(got);
        std::error_code error;
        const std::size_t now = readAt(at, into.subspan(got), error);
        if (error) {
            problem = cannotRead(whichAt(at), pathAt(at), error);
            return;
        }
        if (now == 0) {
            // Behind this file's end: zeros up to the next file's stretch, if any.
            const bool inTarget = target_ && bytesFromTarget(at, 1, files_.writtenThrough) > 0;
            if (!inTarget)
                return;
            got += static_cast<std::size_t>(bytesFromTarget(at, static_cast<std::int64_t>(into.size() - got), files_.writtenThrough));
            continue;
        }
        got += now;
    }
}

void MadeImage::readSource(std::int64_t offset, std::span<std::uint8_t> into, std::string& problem)
{
    std::fill(into.begin(), into.end(), std::uint8_t{0});
    std::size_t got = 0;
    std::error_code error;
    while (got < into.size()) {
        const std::size_t now = source_.readAt(offset + static_cast<std::int64_t>(got), into.subspan(got), error);
        if (error)
            problem = cannotRead("source", files_.sourcePath, error);
        if (error || now == 0)
            return;
        got += now;
    }
}

std::int64_t MadeImage::nextData(std::int64_t offset, std::int64_t end, std::error_code& error) const
{
    const std::int64_t stretchEnd =
        target_ && bytesFromTarget(offset, 1, files_.writtenThrough) > 0 ? std::min(end, files_.writtenThrough.number()) : end;
    return holder(offset)->nextData(offset, stretchEnd, error);
}

} // namespace dotmatrix
