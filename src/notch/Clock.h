#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QDateTime>
#include <QTimeZone>

namespace corvanta {

// A pending single-shot timer; destroying it cancels it.
class Timer {
public:
    virtual ~Timer() = default;
};

// Time as the check schedule and the notch alerts see it: the wall clock,
// the user's calendar and timers. Passed in, so tests run hours in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;
    // The time zone the hours of the day (quiet hours, "tonight") are read in.
    virtual QTimeZone zone() const = 0;
    // Runs `fire` once, on the calling thread's event loop, after `delay` of
    // continuous time; destroying the returned timer first cancels it.
    [[nodiscard]] virtual std::unique_ptr<Timer> after(
        std::chrono::milliseconds delay, std::function<void()> fire)
        = 0;

    // The system's clock. Its timers count the time the machine sleeps, so
    // a 24-hour wait ends 24 hours later by the wall clock, not 24 hours awake.
    static Clock& system();
};

} // namespace corvanta
