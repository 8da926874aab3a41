#include "previewreader.h"

#include <algorithm>
#include <utility>

#include "madeimage.h"

namespace dotmatrix {

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

PreviewReader::Request PreviewReader::requestFor(const ImageView& image, Position first, std::int64_t count)
{
    Request request;
    request.sourcePath = image.sourcePath;
    request.targetPath = image.targetPath;
    request.writtenThrough = image.writtenThrough;
    request.first = first;
    request.count = count;
    if (count > 0)
        request.writtenBack = image.writtenBack.within(first, first + (count - 1));
    return request;
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
    std::optional<MadeImage> image =
        MadeImage::open({request.sourcePath, request.targetPath, request.writtenThrough}, view.problem);
    if (!image)
        return view;
    std::error_code error;
    view.length = image->length(error);
    if (error) {
        view.problem = cannotRead("source", request.sourcePath, error);
        return view;
    }
    image->readAll(offsetOf(request.first), view.bytes, view.problem);
    // Changed where the pass wrote back a byte other than the source's.
    std::vector<std::uint8_t> source;
    for (const PositionRanges::Range& range : request.writtenBack) {
        const std::int64_t from = std::max(range.first.number(), request.first.number()) - request.first.number();
        const std::int64_t to = std::min<std::int64_t>(range.last.number() - request.first.number() + 1,
                                                       static_cast<std::int64_t>(count));
        if (!view.problem.empty() || from >= to)
            continue;
        source.resize(static_cast<std::size_t>(to - from));
        image->readSource(offsetOf(request.first) + from, source, view.problem);
        for (std::int64_t i = from; i < to; ++i)
            view.changed[static_cast<std::size_t>(i)] = view.bytes[static_cast<std::size_t>(i)] != source[static_cast<std::size_t>(i - from)];
    }
    return view;
}

} // namespace dotmatrix
