#pragma once

#include "notch/Clock.h"
#include "notch/NotchHost.h"
#include "notch/NotchSchedule.h"

#include <chrono>
#include <memory>
#include <optional>

#include <QObject>

namespace corvanta {

class Desktop;

// Decides whether and when the notch panel drops, and keeps the notch
// memory: what showed last and when, what the user put off, snoozes. Holds at
// most one scheduled task; a new one replaces it. Lives on the main thread.
class NotchScheduler : public QObject {
    Q_OBJECT

public:
    NotchScheduler(NotchHost& host, Desktop& desktop, Clock& clock, QObject* parent = nullptr);
    ~NotchScheduler() override;

    // --notch-delay: replaces the wait before a panel that may show drops.
    void setShowDelay(std::optional<std::chrono::milliseconds> delay) { m_showDelay = delay; }

    // Asks for `wake` each time the screen is unlocked or the machine wakes. Idempotent.
    void start();
    // Decides for the moment the panel would appear and acts on it; the decision, for diagnostics.
    NotchDecision request(NotchTrigger trigger);
    // Replaces the scheduled task: after `delay`, decide again (`manual`: show).
    void schedule(std::chrono::milliseconds delay, NotchTrigger trigger, bool respectBusy);
    // The panel's snooze entries: "hour", "tonight", "tomorrow" or "week".
    void snooze(const QString& option);
    // The user put the shown updates off; true when the panel should now ask
    // whether to keep showing updates from the notch.
    bool dismissed(const QStringList& keys);

    // The user is working in the application: the tour, its main or welcome
    // window, or any titled window while it is active.
    bool appInUse() const;
    bool fullScreenAppInFront() const;

    // The one scheduled task, if any.
    struct Scheduled {
        QDateTime at;
        NotchTrigger trigger;
        bool respectBusy;
        friend bool operator==(const Scheduled&, const Scheduled&) = default;
    };
    const std::optional<Scheduled>& scheduled() const { return m_scheduled; }

    static std::chrono::seconds triggerDelay(NotchTrigger trigger);

    static inline const QString mainWindowTitle = QStringLiteral("Corvanta");
    static inline const QString welcomeWindowTitle = QStringLiteral("Welcome to Corvanta");

Q_SIGNALS:
    // The panel is to drop now; `automatic` unless the user asked for it.
    void showRequested(bool automatic);
    void scheduledChanged();

private:
    void fire(NotchTrigger trigger, bool respectBusy);
    // Waits out full-screen apps, then shows unless the user is in the app.
    void showWhenFree();
    void setScheduled(std::optional<Scheduled> scheduled);
    // The showing counts as done: the user is looking at the updates anyway.
    void countAsShown();

    NotchHost& m_host;
    Desktop& m_desktop;
    Clock& m_clock;
    std::optional<std::chrono::milliseconds> m_showDelay;
    bool m_started = false;
    std::unique_ptr<Timer> m_task;
    std::optional<Scheduled> m_scheduled;
};

} // namespace corvanta
