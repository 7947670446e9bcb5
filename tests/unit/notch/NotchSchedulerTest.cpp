#include "notch/NotchScheduler.h"

#include "unit/notch/ManualClock.h"
#include "unit/notch/NotchFakes.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QTimeZone berlin("Europe/Berlin");

QDateTime on(int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, 3, day), QTime(hour, minute), berlin);
}

class NotchSchedulerTest : public testing::Test {
protected:
    ManualClock clock { on(10, 12), berlin };
    FakeDesktop desktop;
    TestHost host;
    NotchScheduler scheduler { host, desktop, clock };
    QList<bool> shown; // showRequested's `automatic`, in order

    void SetUp() override
    {
        host.add(u"Alpha"_s);
        QObject::connect(&scheduler, &NotchScheduler::showRequested, &scheduler,
            [this](bool automatic) { shown << automatic; });
    }

    NotchScheduler::Scheduled scheduledOrFail()
    {
        if (!scheduler.scheduled()) {
            ADD_FAILURE() << "nothing scheduled";
            return {};
        }
        return *scheduler.scheduled();
    }
};

TEST_F(NotchSchedulerTest, ALoginShowsTwoMinutesLater)
{
    scheduler.request(NotchTrigger::login);
    EXPECT_EQ(scheduledOrFail(), (NotchScheduler::Scheduled { on(10, 12, 2), NotchTrigger::manual, true }));
    clock.advance(119s);
    EXPECT_TRUE(shown.isEmpty());
    clock.advance(1s);
    EXPECT_EQ(shown, QList<bool> { true });
    EXPECT_FALSE(scheduler.scheduled().has_value());
}

TEST_F(NotchSchedulerTest, TheDelayOptionReplacesTheTriggersWait)
{
    scheduler.setShowDelay(5s);
    scheduler.request(NotchTrigger::login);
    clock.advance(5s);
    EXPECT_EQ(shown, QList<bool> { true });
}

TEST_F(NotchSchedulerTest, ACheckWithinTwentyHoursWaitsAndThenDecidesAgain)
{
    host.savedMemory.lastShown = on(10, 2);
    host.savedMemory.lastShownKeys = { u"com.example.old@1"_s };
    const NotchDecision decision = scheduler.request(NotchTrigger::check);
    EXPECT_EQ(decision, NotchDecision { NotchDecision::Wait { on(10, 22) } });
    EXPECT_EQ(scheduledOrFail(), (NotchScheduler::Scheduled { on(10, 22), NotchTrigger::check, false }));

    clock.advance(9h + 59min);
    EXPECT_TRUE(shown.isEmpty());
    clock.advance(1min); // the check is taken again at 22:00, and shows at once
    EXPECT_EQ(shown, QList<bool> { true });
}

TEST_F(NotchSchedulerTest, AWaitIsNeverShorterThanAMinute)
{
    host.savedMemory.lastShown = on(9, 16, 0).addSecs(10); // 20 h end 10 s from now
    host.savedMemory.lastShownKeys = { u"com.example.old@1"_s };
    scheduler.request(NotchTrigger::check);
    EXPECT_EQ(scheduledOrFail().at, on(10, 12, 1));
}

TEST_F(NotchSchedulerTest, ASnoozeInForceTurnsRequestsIntoAWaitThenAResume)
{
    host.savedMemory.snoozedUntil = on(10, 19);
    scheduler.request(NotchTrigger::check);
    EXPECT_EQ(scheduledOrFail(), (NotchScheduler::Scheduled { on(10, 19), NotchTrigger::resume, false }));
    clock.advance(7h);
    EXPECT_EQ(shown, QList<bool> { true });
}

TEST_F(NotchSchedulerTest, QuietHoursWaitWithTheSameTrigger)
{
    host.quiet = QuietHours { 22, 7 };
    clock.advance(11h + 30min); // 23:30
    scheduler.request(NotchTrigger::check);
    EXPECT_EQ(scheduledOrFail(), (NotchScheduler::Scheduled { on(11, 7), NotchTrigger::check, false }));
}

TEST_F(NotchSchedulerTest, WithTheMainWindowOpenTheShowingCountsAsDone)
{
    desktop.openWindows = { { u"Corvanta"_s, true, false, true } };
    const NotchDecision decision = scheduler.request(NotchTrigger::check);
    EXPECT_EQ(decision, NotchDecision { NotchDecision::Skip { u"Corvanta is open"_s } });
    EXPECT_EQ(host.savedMemory.lastShown, on(10, 12));
    EXPECT_EQ(host.savedMemory.lastShownKeys, host.pendingKeys());
    EXPECT_FALSE(scheduler.scheduled().has_value());
}

TEST_F(NotchSchedulerTest, OtherSkipsLeaveTheMemoryAlone)
{
    host.notchMode = NotchMode::never;
    scheduler.request(NotchTrigger::check);
    EXPECT_EQ(host.memoryWrites, 0);
    EXPECT_FALSE(scheduler.scheduled().has_value());
}

TEST_F(NotchSchedulerTest, AFullScreenAppHoldsThePanelBackAMinuteAtATime)
{
    desktop.fullScreen = true;
    scheduler.request(NotchTrigger::check);
    clock.advance(0ms);
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(scheduledOrFail(), (NotchScheduler::Scheduled { on(10, 12, 1), NotchTrigger::manual, true }));
    clock.advance(10min);
    EXPECT_TRUE(shown.isEmpty());
    desktop.fullScreen = false;
    clock.advance(1min);
    EXPECT_EQ(shown, QList<bool> { true });
    EXPECT_EQ(clock.now(), on(10, 12, 11));
}

