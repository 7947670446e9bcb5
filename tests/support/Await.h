#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace corvanta::test {

// Thrown when a task misses its deadline; GoogleTest reports it as a failure.
struct TaskTimedOut : std::runtime_error {
    TaskTimedOut()
        : std::runtime_error("the task did not finish before its deadline")
    {
    }
};

// Runs `task` to completion on a nested event loop (tests only) and returns
// its value, rethrowing what it threw. Missing the deadline fails the test.
template<typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(20))
{
    using Value = std::conditional_t<std::is_void_v<T>, bool, T>;
    // Shared with the runner, so a task that finishes after its deadline
    // writes into live memory rather than a finished test's stack.
    struct State {
        QEventLoop* loop = nullptr;
        bool finished = false;
        std::exception_ptr error;
        std::optional<Value> result;
    };
    auto state = std::make_shared<State>();

    auto runner = [](QCoro::Task<T> inner, std::shared_ptr<State> shared) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(inner);
                shared->result = true;
            } else {
                shared->result = co_await std::move(inner);
            }
        } catch (...) {
            shared->error = std::current_exception();
        }
        shared->finished = true;
        if (shared->loop)
            shared->loop->quit();
    };
    auto running = runner(std::move(task), state);
    if (!state->finished) {
        QEventLoop loop;
        state->loop = &loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] { loop.quit(); });
        timer.start(deadline);
        loop.exec();
        state->loop = nullptr;
    }
    if (!state->finished) {
        ADD_FAILURE() << "task still running after " << deadline.count() << " ms";
        throw TaskTimedOut();
    }
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->result);
}

// Spins the event loop until `condition` holds or the deadline passes.
template<typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] { loop.quit(); });
    if (condition())
        return true;
    poll.start(5);
    limit.start(deadline);
    loop.exec();
    return condition();
}

} // namespace corvanta::test
