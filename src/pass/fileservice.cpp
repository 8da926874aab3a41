#include "fileservice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <span>

#include "platformfile.h"

namespace dotmatrix {

namespace {

constexpr std::int64_t kBlockSize = 64 * 1024;
constexpr std::int64_t kCopyBlockSize = 1024 * 1024;
constexpr std::int64_t kFirstCopyPiece = 8 * kCopyBlockSize;
constexpr std::int64_t kLargestCopyPiece = 16 * kCopyBlockSize;

// The size of the next piece of a copy, so that each takes about 20 to 50 ms:
// progress shows often and a stop request is heard soon, also from slow disks.
std::int64_t adaptedPiece(std::int64_t piece, std::chrono::steady_clock::duration took, std::int64_t largest)
{
    if (took < std::chrono::milliseconds(20))
        return std::min(piece * 2, largest);
    if (took > std::chrono::milliseconds(50))
        return std::max(piece / 2, kBlockSize);
    return piece;
}

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
    // Hears every range of the file that has been handed to the system.
    using WriteListener = std::function<void(std::int64_t offset, std::int64_t count)>;

    BufferedFile(PlatformFile file, PassFile role, std::string path)
        : file_(std::move(file)), role_(role), path_(std::move(path))
    {
        std::error_code error;
        size_ = file_.size(error);
        check(error, "read the length of");
    }

