#include "integration/notch/StoreWorld.h"

#include <QCoreApplication>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The check schedule over a real store; the notch is off so that the only
// timer is the schedule's own.
class ScheduleTest : public StoreWorld {
protected:
    void SetUp() override
    {
        StoreWorld::SetUp();
        prefs->setNotchMode(NotchMode::never);
        install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    }

    int checks() const { return server.count(u"/lookup"_s); }

    // The refresh a timer started runs on the event loop.
    void waitForRefresh(const Store& store, int expected)
    {
        ASSERT_TRUE(waitUntil([&] { return checks() >= expected && !store.scanning(); }));
        EXPECT_EQ(checks(), expected);
    }
};

TEST_F(ScheduleTest, ABackgroundRefreshEveryIntervalCountedFromTheEndOfTheLast)
{
    prefs->setIntervalHours(24);
    const auto store = makeStore();
    store->startSchedule();
    EXPECT_TRUE(store->scheduleRunning());
    clock.advance(23h + 59min);
    EXPECT_EQ(checks(), 0);
    clock.advance(1min);
    EXPECT_EQ(clock.pending(), 0); // no next sleep while the refresh runs
    waitForRefresh(*store, 1);
    ASSERT_TRUE(store->lastAnnouncement().has_value());
    EXPECT_TRUE(store->lastAnnouncement()->background);
    EXPECT_EQ(clock.pending(), 1);

    clock.advance(24h);
    waitForRefresh(*store, 2);
}

TEST_F(ScheduleTest, AnIntervalOfZeroNeverChecks)
{
    prefs->setIntervalHours(0);
    const auto store = makeStore();
    store->startSchedule();
    EXPECT_FALSE(store->scheduleRunning());
    EXPECT_EQ(clock.pending(), 0);
    clock.advance(1000h);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(clock.pending(), 0);
    EXPECT_EQ(checks(), 0);
}

TEST_F(ScheduleTest, ChangingTheIntervalRestartsTheSchedule)
{
    const auto store = makeStore();
    prefs->setIntervalHours(3); // not started yet: nothing runs
    EXPECT_EQ(clock.pending(), 0);

    store->startSchedule();
    clock.advance(2h);
    prefs->setIntervalHours(2); // counted afresh from now
    clock.advance(1h + 59min);
    EXPECT_EQ(checks(), 0);
    clock.advance(1min);
    waitForRefresh(*store, 1);

    prefs->setIntervalHours(0);
    EXPECT_FALSE(store->scheduleRunning());
    EXPECT_EQ(clock.pending(), 0);
}

TEST_F(ScheduleTest, ATickThatMeetsARunningRefreshDoesNothing)
{
    prefs->setIntervalHours(1);
    const auto store = makeStore();
    store->startSchedule();
    auto running = store->refresh(false, false);
    clock.advance(1h); // the scheduled refresh is dropped: one runs already
    await(std::move(running));
    EXPECT_EQ(checks(), 1);
    // The schedule carries on.
    EXPECT_EQ(clock.pending(), 1);
}

} // namespace
