#include "fileservice.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platformfile.h"

namespace dotmatrix {

namespace {

constexpr std::int64_t kBlockSize = 64 * 1024;
constexpr std::size_t kCopyBlockSize = 1024 * 1024;

std::string fileName(PassFile file)
{
    return file == PassFile::SourceFile ? "source" : "target";
}

// The one place where a 1-based position becomes a zero-based file offset.
std::int64_t offsetOf(Position position)
{
    return position.number() - 1;
}

bool allZero(std::span<const std::uint8_t> bytes)
{
    // Word by word within a page, so data with any set bit is rejected early.
    constexpr std::size_t kPage = 4096;
    for (std::size_t page = 0; page < bytes.size(); page += kPage) {
        const auto piece = bytes.subspan(page, std::min(kPage, bytes.size() - page));
        std::uint64_t any = 0;
        std::size_t i = 0;
        for (; i + sizeof any <= piece.size(); i += sizeof any) {
            std::uint64_t word = 0;
            std::memcpy(&word, piece.data() + i, sizeof word);
            any |= word;
        }
        for (; i < piece.size(); ++i)
            any |= piece[i];
        if (any != 0)
            return false;
    }
    return true;
}

} // namespace

FileError::FileError(PassFile file, const std::string& path, const std::string& action, const std::string& reason)
    : std::runtime_error("Cannot " + action + " the " + fileName(file) + " file \"" + path + "\": " + reason + ".")
{
}

// One open file with a single block buffer. Reads behind the end yield 0;
// the dirty part of the block reaches the file on flush or on a block change.
class BufferedFile {
public:
    BufferedFile(PlatformFile file, PassFile role, std::string path)
        : file_(std::move(file)), role_(role), path_(std::move(path))
    {
        std::error_code error;
        size_ = file_.size(error);
        check(error, "read the length of");
    }

    [[nodiscard]] std::int64_t size() const { return size_; }

    [[nodiscard]] std::uint8_t read(std::int64_t offset)
    {
        if (offset >= size_)
            return 0;
        hold(offset);
        return block_[static_cast<std::size_t>(offset - blockStart_)];
    }

    void write(std::int64_t offset, std::uint8_t value)
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

    // Fills `into` from `offset` on, with zeros behind the end.
    void readSpan(std::int64_t offset, std::span<std::uint8_t> into)
    {
        flush();
        const std::int64_t available = std::clamp<std::int64_t>(size_ - offset, 0, static_cast<std::int64_t>(into.size()));
        std::size_t got = 0;
        if (available > 0) {
            std::error_code error;
            got = file_.readAt(offset, into.first(static_cast<std::size_t>(available)), error);
            check(error, "read");
        }
        std::fill(into.begin() + static_cast<std::ptrdiff_t>(got), into.end(), std::uint8_t{0});
    }

    void writeSpan(std::int64_t offset, std::span<const std::uint8_t> bytes)
    {
        flush();
        std::error_code error;
        file_.writeAt(offset, bytes, error);
        check(error, "write to");
        const std::int64_t end = offset + static_cast<std::int64_t>(bytes.size());
        if (blockStart_ >= 0 && offset < blockStart_ + kBlockSize && end > blockStart_)
            blockStart_ = -1;
        size_ = std::max(size_, end);
    }

    // Lengthens the file to `size` bytes of which the new ones are zero.
    void extend(std::int64_t size)
    {
        if (size <= size_)
            return;
        flush();
        std::error_code error;
        file_.resize(size, error);
        check(error, "write to");
        size_ = size;
    }

    void flush()
    {
        if (dirtyBegin_ == dirtyEnd_)
            return;
        const auto dirty = std::span<const std::uint8_t>(block_).subspan(
            static_cast<std::size_t>(dirtyBegin_), static_cast<std::size_t>(dirtyEnd_ - dirtyBegin_));
        std::error_code error;
        file_.writeAt(blockStart_ + dirtyBegin_, dirty, error);
        check(error, "write to");
        dirtyBegin_ = dirtyEnd_ = 0;
    }

