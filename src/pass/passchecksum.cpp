// The checksum the source carries: looked for alongside the pass, on a handle
// of its own, and brought up to date in the target before "Completed" where
// the user agrees.

#include "conversionpass.h"

#include <chrono>
#include <utility>

#include "offsettext.h"

namespace dotmatrix {

void ConversionPass::startLook()
{
    dropLook();
    lookAwaited_ = false;
    sourceChecksum_.reset();
    lookFound_.reset();
    checksumLine_.clear();
    const std::int64_t length = files_->length(PassFile::SourceFile);
    if (length > kLargestCheckedImage) {
        checksumLine_ = "The source is too large to check for a checksum of its own bytes (more than 256 MiB).";
        return;
    }
    if (length < kSmallestCheckedImage)
        return;
    if (files_->oneFile()) {
        // The file changes with every write-back: it is looked at before any.
        BackgroundTask task(BackgroundTask::Kind::SourceCheck, kFirstPosition, Position(length),
                            [this, length](BackgroundTask& self) {
                                lookFound_ = findChecksum(length, checksumReader(PassFile::SourceFile, self));
                                return !self.stopRequested();
                            });
        if (!awaitTask(task))
            checksumLine_ = "The source was not checked for a checksum: the check was cancelled.";
        else if (lookFound_)
            checksumLine_ = describeChecksum(*lookFound_) + ".";
        sourceChecksum_ = std::exchange(lookFound_, std::nullopt);
        return;
    }
    // A handle of its own: the pass's files stay the pass's.
    look_ = std::make_unique<BackgroundTask>(
        BackgroundTask::Kind::SourceCheck, kFirstPosition, Position(length),
        [this, length, path = state_.SourcePath](BackgroundTask& self) {
            // The look may never be needed: it yields to the pass's own work
            // until the pass waits for it.
            bool idle = true;
            runThisThreadWhenIdle(idle);
            std::error_code error;
            PlatformFile source = PlatformFile::open(path, PlatformFile::Access::ReadOnly, error);
            if (error)
                throw FileError(PassFile::SourceFile, path, "read", error.message(), error);
            lookFound_ = findChecksum(length, [&](std::int64_t offset, std::span<std::uint8_t> into) {
                // Behind an end another program made meanwhile, zeros: the look only looks.
                const std::size_t got = source.readAt(offset, into, error);
                if (error)
                    throw FileError(PassFile::SourceFile, path, "read", error.message(), error);
                std::fill(into.begin() + static_cast<std::ptrdiff_t>(got), into.end(), std::uint8_t{0});
                if (idle && lookAwaited_.load()) {
                    idle = false;
                    runThisThreadWhenIdle(idle);
                }
                return self.report(Position(offset + static_cast<std::int64_t>(into.size())));
            });
            return !self.stopRequested();
        });
    look_->start();
}

bool ConversionPass::collectLook() const
{
    if (!look_)
        return true;
    if (!look_->waitFinished(std::chrono::milliseconds(0)))
        return false;
    bool whole = false;
    try {
        whole = look_->join();
    } catch (const std::exception& error) {
        checksumLine_ = std::string("The source was not checked for a checksum: ") + error.what();
    }
    look_.reset();
    if (whole && lookFound_)
        checksumLine_ = describeChecksum(*lookFound_) + ".";
    sourceChecksum_ = whole ? std::exchange(lookFound_, std::nullopt) : std::nullopt;
    return true;
}

const std::optional<Checksum>& ConversionPass::sourceChecksum() const
{
    collectLook();
    return sourceChecksum_;
}

const std::string& ConversionPass::checksumLine() const
{
    collectLook();
    return checksumLine_;
}

bool ConversionPass::awaitLook()
{
    if (collectLook())
        return true;
    lookAwaited_ = true;
    BackgroundTask& look = *look_;
    BackgroundTask wait(BackgroundTask::Kind::SourceCheck, look.first(), look.last(), [&look](BackgroundTask& self) {
        while (!look.waitFinished(std::chrono::milliseconds(20))) {
            if (!self.report(look.done())) {
                look.requestStop();
                return false;
            }
        }
        return true;
    });
    const bool whole = awaitTask(wait);
    collectLook();
    return whole;
}

void ConversionPass::dropLook()
{
    if (!look_)
        return;
    look_->requestStop();
    try {
        look_->join();
    } catch (...) {
        // Nothing it found is wanted.
    }
    look_.reset();
    lookFound_.reset();
}

ChecksumReader ConversionPass::checksumReader(PassFile file, BackgroundTask& task)
{
    // Runs on the task's thread, with the files lent to it.
    return [file, &task](std::int64_t offset, std::span<std::uint8_t> into) {
        task.files().readFresh(file, Position(offset + 1), into);
        return task.report(Position(offset + static_cast<std::int64_t>(into.size())));
    };
}

std::optional<ChecksumCheck> ConversionPass::checkTarget()
{
    const Checksum& checksum = *sourceChecksum_;
    std::optional<ChecksumCheck> check;
    BackgroundTask task(BackgroundTask::Kind::TargetCheck, kFirstPosition, Position(checksum.dataEnd),
                        [this, &checksum, &check](BackgroundTask& self) {
                            check = checkChecksum(checksum, checksumReader(PassFile::TargetFile, self));
                            return check.has_value();
                        });
    if (!awaitTask(task))
        return std::nullopt;
    return check;
}

std::string ConversionPass::settleChecksum()
{
    // A target that holds the source's bytes carries its checksum as it is.
    if (!differsFromSource(record_.writtenBackWithin(kFirstPosition, record_.writtenThrough()))) {
        dropLook();
        return {};
    }
    if (!awaitLook())
        return "The source was not looked at for a checksum of its own bytes: the look was cancelled.";
    if (!sourceChecksum_)
        return {};
    const Checksum& checksum = *sourceChecksum_;
    const bool zeroSum = checksum.kind == ChecksumKind::ZeroSum8;
    const std::string place = std::to_string(checksum.field) + " to "
                              + std::to_string(checksum.field + checksum.size - 1);
    const std::string what = zeroSum ? "last byte, which makes the bytes sum to zero,"
                                     : checksumName(checksum.kind) + " at " + place;
    const auto check = checkTarget();
    if (!check)
        return "The target's " + what + " was not checked: the check was cancelled.";
    if (check->matches())
        return {};
    const auto hex = [&checksum](std::uint32_t value) { return hexText(value, 2 * checksum.size); };
    const Position field(checksum.field);
    const Position fieldEnd = field + (checksum.size - 1);
    const bool touched = !record_.writtenBackWithin(field, fieldEnd).empty();
    std::string question =
        zeroSum ? "The target's bytes no longer sum to zero modulo 256, as the source's do. Change the last byte from "
                      + hex(check->held) + " to " + hex(check->wanted) + " so that the bytes sum to zero?"
                : "The source's " + checksumName(checksum.kind) + " at " + place
                      + " no longer matches the target's bytes. Write the new value " + hex(check->wanted)
                      + " there?";
    if (touched)
        question += "\n\nThis pass changed those bytes itself: they may be meant as they are.";
    if (!checksum.confirmed())
        question += "\n\nThe source may carry no checksum at all: " + chanceText(checksum.odds)
                    + " match it by chance.";
    if (!window_.confirm(Asking::Checksum, question, !touched && checksum.confirmed()))
        return "The target's " + what + " was left as the pass wrote it: it does not match the target's bytes.";
    const std::vector<std::uint8_t> bytes = checksumBytes(checksum, check->wanted);
    for (int i = 0; i < checksum.size; ++i)
        files_->writeByte(field + i, bytes[static_cast<std::size_t>(i)]);
    record_.wroteBack(field, bytes);
    files_->flush();
    syncTarget(field, fieldEnd);
    const auto again = checkTarget();
    if (!again)
        return "The new value was written to the target's " + what
               + ", but the target was not checked again: the check was cancelled.";
    if (!again->matches())
        throw FileError(PassFile::TargetFile, state_.TargetPath, "bring up to date the checksum of",
                        "its " + what + " still does not match its bytes after the new value was written");
    return {};
}

} // namespace dotmatrix
