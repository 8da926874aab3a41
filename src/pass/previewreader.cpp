#include "previewreader.h"

#include <algorithm>
#include <utility>

#include "platformfile.h"

namespace dotmatrix {

namespace {

// Reads `into.size()` bytes at `offset` of an open file: zeros behind its end.
void readInto(PlatformFile& file, std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error)
{
    std::fill(into.begin(), into.end(), std::uint8_t{0});
    std::size_t got = 0;
    while (got < into.size() && !error) {
        const std::size_t now = file.readAt(offset + static_cast<std::int64_t>(got), into.subspan(got), error);
        if (now == 0)
            break;
        got += now;
    }
}

std::string problemWith(const char* which, const std::string& path, const std::error_code& error)
{
    return std::string("Cannot read the ") + which + " file \"" + path + "\": " + error.message() + ".";
}

} // namespace

namespace {

// How long closing waits for a read under way before it leaves it behind.
constexpr auto kExitWait = std::chrono::milliseconds(200);

} // namespace

PreviewReader::PreviewReader(std::function<void()> ready) : shared_(std::make_shared<Shared>())
{
    shared_->ready = std::move(ready);
    thread_ = std::thread([shared = shared_] { run(shared); });
}

PreviewReader::~PreviewReader()
{
    bool exited = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stopping = true;
        shared_->ready = nullptr;
        shared_->wake.notify_all();
        exited = shared_->arrived.wait_for(lock, kExitWait, [this] { return shared_->exited; });
    }
    if (exited)
        thread_.join();
    else
        thread_.detach();
}

void PreviewReader::request(Request request)
{
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->pending = std::move(request);
    }
    shared_->wake.notify_all();
}

std::optional<PreviewReader::View> PreviewReader::take()
{
    const std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->done, std::nullopt);
}

bool PreviewReader::waitReady(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(shared_->mutex);
    return shared_->arrived.wait_for(lock, timeout, [this] { return shared_->done.has_value(); });
}

void PreviewReader::run(const std::shared_ptr<Shared>& shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&] { return shared->stopping || shared->pending.has_value(); });
        if (shared->stopping)
            break;
        const Request next = std::move(*shared->pending);
        shared->pending.reset();
        lock.unlock();
        View view = read(next);
        lock.lock();
        shared->done = std::move(view);
        // Told under the lock, so that an owner going away is never called.
        if (shared->ready)
            shared->ready();
        shared->arrived.notify_all();
    }
    shared->exited = true;
    shared->arrived.notify_all();
}

PreviewReader::View PreviewReader::read(const Request& request)
{
    View view;
    view.serial = request.serial;
    view.first = request.first;
    const auto count = static_cast<std::size_t>(std::max<std::int64_t>(request.count, 0));
    view.bytes.assign(count, 0);
    view.changed.assign(count, false);
    if (request.sourcePath.empty())
        return view;
    std::error_code error;
    PlatformFile source = PlatformFile::open(request.sourcePath, PlatformFile::Access::ReadOnly, error);
    if (!error)
        view.length = source.size(error);
    if (!error)
        readInto(source, offsetOf(request.first), view.bytes, error);
    if (error) {
        view.problem = problemWith("source", request.sourcePath, error);
        return view;
    }
    view.length = std::max(view.length, request.writtenThrough.number());
    // Where the pass has written, the target's bytes are what it made.
    const std::int64_t written = std::min<std::int64_t>(request.writtenThrough.number() - request.first.number() + 1,
                                                        static_cast<std::int64_t>(count));
    if (request.targetPath.empty() || written <= 0)
        return view;
    PlatformFile target = PlatformFile::open(request.targetPath, PlatformFile::Access::ReadOnly, error);
    std::vector<std::uint8_t> made(static_cast<std::size_t>(written));
    if (!error)
        readInto(target, offsetOf(request.first), made, error);
    if (error) {
        view.problem = problemWith("target", request.targetPath, error);
        return view;
    }
    for (std::size_t i = 0; i < made.size(); ++i) {
        view.changed[i] = made[i] != view.bytes[i];
        view.bytes[i] = made[i];
    }
    return view;
}

} // namespace dotmatrix