TEST_F(NotchSchedulerTest, APanelDueWhileTheAppIsInUseIsCountedAsShownInstead)
{
    scheduler.request(NotchTrigger::login);
    desktop.openWindows = { { u"Welcome to Corvanta"_s, true, false, true } };
    clock.advance(2min);
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(host.savedMemory.lastShown, on(10, 12, 2));
}

TEST_F(NotchSchedulerTest, AManualScheduleWithoutBusyRuleShowsAsAskedFor)
{
    scheduler.schedule(3s, NotchTrigger::manual, false);
    desktop.fullScreen = true;
    clock.advance(3s);
    EXPECT_EQ(shown, QList<bool> { false });
}

TEST_F(NotchSchedulerTest, ANewScheduleReplacesThePreviousOne)
{
    scheduler.schedule(1h, NotchTrigger::manual, false);
    scheduler.schedule(2h, NotchTrigger::manual, false);
    EXPECT_EQ(clock.pending(), 1);
    clock.advance(1h);
    EXPECT_TRUE(shown.isEmpty());
    clock.advance(1h);
    EXPECT_EQ(shown.size(), 1);
}

TEST_F(NotchSchedulerTest, SnoozingSavesTheEndAndResumesThen)
{
    clock.advance(6h + 45min); // 18:45
    scheduler.snooze(u"tonight"_s);
    EXPECT_EQ(host.savedMemory.snoozedUntil, on(10, 21, 45));
    EXPECT_EQ(scheduledOrFail(), (NotchScheduler::Scheduled { on(10, 21, 45), NotchTrigger::resume, false }));
    clock.advance(3h);
    EXPECT_EQ(shown, QList<bool> { true });
}

TEST_F(NotchSchedulerTest, PuttingOffTheSameSetThreeTimesAsksOnce)
{
    const QStringList keys { u"a@1"_s, u"b@2"_s };
    const QStringList reordered { u"b@2"_s, u"a@1"_s };
    EXPECT_FALSE(scheduler.dismissed(keys));
    EXPECT_FALSE(scheduler.dismissed(reordered));
    EXPECT_TRUE(scheduler.dismissed(keys));
    EXPECT_TRUE(host.savedMemory.askedToStop);
    EXPECT_EQ(host.savedMemory.dismissals, 3);
    EXPECT_FALSE(scheduler.dismissed(keys));
    EXPECT_EQ(host.savedMemory.dismissals, 4);

    EXPECT_FALSE(scheduler.dismissed({ u"c@3"_s }));
    EXPECT_EQ(host.savedMemory.dismissals, 1);
    EXPECT_EQ(host.savedMemory.dismissedKeys, QStringList { u"c@3"_s });
}

TEST_F(NotchSchedulerTest, AfterThreePutOffsOnlySomethingNewShows)
{
    const QStringList keys = host.pendingKeys();
    for (int time = 0; time < 3; ++time)
        scheduler.dismissed(keys);
    EXPECT_EQ(scheduler.request(NotchTrigger::check),
        NotchDecision { NotchDecision::Skip { u"waved off 3 times; waiting for something new"_s } });
    host.add(u"Beta"_s);
    EXPECT_EQ(scheduler.request(NotchTrigger::check), NotchDecision { NotchDecision::Show {} });
}

TEST_F(NotchSchedulerTest, WakingRequestsAfterHalfAMinute)
{
    host.savedMemory.lastShown = on(10, 3);
    scheduler.start();
    scheduler.start(); // idempotent
    ASSERT_EQ(desktop.wakeHandlers.size(), 1u);
    desktop.wake();
    EXPECT_EQ(scheduledOrFail(),
        (NotchScheduler::Scheduled { on(10, 12, 0).addSecs(30), NotchTrigger::manual, true }));

    host.savedMemory.lastShown = on(10, 5);
    scheduler.schedule(1h, NotchTrigger::check, false); // replaced by nothing: the wake below skips
    desktop.wake();
    EXPECT_EQ(scheduledOrFail().trigger, NotchTrigger::check);
}

struct UseRow {
    const char* name;
    bool touring;
    QList<Desktop::Window> windows;
    bool active;
    bool expected;
};

TEST(NotchSchedulerUse, AppInUse)
{
    const Desktop::Window main { u"Corvanta"_s, true, false, true };
    const Desktop::Window settings { u"Settings"_s, true, false, true };
    const std::vector<UseRow> rows {
        { "no windows", false, {}, true, false },
        { "the tour", true, {}, false, true },
        { "main window", false, { main }, false, true },
        { "welcome window", false, { { u"Welcome to Corvanta"_s, true, false, true } }, false, true },
        { "main window minimised", false, { { u"Corvanta"_s, true, true, true } }, true, false },
        { "main window hidden", false, { { u"Corvanta"_s, false, false, true } }, true, false },
        { "main window floating", false, { { u"Corvanta"_s, true, false, false } }, true, false },
        { "untitled window, active", false, { { QString(), true, false, true } }, true, false },
        { "settings, active", false, { settings }, true, true },
        { "settings, in the background", false, { settings }, false, false },
    };
    for (const UseRow& row : rows) {
        ManualClock clock(on(10, 12), berlin);
        FakeDesktop desktop;
        desktop.openWindows = row.windows;
        desktop.isActive = row.active;
        TestHost host;
        host.tour = row.touring;
        const NotchScheduler scheduler(host, desktop, clock);
        EXPECT_EQ(scheduler.appInUse(), row.expected) << row.name;
    }
}

} // namespace
