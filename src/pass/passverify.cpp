// What the pass checks of the files: the target's length before every write,
// the source's length around a copy, and the whole target before "Completed".

#include "conversionpass.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <future>

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
    // The first position of a stretch that differs, with what it holds and what was meant.
    struct Difference {
        std::optional<Position> at;
        std::uint8_t held = 0;
        std::uint8_t meant = 0;
    };
    // Compares positions `from` to `to` piece by piece; false where `going`
    // says to stop. The record and the shared stretches are only read.
    const auto compare = [&](FileService& files, Position from, Position to, Difference& found,
                             const std::function<bool(Position)>& going) {
        std::vector<std::uint8_t> target;
        std::vector<std::uint8_t> expected;
        std::size_t sharedAt = 0;
        for (Position first = from; first <= to;) {
            const Position end = std::min(to, first + (kVerifyBlock - 1));
            const auto count = static_cast<std::size_t>(end.number() - first.number() + 1);
            const auto writtenBack = record_.writtenBackWithin(first, end);
            while (sharedAt < shared.size() && shared[sharedAt].end <= offsetOf(first))
                ++sharedAt;
            const bool sharedPiece = sharedAt < shared.size() && shared[sharedAt].begin <= offsetOf(first)
                                     && shared[sharedAt].end >= offsetOf(end) + 1;
            if (!sharedPiece || !writtenBack.empty()) {
                target.resize(count);
                expected.resize(count);
                files.readFresh(PassFile::TargetFile, first, target);
                if (oneFile)
                    expected = target;
                else
                    files.readFresh(PassFile::SourceFile, first, expected);
                for (const WriteRecord::Range& range : writtenBack) {
                    for (Position at = range.first; at <= range.last; at = at + 1)
                        expected[static_cast<std::size_t>(at.number() - first.number())] =
                            *record_.writtenBackByte(at);
                }
                if (std::memcmp(target.data(), expected.data(), count) != 0) {
                    std::size_t i = 0;
                    while (target[i] == expected[i])
                        ++i;
                    found = {first + static_cast<std::int64_t>(i), target[i], expected[i]};
                    return true;
                }
            }
            if (!going(end))
                return false;
            first = end + 1;
        }
        return true;
    };
    Difference differs;
    BackgroundTask task(BackgroundTask::Kind::Verify, kFirstPosition, last, [&](BackgroundTask& self) {
        // A large image in two halves, the second on a thread of its own; the
        // progress said is the first half's, at twice its pace.
        if (last.number() < 2 * kVerifyBlock)
            return compare(self.files(), kFirstPosition, last, differs, [&self](Position end) { return self.report(end); });
        const Position middle(last.number() / 2);
        std::atomic<bool> stop = false;
        Difference later;
        auto second = std::async(std::launch::async, [&] {
            return compare(self.files(), middle + 1, last, later, [&stop](Position) { return !stop.load(); });
        });
        bool ran = false;
        try {
            ran = compare(self.files(), kFirstPosition, middle, differs, [&](Position end) {
                return self.report(Position(std::min(last.number(), 2 * end.number())));
            });
        } catch (...) {
            stop = true;
            second.wait();
            throw;
        }
        // The first half's difference is the first; stopped, the second half's is not wanted.
        if (!ran || differs.at)
            stop = true;
        const bool secondRan = second.get();
        if (!ran)
            return false;
        if (!differs.at && later.at)
            differs = later;
        return secondRan || differs.at.has_value();
    });
    if (!awaitTask(task))
        return false;
    if (differs.at) {
        const bool wroteThere = record_.writtenBackByte(*differs.at).has_value();
        throw FileError(PassFile::TargetFile, state_.TargetPath, "verify",
                        "at position " + decimalText(*differs.at) + " it holds " + hexText(differs.held, 2) + ", where "
                            + (wroteThere ? "this pass wrote " : "the source holds ") + hexText(differs.meant, 2)
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
