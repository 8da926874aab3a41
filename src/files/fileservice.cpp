#include "fileservice.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <span>

#include "bufferedfile.h"
#include "platformfile.h"

namespace dotmatrix {

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
        return FileError(file, path, "open", error.message() + (more.empty() ? "" : " (" + more + ")"), error);
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

std::vector<ByteStretch> FileService::sharedStretches(Position first, Position last)
{
    target_->flush();
    if (sameFile_)
        return {};
    std::error_code error;
    auto shared = source_->platform().sharedWith(target_->platform(), offsetOf(first), offsetOf(last) + 1, error);
    if (error)
        return {};  // then every byte is read
    return shared;
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

std::int64_t FileService::lengthNow(PassFile which)
{
    target_->flush();
    return file(which).sizeNow();
}

CopyEngine FileService::copier(CopyEngine::Progress progress)
{
    return CopyEngine(file(PassFile::SourceFile), *target_, std::move(progress));
}

void FileService::checkPaths() const
{
    checkPath(PassFile::TargetFile, targetIdentity_);
    if (!sameFile_)
        checkPath(PassFile::SourceFile, sourceIdentity_);
}

void FileService::checkPath(PassFile which, const FileIdentity& identity) const
{
    BufferedFile& open = file(which);
    std::error_code error;
    // The open file knows first: on FAT and exFAT a deleted file's name
    // can't even be opened until the last handle goes.
    const bool deleted = open.platform().deleted(error);
    if (error)
        throw FileError(which, open.path(), "reach", error.message(), error);
    const FileIdentity now = deleted ? FileIdentity{} : PlatformFile::identityOf(open.path(), error);
    const bool gone = deleted || error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
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
