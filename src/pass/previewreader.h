#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "glyphformat.h"
#include "madeimage.h"
#include "position.h"
#include "writerecord.h"

namespace dotmatrix {

struct ImageView;

// Reads stretches of the files for a view of many characters, on a thread of
// its own with read-only handles of its own, so that a slow or vanished file
// never holds up a window. It shows what the pass makes of the files: the
// target where the pass has written it, the source elsewhere. Only the
// newest request is read; each read opens the files afresh, so what other
// programs changed shows, and nothing is kept between reads.
class PreviewReader {
public:
    struct Request {
        std::string sourcePath;
        std::string targetPath;         // empty outside a pass
        Position writtenThrough{0};     // the target holds positions 1 to this one
        // What the pass wrote back within the stretch: where the target's
        // bytes there differ from the source's, they are changed.
        std::vector<PositionRanges::Range> writtenBack;
        Position first{1};
        std::int64_t count = 0;
        std::uint64_t serial = 0;       // given back with the view
    };

    struct View {
        std::uint64_t serial = 0;
        Position first{1};
        // What the pass makes of positions `first` on; 0 behind the ends.
        std::vector<std::uint8_t> bytes;
        // Where the pass wrote back a byte other than the source's.
        std::vector<bool> changed;
        // The length the view covers: the source's, or more where the pass
        // has written beyond it.
        std::int64_t length = 0;
        // Why the files could not be read; empty where they were.
        std::string problem;
    };

    // `ready` is called on the reader's thread whenever a view can be taken.
    explicit PreviewReader(std::function<void()> ready);
    PreviewReader(const PreviewReader&) = delete;
    PreviewReader& operator=(const PreviewReader&) = delete;
    // Waits a moment for a read under way to end; one that hangs (a dead
    // network share) is left to finish, unheard, by the end of the process.
    ~PreviewReader();

    // Replaces any request not yet begun.
    void request(Request request);
    // The newest view read, once; nothing where none is new.
    [[nodiscard]] std::optional<View> take();
    // Waits up to `timeout` for a view to take; true where there is one.
    [[nodiscard]] bool waitReady(std::chrono::milliseconds timeout);

    // What to read for `count` bytes from `first` of `image`.
    [[nodiscard]] static Request requestFor(const ImageView& image, Position first, std::int64_t count);
    // Reads a request at once, on the calling thread.
    [[nodiscard]] static View read(const Request& request);

private:
    // What the reader's thread shares with its owner; it outlives an owner
    // that could not wait for the thread.
    struct Shared {
        std::function<void()> ready;
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable arrived;
        std::optional<Request> pending;
        std::optional<View> done;
        bool stopping = false;
        bool exited = false;
    };
    static void run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

// What a view of the image as a pass makes it shows: before a pass the
// source in the format selected; during one the target where the pass has
// written and the source elsewhere, in the pass's format, with the
// character on display marked. The pass makes it; views are given it.
struct ImageView {
    std::string sourcePath;
    std::string targetPath;  // empty outside a pass
    Position writtenThrough{0};
    // Where the pass wrote back: only there can the target differ from the source.
    PositionRanges writtenBack;
    GlyphFormat format;
    Position marked{0};  // 0 where no character is on display
    // Where glyphs start: the character on display during a pass, before
    // one the starting offset typed, where it is one.
    std::optional<Position> anchor;
    bool busy = false;   // a task owns the files: nothing is read meanwhile
    std::string checksumLine;

    // The files as a scan of their own reads them.
    [[nodiscard]] ImageFiles files() const { return {sourcePath, targetPath, writtenThrough}; }
};

} // namespace dotmatrix