    void sync()
    {
        flush();
        std::error_code error;
        file_.sync(error);
        check(error, "save");
    }

    [[nodiscard]] FileIdentity identity() const
    {
        std::error_code error;
        const FileIdentity id = file_.identity(error);
        check(error, "examine");
        return id;
    }

private:
    // Makes the block that holds `offset` the buffered one.
    void hold(std::int64_t offset)
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

    void check(const std::error_code& error, const char* action) const
    {
        if (error)
            throw FileError(role_, path_, action, error.message());
    }

    PlatformFile file_;
    PassFile role_;
    std::string path_;
    std::int64_t size_ = 0;
    std::vector<std::uint8_t> block_;
    std::int64_t blockStart_ = -1;
    std::int64_t dirtyBegin_ = 0;
    std::int64_t dirtyEnd_ = 0;
};

FileService::FileService() = default;

FileService::~FileService()
{
    closeAll();
}

void FileService::open(const std::string& sourcePath, const std::string& targetPath)
{
    closeAll();
    std::error_code error;
    PlatformFile source = PlatformFile::open(sourcePath, PlatformFile::Access::ReadOnly, error);
    if (error)
        throw FileError(PassFile::SourceFile, sourcePath, "open", error.message());
    PlatformFile target = PlatformFile::open(targetPath, PlatformFile::Access::ReadWrite, error);
    if (error)
        throw FileError(PassFile::TargetFile, targetPath, "open", error.message());

    auto sourceFile = std::make_unique<BufferedFile>(std::move(source), PassFile::SourceFile, sourcePath);
    auto targetFile = std::make_unique<BufferedFile>(std::move(target), PassFile::TargetFile, targetPath);
    // One file under two names must see its own writes: read it through the
    // target's buffer alone.
    sameFile_ = sourceFile->identity() == targetFile->identity();
    if (!sameFile_)
        source_ = std::move(sourceFile);
    target_ = std::move(targetFile);
}

bool FileService::isOpen() const
{
    return target_ != nullptr;
}

BufferedFile& FileService::file(PassFile which) const
{
    return which == PassFile::SourceFile && !sameFile_ ? *source_ : *target_;
}

std::uint8_t FileService::readByte(PassFile which, Position position)
{
    return file(which).read(offsetOf(position));
}

void FileService::writeByte(Position position, std::uint8_t value)
{
    target_->write(offsetOf(position), value);
}

std::int64_t FileService::length(PassFile which) const
{
    return file(which).size();
}

void FileService::copy(Position first, Position last, const std::function<void(Position)>& progress)
{
    BufferedFile& source = file(PassFile::SourceFile);
    BufferedFile& target = *target_;
    const std::int64_t end = offsetOf(last) + 1;
    if (sameFile_) {
        // Each byte would be written back where it was read: only the
        // positions behind the end change, to zeros.
        target.extend(end);
        if (progress && first <= last)
            progress(last);
        return;
    }
    if (copyBuffer_.empty())
        copyBuffer_.resize(kCopyBlockSize);
    for (std::int64_t offset = offsetOf(first); offset < end;) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(end - offset, kCopyBlockSize));
        if (offset >= source.size() && offset >= target.size()) {
            // Behind both ends every byte read is 0 and every write extends.
            target.extend(end);
            offset = end;
        } else {
            const auto block = std::span<std::uint8_t>(copyBuffer_).first(count);
            source.readSpan(offset, block);
            if (offset >= target.size() && allZero(block))
                target.extend(offset + static_cast<std::int64_t>(count));
            else
                target.writeSpan(offset, block);
            offset += static_cast<std::int64_t>(count);
        }
        if (progress)
            progress(Position(offset));
    }
}

void FileService::flush()
{
    if (target_)
        target_->flush();
}

void FileService::sync()
{
    if (target_)
        target_->sync();
}

void FileService::closeAll() noexcept
{
    if (target_) {
        try {
            target_->flush();
        } catch (const FileError&) {
            // The failure has been reported where it happened.
        }
    }
    source_.reset();
    target_.reset();
    sameFile_ = false;
}

} // namespace dotmatrix
