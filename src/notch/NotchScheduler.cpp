#include "notch/NotchScheduler.h"

#include "platform/Desktop.h"

#include <algorithm>

#include <QPointer>
#include <QSet>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {

// The shortest wait a `wait` decision schedules.
constexpr auto shortestWait = 60s;
// How often a panel held back by a full-screen app looks again.
constexpr auto fullScreenRetry = 60s;

} // namespace

NotchScheduler::NotchScheduler(NotchHost& host, Desktop& desktop, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_desktop(desktop)
    , m_clock(clock)
{
}

NotchScheduler::~NotchScheduler() = default;

std::chrono::seconds NotchScheduler::triggerDelay(NotchTrigger trigger)
{
    switch (trigger) {
    case NotchTrigger::login:
        return 120s;
    case NotchTrigger::wake:
        return 30s;
    case NotchTrigger::check:
    case NotchTrigger::resume:
    case NotchTrigger::manual:
        break;
    }
    return 0s;
}

void NotchScheduler::start()
{
    if (m_started)
        return;
    m_started = true;
    QPointer<NotchScheduler> self(this);
    m_desktop.watchWake([self] {
        if (self)
            self->request(NotchTrigger::wake);
    });
}

NotchDecision NotchScheduler::request(NotchTrigger trigger)
{
    const QStringList pending = m_host.pendingKeys();
    const std::chrono::seconds delay = triggerDelay(trigger);
    const QDateTime now = m_clock.now();
    const QDateTime at = now.addSecs(delay.count());
    const NotchMemory memory = m_host.memory();
    const NotchDecision decision = NotchSchedule::decide(
        trigger, pending, memory, m_host.mode(), m_host.quietHours(), at, m_clock.zone(), appInUse());

    if (const auto* wait = std::get_if<NotchDecision::Wait>(&decision.value)) {
        const auto until = std::chrono::milliseconds(now.msecsTo(wait->until));
        const bool snoozed = memory.snoozedUntil && *memory.snoozedUntil > at;
        schedule(std::max<std::chrono::milliseconds>(shortestWait, until),
            snoozed ? NotchTrigger::resume : trigger, false);
    } else if (const auto* skip = std::get_if<NotchDecision::Skip>(&decision.value)) {
        if (skip->reason == u"Corvanta is open")
            countAsShown();
    } else {
        schedule(m_showDelay.value_or(delay), NotchTrigger::manual, true);
    }
    return decision;
}

void NotchScheduler::schedule(std::chrono::milliseconds delay, NotchTrigger trigger, bool respectBusy)
{
    m_task.reset();
    QPointer<NotchScheduler> self(this);
    m_task = m_clock.after(delay, [self, trigger, respectBusy] {
        if (self)
            self->fire(trigger, respectBusy);
    });
    setScheduled(Scheduled { m_clock.now().addMSecs(delay.count()), trigger, respectBusy });
}

void NotchScheduler::fire(NotchTrigger trigger, bool respectBusy)
{
    m_task.reset();
    setScheduled(std::nullopt);
    if (trigger != NotchTrigger::manual)
        request(trigger);
    else if (respectBusy)
        showWhenFree();
    else
        Q_EMIT showRequested(false);
}

void NotchScheduler::showWhenFree()
{
    if (fullScreenAppInFront()) {
        schedule(fullScreenRetry, NotchTrigger::manual, true);
        return;
    }
    if (appInUse()) {
        countAsShown();
        return;
    }
    Q_EMIT showRequested(true);
}

void NotchScheduler::snooze(const QString& option)
{
    NotchMemory memory = m_host.memory();
    const QDateTime now = m_clock.now();
    memory.snoozedUntil = NotchSchedule::snooze(option, now, m_clock.zone());
    m_host.setMemory(memory);
    schedule(std::chrono::milliseconds(now.msecsTo(*memory.snoozedUntil)), NotchTrigger::resume, false);
}

bool NotchScheduler::dismissed(const QStringList& keys)
{
    NotchMemory memory = m_host.memory();
    const QSet<QString> given(keys.begin(), keys.end());
    const QSet<QString> before(memory.dismissedKeys.begin(), memory.dismissedKeys.end());
    memory.dismissals = given == before ? memory.dismissals + 1 : 1;
    memory.dismissedKeys = keys;
    bool ask = false;
    if (memory.dismissals >= 3 && !memory.askedToStop) {
        memory.askedToStop = true;
        ask = true;
    }
    m_host.setMemory(memory);
    return ask;
}

bool NotchScheduler::appInUse() const
{
    if (m_host.touring())
        return true;
    bool any = false;
    for (const Desktop::Window& window : m_desktop.windows()) {
        if (!window.visible || window.minimized || !window.normalLevel || window.title.isEmpty())
            continue;
        if (window.title == mainWindowTitle || window.title == welcomeWindowTitle)
            return true;
        any = true;
    }
    return any && m_desktop.active();
}

bool NotchScheduler::fullScreenAppInFront() const
{
    return m_desktop.fullScreenAppInFront();
}

void NotchScheduler::countAsShown()
{
    NotchMemory memory = m_host.memory();
    memory.lastShown = m_clock.now();
    memory.lastShownKeys = m_host.pendingKeys();
    m_host.setMemory(memory);
}

void NotchScheduler::setScheduled(std::optional<Scheduled> scheduled)
{
    if (m_scheduled == scheduled)
        return;
    m_scheduled = std::move(scheduled);
    Q_EMIT scheduledChanged();
}

} // namespace corvanta
