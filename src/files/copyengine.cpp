#include "copyengine.h"

#include <algorithm>
#include <cstring>

#include "bufferedfile.h"

namespace dotmatrix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kBlockSize = BufferedFile::kBlockSize;
constexpr std::int64_t kCopyBlockSize = 1024 * 1024;
constexpr std::int64_t kLargestCopyPiece = 16 * kCopyBlockSize;
// Lengthening a file is one call that takes no time where the file system
// keeps holes, and writes zeros for as long as it takes where it doesn't (FAT).
constexpr std::int64_t kLargestExtendPiece = 1024 * kCopyBlockSize;
constexpr int kMostKernelRefusals = 3;

// The size of the next piece, so that each takes about 20 to 50 ms: progress
// shows often and a stop request is heard soon, also from slow disks.
std::int64_t adaptedPiece(std::int64_t piece, Clock::duration took, std::int64_t largest)
{
    if (took < std::chrono::milliseconds(20))
        return std::min(piece * 2, largest);
    if (took > std::chrono::milliseconds(50))
        return std::max(piece / 2, kBlockSize);
    return piece;
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

CopyEngine::CopyEngine(BufferedFile& source, BufferedFile& target, Progress progress)
    : source_(source),
      target_(target),
      progress_(std::move(progress)),
      kernelPiece_(kBlockSize),
      bufferedPiece_(kBlockSize),
      extendPiece_(kBlockSize)
{
}

bool CopyEngine::copy(Position first, Position last, Position held)
{
    end_ = offsetOf(last) + 1;
    held_ = held.number();
    reached_ = offsetOf(first);
    written_ = 0;
    try {
        startLength_ = target_.sizeNow();
        // Bounded by the source as it is now, not as it was when opened.
        if (&source_ != &target_)
            source_.refreshSize();
        sourceLength_ = source_.size();
        if (&source_ == &target_) {
            // Each byte would be written back where it was read: only the
            // positions behind the end change, to zeros.
            return first > last || extendTo(end_);
        }
        target_.flush();
        const std::int64_t limit = std::min(end_, source_.size());
        for (std::int64_t offset = offsetOf(first); offset < end_;) {
            // Behind the source's end, and in its holes, every byte reads as 0.
            const std::int64_t data = offset < limit ? source_.nextData(offset, limit) : end_;
            const std::int64_t pieceEnd = data > offset ? data : source_.nextHole(offset, limit);
            const bool whole = data > offset ? copyHole(offset, pieceEnd) : copyData(offset, pieceEnd);
            if (!whole)
                return false;
            offset = pieceEnd;
        }
        return true;
    } catch (...) {
        // What was written before the failure is what the target holds.
        if (progress_)
            progress_(Position(reached_));
        throw;
    }
}

void CopyEngine::wrote(std::int64_t end)
{
    reached_ = end;
    written_ = std::max(written_, end);
}

bool CopyEngine::report(std::int64_t reached)
{
    wrote(reached);
    const bool goOn = !progress_ || progress_(Position(reached));
    return goOn || reached >= end_;
}

bool CopyEngine::copyData(std::int64_t offset, std::int64_t end)
{
    while (offset < end) {
        const auto started = Clock::now();
        if (ownPieceNext_ || kernelRefusals_ >= kMostKernelRefusals) {
            const std::int64_t pieceEnd = std::min(end, offset + bufferedPiece_);
            copyBuffered(offset, pieceEnd);
            offset = pieceEnd;
            ownPieceNext_ = false;
            bufferedPiece_ = adaptedPiece(bufferedPiece_, Clock::now() - started, kCopyBlockSize);
        } else {
            // Extents are shared only from a block boundary on: an unaligned
            // start goes alone, so that the rest can start on one.
            const std::int64_t head = (kBlockSize - offset % kBlockSize) % kBlockSize;
            const std::int64_t piece = std::min(end - offset, head > 0 ? head : kernelPiece_);
            bool declined = false;
            std::error_code error;
            checkTargetHolds(offset);
            const std::int64_t copied = source_.platform().copyTo(target_.platform(), offset, piece, declined, error);
            if (copied > 0) {
                target_.written(offset, copied);
                offset += copied;
                wrote(offset);
            }
            // The pass's own piece takes over where the kernel declines, where
            // it failed (it names the file that fails, or goes through after
            // all), and where the source has become shorter (the rest reads
            // as zeros). The kernel is asked again after it, but not after
            // refusing a few times in a row: it won't do this copy.
            if (declined || error || copied < piece) {
                ++kernelRefusals_;
                ownPieceNext_ = true;
                continue;
            }
            kernelRefusals_ = 0;
            kernelPiece_ = adaptedPiece(kernelPiece_, Clock::now() - started, kLargestCopyPiece);
        }
        if (!report(offset))
            return false;
    }
    return true;
}

bool CopyEngine::copyHole(std::int64_t offset, std::int64_t end)
{
    // Zeros go only where the target holds data; its own holes already read as 0.
    const std::int64_t inside = std::min(end, target_.size());
    while (offset < inside) {
        const std::int64_t data = target_.nextData(offset, inside);
        if (data >= inside)
            break;
        const std::int64_t dataEnd = target_.nextHole(data, inside);
        for (std::int64_t at = data; at < dataEnd;) {
            const auto zeros = copyBlock(dataEnd - at);
            std::fill(zeros.begin(), zeros.end(), std::uint8_t{0});
            checkTargetHolds(at);
            target_.writeSpan(at, zeros);
            at += static_cast<std::int64_t>(zeros.size());
            if (!report(at))
                return false;
        }
        offset = dataEnd;
    }
    return extendTo(end);
}

bool CopyEngine::extendTo(std::int64_t end)
{
    if (target_.size() >= end)
        return report(end);
    while (target_.size() < end) {
        const auto started = Clock::now();
        checkTargetHolds(target_.size());
        target_.extend(std::min(end, target_.size() + extendPiece_));
        extendPiece_ = adaptedPiece(extendPiece_, Clock::now() - started, kLargestExtendPiece);
        if (!report(std::min(end, target_.size())))
            return false;
    }
    return true;
}

void CopyEngine::copyBuffered(std::int64_t offset, std::int64_t end)
{
    while (offset < end) {
        const auto block = copyBlock(end - offset);
        const auto count = static_cast<std::int64_t>(block.size());
        // A source cut short meanwhile is an error, never a run of zeros.
        source_.readWhole(offset, block);
        checkTargetHolds(offset);
        if (offset >= target_.size() && allZero(block))
            target_.extend(offset + count);
        else
            target_.writeSpan(offset, block);
        offset += count;
        wrote(offset);
    }
}

void CopyEngine::checkTargetHolds(std::int64_t offset) const
{
    // What the pass wrote before, what it held when the copy began, and
    // what the copy has written since: a length read at the start alone
    // would miss a cut made just before it.
    const std::int64_t held = std::min(offset, std::max({held_, startLength_, written_}));
    const std::int64_t length = target_.sizeNow();
    if (length < held)
        throw targetShortened(target_.path(), length, held);
}

std::span<std::uint8_t> CopyEngine::copyBlock(std::int64_t wanted)
{
    if (buffer_.empty())
        buffer_.resize(static_cast<std::size_t>(kCopyBlockSize));
    return std::span<std::uint8_t>(buffer_).first(
        static_cast<std::size_t>(std::min<std::int64_t>(wanted, kCopyBlockSize)));
}

} // namespace dotmatrix
