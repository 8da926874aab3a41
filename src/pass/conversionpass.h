#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "charactergrid.h"
#include "checksum.h"
#include "fileservice.h"
#include "position.h"
#include "previewreader.h"
#include "windowport.h"
#include "writerecord.h"

namespace dotmatrix {

// Why an operation of an open pass went no further: the message to show,
// or none where the user stopped a copy and was told so already.
struct Refusal {
    Refusal(std::string why) : message(std::move(why)) {}
    Refusal(const char* why) : message(why) {}
    [[nodiscard]] static Refusal told() { return Refusal(std::string()); }
    std::string message;
};

// What every operation of a pass shares. Nothing of it is saved.
struct WorkingState {
    std::string SourcePath;
    std::string TargetPath;
    std::uint8_t XferByte = 0;      // the byte of the last single-byte read
    std::uint8_t ComposedByte = 0;  // the byte built from a grid column before it is written
    // Columns of a character, 4 to 7 once a pass has started in one of the
    // four sizes; the dots across in any other format.
    std::int16_t CharWidth = 0;
    Position CurOffset{0};          // position of the first byte of the character on display
    CharacterGrid DotGrid;
};

// A conversion pass: the source copied to the target byte by byte, one
// character at a time shown and edited in the dot grid, and written back.
// Each public operation is the handler of one control of the window.
class ConversionPass {
public:
    explicit ConversionPass(WindowPort& window);
    ConversionPass(const ConversionPass&) = delete;
    ConversionPass& operator=(const ConversionPass&) = delete;
    ~ConversionPass();

    [[nodiscard]] const WorkingState& state() const { return state_; }

    // True from a successful start until the pass is finished or fails.
    [[nodiscard]] bool isOpen() const { return files_ != nullptr ? files_->isOpen() : running_ != nullptr; }
    // True while a copy or the final sync runs on its own thread: the files
    // are that thread's, and every operation below is refused meanwhile.
    [[nodiscard]] bool isBusy() const { return running_ != nullptr; }

    // Remember the file the next start opens; refused (false) while a pass is open.
    bool setSourcePath(std::string path);
    bool setTargetPath(std::string path);

    // `StartButt`: opens both files, copies every byte in front of the starting
    // offset and captures the first character. Refuses unusable input.
    void start();
    // `FwButt`: writes the character back and captures the next one from the source.
    void nextCharacter();
    // `BackButt`: writes the character back and captures the previous one from the target.
    void previousCharacter();
    // `Stepfwd`: writes the character back and captures one byte further on.
    void stepForward();
    // `Stepback`: writes the character back and captures one byte further back.
    void stepBack();
    // `SkipButt`: copies the rest of the source unchanged, reports "Completed"
    // and closes both files. Asks first where that would undo changes.
    void skipRest();
    // `Symtype`: writes the character back at the old width and captures it
    // again at the width now selected.
    void changeWidth();
    // Goes to the character at `position`, as the four moves do: writes the
    // character back; where `position` lies beyond every position the pass
    // has written, copies the source's bytes up to it first, so that what
    // the pass has written always runs without a gap from position 1; then
    // captures each byte from the target where the pass has written it and
    // from the source elsewhere. A stopped copy leaves the pass where it
    // was. False, and nothing done, outside a pass, while busy, or where the
    // character would not fit between position 1 and the highest.
    bool jumpTo(Position position);

