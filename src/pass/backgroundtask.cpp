#include "backgroundtask.h"

#include <system_error>
#include <utility>

namespace dotmatrix {

BackgroundTask::BackgroundTask(Kind kind, Position first, Position last, Work work)
    : kind_(kind), first_(first), last_(last), work_(std::move(work)), done_(first.number() - 1)
{
}

BackgroundTask::~BackgroundTask()
{
    if (thread_.joinable()) {
        requestStop();
        thread_.join();
    }
}

void BackgroundTask::start()
{
    try {
        startThread();
    } catch (const std::system_error&) {
        // No thread to be had: the task has failed before it began.
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        finished_ = true;
    }
}

void BackgroundTask::startThread()
{
    thread_ = std::thread([this] {
        bool completed = false;
        std::exception_ptr failure;
        try {
            completed = work_(*this);
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard lock(mutex_);
        completed_ = completed;
        failure_ = failure;
        finished_ = true;
        finishedSignal_.notify_all();
    });
}

bool BackgroundTask::report(Position done)
{
    done_.store(done.number(), std::memory_order_relaxed);
    return !stopRequested();
}

bool BackgroundTask::waitFinished(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return finishedSignal_.wait_for(lock, timeout, [this] { return finished_; });
}

bool BackgroundTask::join()
{
    if (thread_.joinable())
        thread_.join();
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
    return completed_;
}

} // namespace dotmatrix
