#include "backgroundtask.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

using Kind = BackgroundTask::Kind;

TEST(BackgroundTask, StopsWhenAskedRethrowsFailuresAndJoinsWhenDestroyed)
{
    // A stop asked for before the start ends the work at its first report.
    int reports = 0;
    BackgroundTask stopped(Kind::TailCopy, Position(1), Position(100), [&](BackgroundTask& self) {
        for (int p = 1; p <= 100; ++p) {
            ++reports;
            if (!self.report(Position(p)))
                return false;
        }
        return true;
    });
    stopped.requestStop();
    stopped.start();
    EXPECT_FALSE(stopped.join());
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(stopped.done(), Position(1));

    // Whatever the work throws comes back at the join.
    BackgroundTask failing(Kind::PrefixCopy, Position(1), Position(10),
                           [](BackgroundTask&) -> bool { throw std::length_error("too long"); });
    failing.start();
    EXPECT_TRUE(failing.waitFinished(std::chrono::seconds(10)));
    EXPECT_THROW((void)failing.join(), std::length_error);

    // A task destroyed while it runs is stopped and waited for.
    std::atomic<bool> ended{false};
    {
        BackgroundTask endless(Kind::TailCopy, Position(1), Position(1), [&](BackgroundTask& self) {
            for (int p = 1; self.report(Position(p)); ++p)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ended = true;
            return false;
        });
        endless.start();
        EXPECT_FALSE(endless.waitFinished(std::chrono::milliseconds(20)));
    }
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace dotmatrix