    // The last position the pass has written: it holds positions 1 to this
    // one, and the source's bytes stand for the rest; 0 outside a pass.
    [[nodiscard]] Position writtenThrough() const { return isOpen() ? record_.writtenThrough() : Position(0); }
    // What this pass has written, copied apart from written back.
    [[nodiscard]] const WriteRecord& record() const { return record_; }
    // True where a jump may go to `position` at the width in force: a whole
    // character between position 1 and the highest.
    [[nodiscard]] bool mayJumpTo(Position position) const;
    // The width that option `index` of `Symtype` stands for; 0 for none.
    [[nodiscard]] static int widthOfOption(int index);
    // The width of the option selected now, the narrowest where none is.
    [[nodiscard]] static int widthSelected(int index) { return widthOfOption(std::max(0, index)); }
    // What a view of the image shows now, with format `selected` chosen.
    [[nodiscard]] ImageView imageView(const GlyphFormat& selected) const;
    // The format of the pass; before one, of the last.
    [[nodiscard]] const GlyphFormat& format() const { return format_; }
    // Brings the glyphs of a sheet into the target, as jumps and write-backs
    // would: of `bytes`, glyphs at the width in force from `first` on, those
    // that differ from what the target would hold after the next write-back
    // are written once the user agrees (No is the default), the character on
    // display written back first and the source copied up to a glyph where
    // the pass has not written yet; then the character on display is
    // captured as the target holds it. What it brought, "Skip the rest"
    // keeps. Says why where nothing is written. The glyphs written.
    std::int64_t importGlyphs(Position first, std::span<const std::uint8_t> bytes);

    // Switches one dot; false, and nothing changed, where the grid has no such cell.
    bool toggleDot(int column, int bit);
    // Puts the character that `columns` encode, in file order, into the grid,
    // as clicks on its cells would. False, and nothing changed, outside a
    // pass or where the count is not the character's width.
    bool setDisplayedColumns(std::span<const std::uint8_t> columns);

