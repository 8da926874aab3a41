#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "position.h"

namespace dotmatrix {

class BufferedFile;

// One copy of a pass: positions of the source to the same positions of the
// target, with the result of reading and writing them one at a time. The
// kernel copies where it can, sharing extents, and holes stay holes. It goes
// in pieces of about 20 to 50 ms each, the first one small, so that progress
// shows often and a stop is heard soon on any medium. The thread that runs a
// copy owns its engine, and the files, until the copy is over.
class CopyEngine {
public:
    // Hears the last position the target holds of the copy after every
    // piece; false asks the copy to stop there.
    using Progress = std::function<bool(Position)>;

    // `source` and `target` may be one file.
    CopyEngine(BufferedFile& source, BufferedFile& target, Progress progress = {});
    CopyEngine(const CopyEngine&) = delete;
    CopyEngine& operator=(const CopyEngine&) = delete;
    CopyEngine(CopyEngine&&) = default;

    // Copies positions `first` to `last` to a target that must hold
    // positions 1 to `held` throughout (what the pass wrote before), and
    // what it held when the copy began. False where `progress` stopped it:
    // the target then holds the copy up to the position last reported, and
    // nothing of it behind. A stop heard once the last byte is copied comes
    // too late: the copy is whole. On a failure the position last reported is
    // the last one written.
    bool copy(Position first, Position last, Position held = Position(0));
    // The source's length as the system reported it when the last copy began.
    [[nodiscard]] std::int64_t sourceLength() const { return sourceLength_; }

private:
    // Each copies one stretch, zero-based; false where a stop ended it.
    bool copyData(std::int64_t offset, std::int64_t end);
    bool copyHole(std::int64_t offset, std::int64_t end);
    bool extendTo(std::int64_t end);
    void copyBuffered(std::int64_t offset, std::int64_t end);
    // Tells how far the target holds the copy; false where it is to stop.
    bool report(std::int64_t reached);
    void wrote(std::int64_t end);
    // Throws where the target no longer holds in front of a write at
    // `offset` what it held or what this copy wrote: another program has
    // shortened it, and the write would paper over that with a hole.
    void checkTargetHolds(std::int64_t offset) const;
    // The copy buffer's first `wanted` bytes, at most one block of it.
    [[nodiscard]] std::span<std::uint8_t> copyBlock(std::int64_t wanted);

    BufferedFile& source_;
    BufferedFile& target_;
    Progress progress_;
    std::int64_t end_ = 0;
    std::int64_t reached_ = 0;
    std::int64_t startLength_ = 0;
    std::int64_t held_ = 0;
    std::int64_t sourceLength_ = 0;
    std::int64_t written_ = 0;
    int kernelRefusals_ = 0;
    bool ownPieceNext_ = false;
    std::int64_t kernelPiece_;
    std::int64_t bufferedPiece_;
    std::int64_t extendPiece_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace dotmatrix
