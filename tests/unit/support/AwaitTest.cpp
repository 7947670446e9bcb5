#include "support/Await.h"

#include <stdexcept>

#include <QCoro/QCoroTimer>

#include <gtest/gtest-spi.h>

using namespace std::chrono_literals;
using corvanta::test::await;

namespace {

QCoro::Task<int> later(std::chrono::milliseconds delay, int value)
{
    QTimer timer;
    timer.start(delay);
    co_await timer;
    co_return value;
}

QCoro::Task<int> failing()
{
    co_await later(1ms, 0);
    throw std::invalid_argument("broken");
}

} // namespace

TEST(Await, ReturnsTheValueOfATaskThatSuspends)
{
    EXPECT_EQ(await(later(20ms, 7)), 7);
}

TEST(Await, RethrowsWhatTheTaskThrew)
{
    EXPECT_THROW(await(failing()), std::invalid_argument);
}

TEST(Await, FailsATaskThatMissesItsDeadline)
{
    // The deadline failure is itself the expected outcome here.
    testing::TestPartResultArray failures;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        EXPECT_THROW(await(later(2s, 1), 50ms), corvanta::test::TaskTimedOut);
    }
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.GetTestPartResult(0).failed());
}