    // The bytes the dots on display encode, in file order.
    [[nodiscard]] std::vector<std::uint8_t> displayedColumns() const;
    // The bytes of the columns on display as last captured or written back.
    [[nodiscard]] std::span<const std::uint8_t> savedColumns() const
    {
        return std::span(savedColumns_).first(static_cast<std::size_t>(state_.DotGrid.columns()));
    }
    // The bytes of one character in the format in force.
    [[nodiscard]] int characterBytes() const
    {
        return state_.DotGrid.columns();
    }
    // True while dots on display differ from the bytes last read or written for them.
    [[nodiscard]] bool hasUnwrittenEdits() const;
    // The checksum the source of this pass carries of its own bytes, where
    // the look that began with the pass has found one.
    [[nodiscard]] const std::optional<Checksum>& sourceChecksum() const;
    // True while the look for the source's checksum still runs.
    [[nodiscard]] bool lookingForChecksum() const { return !collectLook(); }
    // What the look found of a checksum, in one line; empty where it found
    // none or is still looking.
    [[nodiscard]] const std::string& checksumLine() const;
    // What closing the window during an open pass would leave undone.
    [[nodiscard]] std::string closeQuestion() const;

private:
    void veskinput();
    void veskinput2();
    void veskoutput();
    void capture(PassFile from);
    // Captures each byte from the target where the pass has written it, from the source elsewhere.
    void captureAsWritten();
    void captureBytes(const std::array<std::uint8_t, CharacterGrid::kMaxBytes>& bytes);
    // The bytes from `first` on as the pass makes them: the target's where
    // it has written, the source's elsewhere.
    void readAsWritten(Position first, std::span<std::uint8_t> into);
    // Copies the source up to `position` where the pass has not written
    // yet. Nothing where it got there; where it did not, why.
    [[nodiscard]] std::optional<Refusal> fillGapBefore(Position position);
    void move(std::int64_t distance, PassFile captureFrom);
    // Runs an operation of an open pass, once the target still holds what the
    // pass wrote; false, and nothing done, outside a pass or while a task
    // has the files. A returned message is a refusal, shown once the written
    // bytes are with the system; a file error ends the pass.
    bool operate(const std::function<std::optional<Refusal>()>& operation);
    // Copies on a thread of its own while the window waits; the position
    // reached where the user stopped it, nothing where it ran to the end.
    // `sourceLength` is the source's length as the pass knows it: where the
    // copy finds another, or the source changes while it runs, in a way that
    // reaches positions `first` to `last`, the copy ends the pass.
    std::optional<Position> copyOnThread(BackgroundTask::Kind kind, Position first, Position last,
                                    std::int64_t sourceLength);
    // Runs `task` while the window waits and the pass is busy; true where it
    // ran to its end. Any failure on its thread comes back as a FileError.
    bool awaitTask(BackgroundTask& task);
    void endAfter(const FileError& error);
    // Throws where the target, as it is now, is shorter than `written`, the
    // bytes the pass has written to it.
    void checkTargetHolds(std::int64_t written);
    // Throws where the source's length, `before` a copy of `first` to `last`
    // and `after` it, differs from `known` in a way that reaches the copy.
    void checkSourceSteady(std::int64_t known, std::int64_t before, std::int64_t after, Position first,
                           Position last, bool toEnd = false) const;
    // Starts looking for a checksum the source carries, on a thread and a
    // handle of its own, while the pass goes on; one file as both is looked
    // at at once, before anything is written.
    void startLook();
    // Takes what the look found once it has ended; true where it has.
    bool collectLook() const;
    // Waits for the look, with progress and Cancel where it takes long;
    // false where the user stopped it.
    bool awaitLook();
    // Stops the look without waiting for what it would find.
    void dropLook();
    // True where a byte of `ranges` in the target differs from the source's
    // there: only what was written back can.
    [[nodiscard]] bool differsFromSource(const std::vector<WriteRecord::Range>& ranges);
    // Commits the target to stable storage on the task's thread; `first` to
    // `last` is what the progress box names.
    void syncTarget(Position first, Position last);
    // Brings the target's checksum up to date where the user agrees; what
    // "Completed" adds to say, where anything. Throws FileError.
    [[nodiscard]] std::string settleChecksum();
    // Reads `file` for `task`, telling it how far the reading has come.
    [[nodiscard]] ChecksumReader checksumReader(PassFile file, BackgroundTask& task);
    // Reads the target for the source's checksum: nothing where the user stopped it.
    [[nodiscard]] std::optional<ChecksumCheck> checkTarget();
    // Reads the target back and compares it with what the pass meant to
    // make: the bytes written back where the record says so, the source's
    // elsewhere. False where the user stopped it; throws FileError naming
    // the first position that differs.
    bool verifyTarget();
    // The glyphs of `bytes` at the width in force from `first` on that differ
    // from what the target would hold after the next write-back: their first positions.
    [[nodiscard]] std::vector<Position> differingGlyphs(Position first, std::span<const std::uint8_t> bytes);
    // The question an import of `count` glyphs asks, `differing` of them
    // differing; it says where they would replace dots on display not yet written.
    [[nodiscard]] std::string importQuestion(std::int64_t count, const std::vector<Position>& differing) const;
    // Why the tail copy would undo changes, or nothing where it wouldn't.
    [[nodiscard]] std::optional<std::string> tailCopyQuestion(std::int64_t sourceLength);

    WindowPort& window_;
    WorkingState state_;
    // The files of the pass; lent to a task while it runs, so that no
    // operation of the window's thread can reach them meanwhile.
    std::unique_ptr<FileService> files_;
    // The bytes of the columns on display as last captured or written back.
    std::array<std::uint8_t, CharacterGrid::kMaxBytes> savedColumns_{};
    GlyphFormat format_;
    WriteRecord record_;
    // The look for the source's checksum while it runs, and what it found.
    mutable std::optional<Checksum> lookFound_;
    mutable std::unique_ptr<BackgroundTask> look_;
    // Set once the pass waits for the look: it then runs as any other thread.
    std::atomic<bool> lookAwaited_{false};
    mutable std::optional<Checksum> sourceChecksum_;
    mutable std::string checksumLine_;
    // The task under way, for the close question asked meanwhile.
    const BackgroundTask* running_ = nullptr;
    // True once this pass has captured a character: only then are there
    // dots on display that belong to it.
    bool characterOfThisPass_ = false;
};

} // namespace dotmatrix
