#include "notch/Clock.h"

#include <algorithm>

#include <QTimer>

#include <time.h>

using namespace std::chrono_literals;

namespace corvanta {

namespace {

// Time since boot including suspend, where the system keeps such a clock.
std::chrono::milliseconds continuousNow()
{
#ifdef CLOCK_BOOTTIME
    timespec now {};
    if (clock_gettime(CLOCK_BOOTTIME, &now) == 0)
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
#endif
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

// Event-loop timers stop while the machine sleeps; waking up at least once a
// minute to compare with the continuous clock bounds how late a wait can end.
constexpr std::chrono::milliseconds longestStep = 60s;

class ContinuousTimer : public Timer {
public:
    ContinuousTimer(std::chrono::milliseconds delay, std::function<void()> fire)
        : m_deadline(continuousNow() + std::max(delay, 0ms))
        , m_fire(std::move(fire))
    {
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { look(); });
        arm();
    }
    // Safe from inside the callback: the stopped QTimer goes once its signal returned.
    ~ContinuousTimer() override
    {
        m_timer->stop();
        m_timer->deleteLater();
    }
    ContinuousTimer(const ContinuousTimer&) = delete;
    ContinuousTimer& operator=(const ContinuousTimer&) = delete;

private:
    void arm() { m_timer->start(std::clamp(m_deadline - continuousNow(), 0ms, longestStep)); }

    void look()
    {
        if (continuousNow() < m_deadline) {
            arm();
            return;
        }
        // The callback may destroy this timer: keep it in a local, touch nothing after.
        const std::function<void()> fire = std::move(m_fire);
        if (fire)
            fire();
    }

    std::chrono::milliseconds m_deadline;
    std::function<void()> m_fire;
    QTimer* m_timer = new QTimer;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    QTimeZone zone() const override { return QTimeZone::systemTimeZone(); }
    std::unique_ptr<Timer> after(std::chrono::milliseconds delay, std::function<void()> fire) override
    {
        return std::make_unique<ContinuousTimer>(delay, std::move(fire));
    }
};

} // namespace

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

} // namespace corvanta
