#include "bufferedfile.h"

#include <algorithm>
#include <cstring>

namespace dotmatrix {

BufferedFile::BufferedFile(PlatformFile file, PassFile role, std::string path)
    : file_(std::move(file)), role_(role), path_(std::move(path))
{
    std::error_code error;
    size_ = file_.size(error);
    check(error, "read the length of");
}

std::uint8_t BufferedFile::read(std::int64_t offset)
{
    // Someone else may have lengthened the source since its length was read.
    if (offset >= size_ && role_ == PassFile::SourceFile)
        refreshSize();
    if (offset >= size_)
        return 0;
    hold(offset);
    return block_[static_cast<std::size_t>(offset - blockStart_)];
}

void BufferedFile::write(std::int64_t offset, std::uint8_t value)
{
    hold(offset);
    const std::int64_t inBlock = offset - blockStart_;
    block_[static_cast<std::size_t>(inBlock)] = value;
    if (dirtyBegin_ == dirtyEnd_) {
        dirtyBegin_ = inBlock;
        dirtyEnd_ = inBlock + 1;
    } else {
        dirtyBegin_ = std::min(dirtyBegin_, inBlock);
        dirtyEnd_ = std::max(dirtyEnd_, inBlock + 1);
    }
    size_ = std::max(size_, offset + 1);
}

void BufferedFile::readSpan(std::int64_t offset, std::span<std::uint8_t> into)
{
    flush();
    const std::int64_t available = std::clamp<std::int64_t>(size_ - offset, 0, static_cast<std::int64_t>(into.size()));
    std::size_t got = 0;
    if (available > 0) {
        std::error_code error;
        got = file_.readAt(offset, into.first(static_cast<std::size_t>(available)), error);
        check(error, "read");
    }
    if (got < into.size())
        std::memset(into.data() + got, 0, into.size() - got);
}

void BufferedFile::readWhole(std::int64_t offset, std::span<std::uint8_t> into)
{
    flush();
    std::error_code error;
    const std::size_t got = file_.readAt(offset, into, error);
    check(error, "read");
    if (got < into.size())
        throw FileError(role_, path_, "read",
                        "it ended at " + std::to_string(offset + static_cast<std::int64_t>(got))
                            + " bytes while it was read, before the "
                            + std::to_string(offset + static_cast<std::int64_t>(into.size()))
                            + " the copy began with: another program has shortened it");
}

void BufferedFile::writeSpan(std::int64_t offset, std::span<const std::uint8_t> bytes)
{
    flush();
    std::error_code error;
    file_.writeAt(offset, bytes, error);
    check(error, "write to");
    written(offset, static_cast<std::int64_t>(bytes.size()));
}

void BufferedFile::extend(std::int64_t size)
{
    if (size <= size_)
        return;
    flush();
    std::error_code error;
    file_.extend(size, error);
    check(error, "write to");
    written(size_, size - size_);
}

void BufferedFile::written(std::int64_t offset, std::int64_t count)
{
    const std::int64_t end = offset + count;
    if (blockStart_ >= 0 && offset < blockStart_ + kBlockSize && end > blockStart_)
        blockStart_ = -1;
    size_ = std::max(size_, end);
    if (listener_)
        listener_(offset, count);
}

void BufferedFile::refreshSize()
{
    std::error_code error;
    const std::int64_t now = file_.size(error);
    check(error, "read the length of");
    if (now != size_) {
        size_ = now;
        blockStart_ = -1;
    }
}

std::int64_t BufferedFile::sizeNow() const
{
    std::error_code error;
    const std::int64_t now = file_.size(error);
    check(error, "read the length of");
    return now;
}

void BufferedFile::reload(std::int64_t offset, std::int64_t count)
{
    if (offset + count > size_)
        refreshSize();
    const std::int64_t from = std::max(offset, blockStart_);
    const std::int64_t to = std::min(offset + count, blockStart_ + kBlockSize);
    if (blockStart_ < 0 || from >= to)
        return;
    readSpan(from, std::span<std::uint8_t>(block_).subspan(static_cast<std::size_t>(from - blockStart_),
                                                           static_cast<std::size_t>(to - from)));
}

void BufferedFile::flush()
{
    if (dirtyBegin_ == dirtyEnd_)
        return;
    const auto dirty = std::span<const std::uint8_t>(block_).subspan(
        static_cast<std::size_t>(dirtyBegin_), static_cast<std::size_t>(dirtyEnd_ - dirtyBegin_));
    std::error_code error;
    file_.writeAt(blockStart_ + dirtyBegin_, dirty, error);
    check(error, "write to");
    const std::int64_t offset = blockStart_ + dirtyBegin_;
    dirtyBegin_ = dirtyEnd_ = 0;
    if (listener_)
        listener_(offset, static_cast<std::int64_t>(dirty.size()));
}

void BufferedFile::sync()
{
    flush();
    std::error_code error;
    file_.sync(error);
    check(error, "save");
}

void BufferedFile::readFresh(std::int64_t offset, std::span<std::uint8_t> into)
{
    std::error_code error;
    const std::size_t got = file_.readAt(offset, into, error);
    check(error, "read");
    if (got < into.size())
        std::memset(into.data() + got, 0, into.size() - got);
}

void BufferedFile::forget()
{
    flush();
    blockStart_ = -1;
    refreshSize();
}

void BufferedFile::close()
{
    flush();
    std::error_code error;
    file_.close(error);
    check(error, "save");
}

void BufferedFile::lock(bool exclusive)
{
    std::error_code error;
    file_.lock(exclusive, error);
    check(error, "open");
}

FileIdentity BufferedFile::identity() const
{
    std::error_code error;
    const FileIdentity id = file_.identity(error);
    check(error, "examine");
    return id;
}

std::int64_t BufferedFile::nextData(std::int64_t offset, std::int64_t limit) const
{
    std::error_code error;
    const std::int64_t found = file_.nextData(offset, std::min(size_, limit), error);
    check(error, "read");
    return found;
}

std::int64_t BufferedFile::nextHole(std::int64_t offset, std::int64_t limit) const
{
    std::error_code error;
    const std::int64_t found = file_.nextHole(offset, std::min(size_, limit), error);
    check(error, "read");
    return found;
}

void BufferedFile::check(const std::error_code& error, const char* action) const
{
    if (error)
        throw FileError(role_, path_, action, error.message(), error);
}

void BufferedFile::hold(std::int64_t offset)
{
    const std::int64_t start = offset - offset % kBlockSize;
    if (start == blockStart_)
        return;
    flush();
    if (block_.empty())
        block_.resize(static_cast<std::size_t>(kBlockSize));
    blockStart_ = -1;
    readSpan(start, block_);
    blockStart_ = start;
}

} // namespace dotmatrix
