// What the pass checks of the files: the target's length before every write,
// the source's length around a copy, and the whole target before "Completed".

#include "conversionpass.h"

#include <algorithm>
#include <cstring>

#include "offsettext.h"

namespace dotmatrix {

namespace {

// The verify step's reading, per file and piece.
constexpr std::int64_t kVerifyBlock = std::int64_t{1} << 20;

} // namespace

bool ConversionPass::verifyTarget()
{
    const Position last = record_.writtenThrough();
    if (last < kFirstPosition)
        return true;
    checkTargetHolds(last.number());
    const bool oneFile = files_->oneFile();
    // Stretches the system keeps in one place for both files hold the same bytes.
    const std::vector<ByteStretch> shared = files_->sharedStretches(kFirstPosition, last);
    std::optional<Position> differs;
    std::uint8_t held = 0;
    std::uint8_t meant = 0;
    BackgroundTask task(BackgroundTask::Kind::Verify, kFirstPosition, last, [&](BackgroundTask& self) {
        std::vector<std::uint8_t> target;
        std::vector<std::uint8_t> expected;
        std::size_t sharedAt = 0;
        for (Position first = kFirstPosition; first <= last;) {
            const Position end = std::min(last, first + (kVerifyBlock - 1));
            const auto count = static_cast<std::size_t>(end.number() - first.number() + 1);
            const auto writtenBack = record_.writtenBackWithin(first, end);
            while (sharedAt < shared.size() && shared[sharedAt].end <= offsetOf(first))
                ++sharedAt;
            const bool sharedPiece = sharedAt < shared.size() && shared[sharedAt].begin <= offsetOf(first)
                                     && shared[sharedAt].end >= offsetOf(end) + 1;
            if (!sharedPiece || !writtenBack.empty()) {
                target.resize(count);
                expected.resize(count);
                lent_->readFresh(PassFile::TargetFile, first, target);
                if (oneFile)
                    expected = target;
                else
                    lent_->readFresh(PassFile::SourceFile, first, expected);
                for (const WriteRecord::Range& range : writtenBack) {
                    for (Position at = range.first; at <= range.last; at = at + 1)
                        expected[static_cast<std::size_t>(at.number() - first.number())] =
                            *record_.writtenBackByte(at);
                }
                if (std::memcmp(target.data(), expected.data(), count) != 0) {
                    std::size_t i = 0;
                    while (target[i] == expected[i])
                        ++i;
                    differs = first + static_cast<std::int64_t>(i);
                    held = target[i];
                    meant = expected[i];
                    return true;
                }
            }
            if (!self.report(end))
                return false;
            first = end + 1;
        }
        return true;
    });
    if (!awaitTask(task))
        return false;
    if (differs) {
        const bool wroteThere = record_.writtenBackByte(*differs).has_value();
        throw FileError(PassFile::TargetFile, state_.TargetPath, "verify",
                        "at position " + decimalText(*differs) + " it holds " + hexText(held, 2) + ", where "
                            + (wroteThere ? "this pass wrote " : "the source holds ") + hexText(meant, 2)
                            + ". Another program may have written to it, or the disk did not keep what was written");
    }
    return true;
}

void ConversionPass::checkTargetHolds(std::int64_t written)
{
    const std::int64_t length = files_->lengthNow(PassFile::TargetFile);
    if (length < written)
        throw targetShortened(state_.TargetPath, length, written);
}

void ConversionPass::checkSourceSteady(std::int64_t known, std::int64_t before, std::int64_t after, Position first,
                                       Position last, bool toEnd) const
{
    // A change behind the copy's last position reaches it only where it
    // copies to the source's end.
    const auto reaches = [&](std::int64_t from, std::int64_t to) {
        return from != to && (toEnd || std::min(from, to) < last.number());
    };
    std::string reason;
    if (reaches(known, before)) {
        reason = "its length changed from " + std::to_string(known) + " to " + std::to_string(before)
                 + " bytes just before positions " + decimalText(first) + " to " + decimalText(last)
                 + " were copied, so the target's bytes from position "
                 + std::to_string(std::min(known, before) + 1) + " on may not be the source's";
    } else if (reaches(before, after)) {
        reason = after > before ? "it grew from " + std::to_string(before) + " to " + std::to_string(after)
                                      + " bytes while it was copied, so the target holds its bytes only up to position "
                                      + std::to_string(before)
                                : "it shrank from " + std::to_string(before) + " to " + std::to_string(after)
                                      + " bytes while it was copied, so the target's bytes from position "
                                      + std::to_string(after + 1) + " to "
                                      + std::to_string(std::min(before, last.number())) + " are not the source's";
    }
    if (!reason.empty())
        throw FileError(PassFile::SourceFile, state_.SourcePath, "copy all of", reason);
}

} // namespace dotmatrix