    [[nodiscard]] std::int64_t size() const { return size_; }
    [[nodiscard]] PlatformFile& platform() { return file_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    void listen(WriteListener listener) { listener_ = std::move(listener); }

    [[nodiscard]] std::uint8_t read(std::int64_t offset)
    {
        // Someone else may have lengthened the source since its length was read.
        if (offset >= size_ && role_ == PassFile::SourceFile)
            refreshSize();
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
        if (got < into.size())
            std::memset(into.data() + got, 0, into.size() - got);
    }

    void writeSpan(std::int64_t offset, std::span<const std::uint8_t> bytes)
    {
        flush();
        std::error_code error;
        file_.writeAt(offset, bytes, error);
        check(error, "write to");
        written(offset, static_cast<std::int64_t>(bytes.size()));
    }

    // Lengthens the file to `size` bytes of which the new ones are zero.
    void extend(std::int64_t size)
    {
        if (size <= size_)
            return;
        flush();
        std::error_code error;
        file_.extend(size, error);
        check(error, "write to");
        written(size_, size - size_);
    }

    // Takes note of bytes that reached the file past the buffer.
    void written(std::int64_t offset, std::int64_t count)
    {
        const std::int64_t end = offset + count;
        if (blockStart_ >= 0 && offset < blockStart_ + kBlockSize && end > blockStart_)
            blockStart_ = -1;
        size_ = std::max(size_, end);
        if (listener_)
            listener_(offset, count);
    }

    // Reads the length again; buffered bytes of another length are dropped.
    void refreshSize()
    {
        std::error_code error;
        const std::int64_t now = file_.size(error);
        check(error, "read the length of");
        if (now != size_) {
            size_ = now;
            blockStart_ = -1;
        }
    }

    // Reads the buffered bytes of a range again from the file, which may have
    // changed through another name of it.
    void reload(std::int64_t offset, std::int64_t count)
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

    void flush()
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

    void sync()
    {
        flush();
        std::error_code error;
        file_.sync(error);
        check(error, "save");
    }

    // Fills `into` from `offset` on with what the file holds now, 0 behind
    // its end, whatever length was seen before. Pending writes must be out.
    void readFresh(std::int64_t offset, std::span<std::uint8_t> into)
    {
        std::error_code error;
        const std::size_t got = file_.readAt(offset, into, error);
        check(error, "read");
        if (got < into.size())
            std::memset(into.data() + got, 0, into.size() - got);
    }

    // Forgets the buffered block and the length, once written bytes are out.
    void forget()
    {
        flush();
        blockStart_ = -1;
        refreshSize();
    }

    void close()
    {
        flush();
        std::error_code error;
        file_.close(error);
        check(error, "save");
    }

    void lock(bool exclusive)
    {
        std::error_code error;
        file_.lock(exclusive, error);
        check(error, "open");
    }

    [[nodiscard]] FileIdentity identity() const
    {
        std::error_code error;
        const FileIdentity id = file_.identity(error);
        check(error, "examine");
        return id;
    }

    [[nodiscard]] std::int64_t nextData(std::int64_t offset, std::int64_t limit) const
    {
        std::error_code error;
        const std::int64_t found = file_.nextData(offset, std::min(size_, limit), error);
        check(error, "read");
        return found;
    }

    [[nodiscard]] std::int64_t nextHole(std::int64_t offset, std::int64_t limit) const
    {
        std::error_code error;
        const std::int64_t found = file_.nextHole(offset, std::min(size_, limit), error);
        check(error, "read");
        return found;
    }

    void check(const std::error_code& error, const char* action) const
    {
        if (error)
            throw FileError(role_, path_, action, error.message());
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

    PlatformFile file_;
    PassFile role_;
    std::string path_;
    std::int64_t size_ = 0;
    std::vector<std::uint8_t> block_;
    std::int64_t blockStart_ = -1;
    std::int64_t dirtyBegin_ = 0;
    std::int64_t dirtyEnd_ = 0;
    WriteListener listener_;
};

FileService::FileService() = default;

FileService::~FileService()
{
    closeAll();
}

void FileService::open(const std::string& sourcePath, const std::string& targetPath)
{
    closeAll();
    const auto refused = [](PassFile file, const std::string& path, const std::error_code& error) {
        const std::string more = PlatformFile::detail(path, error);
        return FileError(file, path, "open", error.message() + (more.empty() ? "" : " (" + more + ")"));
    };
    std::error_code error;
    PlatformFile source = PlatformFile::open(sourcePath, PlatformFile::Access::ReadOnly, error);
    if (error)
        throw refused(PassFile::SourceFile, sourcePath, error);
    PlatformFile target = PlatformFile::open(targetPath, PlatformFile::Access::ReadWrite, error);
    if (error)
        throw refused(PassFile::TargetFile, targetPath, error);

    const bool created = target.created();
    try {
        auto sourceFile = std::make_unique<BufferedFile>(std::move(source), PassFile::SourceFile, sourcePath);
        auto targetFile = std::make_unique<BufferedFile>(std::move(target), PassFile::TargetFile, targetPath);
        targetIdentity_ = targetFile->identity();
        sourceIdentity_ = sourceFile->identity();
        // One file under two names must see its own writes: read it through
        // the target's buffer alone.
        sameFile_ = sourceIdentity_ == targetIdentity_;
        // Other programs that lock files, and a second pass, see this one.
        targetFile->lock(true);
        if (!sameFile_) {
            sourceFile->lock(false);
            // Names the system doesn't tell apart (an overlay's merged and
            // upper path) may still be one file: whatever reaches the target
            // is read again where the source holds it in its buffer.
            BufferedFile* sourceBuffer = sourceFile.get();
            targetFile->listen([sourceBuffer](std::int64_t offset, std::int64_t count) {
                sourceBuffer->reload(offset, count);
            });
            source_ = std::move(sourceFile);
        }
        target_ = std::move(targetFile);
    } catch (const FileError&) {
        if (created)
            PlatformFile::remove(targetPath);
        throw;
    }
    createdTarget_ = created ? targetPath : std::string();
    kernelCopies_ = true;
    kernelPiece_ = kFirstCopyPiece;
    bufferedPiece_ = kCopyBlockSize;
}

void FileService::abandon() noexcept
{
    const std::string created = createdTarget_;
    closeAll();
    if (!created.empty())
        PlatformFile::remove(created);
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

void FileService::readFresh(PassFile which, Position first, std::span<std::uint8_t> into)
{
    // The target's buffer may hold this operation's writes: out they go first.
    target_->flush();
    file(which).readFresh(offsetOf(first), into);
}

void FileService::forgetReads()
{
    target_->forget();
    if (!sameFile_)
        source_->forget();
}

void FileService::writeByte(Position position, std::uint8_t value)
{
    target_->write(offsetOf(position), value);
}

std::int64_t FileService::length(PassFile which)
{
    if (which == PassFile::SourceFile && !sameFile_)
        source_->refreshSize();
    return file(which).size();
}

bool FileService::copy(Position first, Position last, const CopyProgress& progress)
{
    BufferedFile& target = *target_;
    const std::int64_t end = offsetOf(last) + 1;
    const auto report = [&progress](std::int64_t offset) { return !progress || progress(Position(offset)); };
    if (sameFile_) {
        // Each byte would be written back where it was read: only the
        // positions behind the end change, to zeros.
        target.extend(end);
        return first > last || report(end);
    }
    BufferedFile& source = *source_;
    target.flush();
    const std::int64_t limit = std::min(end, source.size());
    for (std::int64_t offset = offsetOf(first); offset < end;) {
        // Behind the source's end, and in its holes, every byte reads as 0.
        const std::int64_t data = offset < limit ? source.nextData(offset, limit) : end;
        const std::int64_t pieceEnd = data > offset ? data : source.nextHole(offset, limit);
        const bool whole = data > offset ? copyHole(offset, pieceEnd, report) : copyData(source, offset, pieceEnd, report);
        if (!whole)
            return false;
        offset = pieceEnd;
    }
    return true;
}

bool FileService::copyData(BufferedFile& source, std::int64_t offset, std::int64_t end,
                           const std::function<bool(std::int64_t)>& report)
{
    BufferedFile& target = *target_;
    while (offset < end) {
        const auto started = std::chrono::steady_clock::now();
        if (!kernelCopies_) {
            const std::int64_t pieceEnd = std::min(end, offset + bufferedPiece_);
            copyBuffered(source, offset, pieceEnd);
            offset = pieceEnd;
            bufferedPiece_ = adaptedPiece(bufferedPiece_, std::chrono::steady_clock::now() - started, kCopyBlockSize);
        } else {
            // Extents are shared only from a block boundary on: an unaligned
            // start goes alone, so that the rest can start on one.
            const std::int64_t head = (kBlockSize - offset % kBlockSize) % kBlockSize;
            const std::int64_t piece = std::min(end - offset, head > 0 ? head : kernelPiece_);
            bool declined = false;
            std::error_code error;
            const std::int64_t copied = source.platform().copyTo(target.platform(), offset, piece, declined, error);
            if (copied > 0)
                target.written(offset, copied);
            offset += copied;
            // The pass's own pieces take over where the kernel declines, where
            // it failed (they name the file that fails, or go through after
            // all), and where the source has become shorter (the rest reads as
            // zeros).
            if (declined || error || copied < piece) {
                kernelCopies_ = false;
                continue;
            }
            kernelPiece_ = adaptedPiece(kernelPiece_, std::chrono::steady_clock::now() - started, kLargestCopyPiece);
        }
        if (!report(offset))
            return false;
    }
    return true;
}

bool FileService::copyHole(std::int64_t offset, std::int64_t end, const std::function<bool(std::int64_t)>& report)
{
    BufferedFile& target = *target_;
    // Zeros go only where the target holds data; its own holes already read as 0.
    const std::int64_t inside = std::min(end, target.size());
    while (offset < inside) {
        const std::int64_t data = target.nextData(offset, inside);
        if (data >= inside)
            break;
        const std::int64_t dataEnd = target.nextHole(data, inside);
        for (std::int64_t at = data; at < dataEnd;) {
            const auto zeros = copyBlock(dataEnd - at);
            std::fill(zeros.begin(), zeros.end(), std::uint8_t{0});
            target.writeSpan(at, zeros);
            at += static_cast<std::int64_t>(zeros.size());
            if (!report(at))
                return false;
        }
        offset = dataEnd;
    }
    target.extend(end);
    return report(end);
}

void FileService::copyBuffered(BufferedFile& source, std::int64_t offset, std::int64_t end)
{
    BufferedFile& target = *target_;
    while (offset < end) {
        const auto block = copyBlock(end - offset);
        const auto count = static_cast<std::int64_t>(block.size());
        source.readSpan(offset, block);
        if (offset >= target.size() && allZero(block))
            target.extend(offset + count);
        else
            target.writeSpan(offset, block);
        offset += count;
    }
}

std::span<std::uint8_t> FileService::copyBlock(std::int64_t wanted)
{
    if (copyBuffer_.empty())
        copyBuffer_.resize(static_cast<std::size_t>(kCopyBlockSize));
    return std::span<std::uint8_t>(copyBuffer_).first(
        static_cast<std::size_t>(std::min<std::int64_t>(wanted, kCopyBlockSize)));
}

void FileService::checkPaths() const
{
    checkPath(PassFile::TargetFile, targetIdentity_);
    if (!sameFile_)
        checkPath(PassFile::SourceFile, sourceIdentity_);
}

void FileService::checkPath(PassFile which, const FileIdentity& identity) const
{
    const BufferedFile& open = file(which);
    std::error_code error;
    const FileIdentity now = PlatformFile::identityOf(open.path(), error);
    const bool gone = error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
    if (error && !gone) {
        // A folder that lost its permissions, a share that went away: the
        // file may be fine, but the pass can't tell.
        throw FileError(which, open.path(), "reach", error.message());
    }
    if (gone || now != identity) {
        const std::string after = which == PassFile::TargetFile
                                      ? "so the bytes written went to a file that is no longer at that path"
                                      : "so what is at that path now is not what the pass has been reading";
        throw FileError(which, open.path(), which == PassFile::TargetFile ? "keep writing to" : "keep reading",
                        "it was deleted or replaced while the pass was open, " + after);
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

void FileService::close()
{
    // Both are closed, whichever fails; the first failure is the one told.
    std::exception_ptr failure;
    for (std::unique_ptr<BufferedFile>* open : {&target_, &source_}) {
        if (*open == nullptr)
            continue;
        try {
            (*open)->close();
        } catch (const FileError&) {
            if (!failure)
                failure = std::current_exception();
        }
        open->reset();
    }
    sameFile_ = false;
    createdTarget_.clear();
    if (failure)
        std::rethrow_exception(failure);
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
    target_.reset();
    source_.reset();
    sameFile_ = false;
    createdTarget_.clear();
}

bool isSameFile(const std::string& first, const std::string& second)
{
    if (first.empty() || second.empty())
        return false;
    if (first == second)
        return true;
    std::error_code firstError;
    std::error_code secondError;
    const FileIdentity firstIdentity = PlatformFile::identityOf(first, firstError);
    const FileIdentity secondIdentity = PlatformFile::identityOf(second, secondError);
    return !firstError && !secondError && firstIdentity == secondIdentity;
}

} // namespace dotmatrix
