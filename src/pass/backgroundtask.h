#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "fileservice.h"
#include "position.h"

namespace dotmatrix {

// One long file operation of a pass (a copy or a sync, which can take
// seconds) run on a thread of its own, so that the window's thread stays
// free to paint and to answer the desktop. The pass's files are lent to the
// task and belong to its thread until they are given back; meanwhile only
// the progress and a stop request cross between the two.
class BackgroundTask {
public:
    // A gap copy fills the positions a jump forward passes over; a check
    // reads a file for its checksum; a verify compares the target with what
    // the pass meant to make of it.
    enum class Kind { PrefixCopy, TailCopy, GapCopy, Sync, SourceCheck, TargetCheck, Verify };
    // Runs on the task's thread; false where a stop request ended it early.
    using Work = std::function<bool(BackgroundTask&)>;

    // Positions `first` to `last` are what a copy covers; a sync covers none.
    BackgroundTask(Kind kind, Position first, Position last, Work work);
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;
    // A task still running is asked to stop and waited for.
    ~BackgroundTask();

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] Position first() const { return first_; }
    [[nodiscard]] Position last() const { return last_; }
    // A sync is one system call: it can't be stopped part way.
    [[nodiscard]] bool stoppable() const { return kind_ != Kind::Sync; }

    // Runs the work on the task's own thread. A stop requested before this
    // ends it at its first report. Where no thread can be started, the task
    // is finished at once and join() throws why.
    void start();

    // Lends the pass's files to the task, before it starts; the work reaches
    // them through files() until they are given back once it has ended.
    void lend(std::unique_ptr<FileService> files) { files_ = std::move(files); }
    [[nodiscard]] std::unique_ptr<FileService> giveBack() { return std::move(files_); }
    // From the work: the files lent to it.
    [[nodiscard]] FileService& files() const { return *files_; }

    // From the work: the last position done so far. False once a stop is requested.
    bool report(Position done);

    // From the waiting thread.
    [[nodiscard]] Position done() const { return Position(done_.load(std::memory_order_relaxed)); }
    void requestStop() { stop_.store(true); }
    [[nodiscard]] bool stopRequested() const { return stop_.load(); }
    // True once the work has returned; waits up to `timeout` for that.
    [[nodiscard]] bool waitFinished(std::chrono::milliseconds timeout);
    // Waits for the work; true where it ran to its end. Throws what the work threw.
    bool join();

private:
    void startThread();

    Kind kind_;
    Position first_;
    Position last_;
    Work work_;
    std::unique_ptr<FileService> files_;
    std::atomic<std::int64_t> done_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable finishedSignal_;
    bool finished_ = false;
    bool completed_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace dotmatrix
