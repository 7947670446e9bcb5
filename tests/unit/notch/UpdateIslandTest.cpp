#include "notch/UpdateIsland.h"

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
const QDateTime noon(QDate(2026, 3, 10), QTime(12, 0), berlin);

class UpdateIslandTest : public testing::Test {
protected:
    ManualClock clock { noon, berlin };
    FakeDesktop desktop;
    TestHost host;
    NotchScheduler scheduler { host, desktop, clock };
    std::unique_ptr<UpdateIsland> island;
    int presented = 0;
    int closed = 0;
    int openedMain = 0;

    void SetUp() override
    {
        host.add(u"Alpha"_s);
        host.add(u"Beta"_s);
        make({});
    }

    void make(UpdateIsland::Options options)
    {
        island = std::make_unique<UpdateIsland>(host, scheduler, desktop, clock, options);
        QObject::connect(island.get(), &UpdateIsland::presented, island.get(), [this] { ++presented; });
        QObject::connect(island.get(), &UpdateIsland::closed, island.get(), [this] { ++closed; });
        QObject::connect(island.get(), &UpdateIsland::openMainWindow, island.get(), [this] { ++openedMain; });
    }

    IslandState& up()
    {
        if (!island->state())
            throw std::runtime_error("no panel is up");
        return *island->state();
    }
};

TEST_F(UpdateIslandTest, PresentingRecordsTheShowing)
{
    island->show(true, false);
    ASSERT_NE(island->state(), nullptr);
    EXPECT_EQ(presented, 1);
    EXPECT_TRUE(island->automatic());
    EXPECT_TRUE(up().expanded());
    EXPECT_EQ(up().ids(), host.updateIds());
    EXPECT_EQ(up().notch(), UpdateIsland::pill);
    EXPECT_EQ(host.savedMemory.lastShown, noon);
    EXPECT_EQ(host.savedMemory.lastShownKeys,
        (QStringList { u"com.example.alpha@2.0"_s, u"com.example.beta@2.0"_s }));
}

TEST_F(UpdateIslandTest, ASecondShowChangesTheRowsOfThePanelThatIsUp)
{
    island->show(true, false);
    IslandState* first = island->state();
    int rowChanges = 0;
    QObject::connect(first, &IslandState::rowsChanged, first, [&] { ++rowChanges; });
    host.add(u"Gamma"_s);
    island->show(false, false);
    EXPECT_EQ(island->state(), first);
    EXPECT_EQ(presented, 1);
    EXPECT_EQ(first->ids().size(), 3);
    EXPECT_EQ(rowChanges, 1);
    EXPECT_EQ(first->title(), u"3 updates ready"_s);
}

TEST_F(UpdateIslandTest, NothingToShowShowsNothing)
{
    host.rows.clear();
    island->show(true, false);
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_FALSE(island->waiting());
    EXPECT_EQ(host.notifications, 0);
}

TEST_F(UpdateIslandTest, AnotherAppsPanelInTheNotchForTenMinutesMeansANotification)
{
    desktop.notchTaken = true;
    island->show(true, false);
    EXPECT_TRUE(island->waiting());
    island->show(true, false); // waiting counts as showing: no second wait
    EXPECT_EQ(desktop.looked.size(), 1);
    clock.advance(9min + 58s);
    EXPECT_TRUE(island->waiting());
    EXPECT_EQ(host.notifications, 0);
    clock.advance(1s); // the 600th look
    EXPECT_FALSE(island->waiting());
    EXPECT_EQ(desktop.looked.size(), UpdateIsland::notchLooks);
    EXPECT_EQ(host.notifications, 1);
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(clock.pending(), 0);
    // The area it watched: the pill at the top centre of the screen.
    const QRect screen = desktop.displays.front().frame;
    const QSize pill = UpdateIsland::pill.toSize();
    EXPECT_EQ(desktop.looked.front(),
        QRect(QPoint(screen.x() + (screen.width() - pill.width()) / 2, screen.y()), pill));
}

TEST_F(UpdateIslandTest, ANotchAreaThatFreesUpGetsThePanelWithTheUpdatesOfThatMoment)
{
    desktop.notchTaken = true;
    island->show(true, false);
    clock.advance(4s);
    host.add(u"Gamma"_s);
    desktop.notchTaken = false;
    clock.advance(1s);
    ASSERT_NE(island->state(), nullptr);
    EXPECT_EQ(up().ids().size(), 3);
    EXPECT_EQ(host.savedMemory.lastShown, noon.addSecs(5));
}

TEST_F(UpdateIslandTest, APreviewShowsTheTourTextAndLeavesTheMemoryAlone)
{
    island->show(false, true);
    ASSERT_NE(island->state(), nullptr);
    EXPECT_TRUE(up().preview());
    EXPECT_EQ(
        up().subtitle(), u"Tour preview: this is how updates arrive. The buttons work for real ones."_s);
    island->later();
    island->show(false, true);
    island->hold(UpdateIsland::HoldEntry::tonight);
    EXPECT_EQ(host.memoryWrites, 0);
    EXPECT_EQ(closed, 2);
}

TEST_F(UpdateIslandTest, TheScreenWithTheNotchComesFirst)
{
    const Desktop::Screen side { u"Side"_s, QRect(-1920, 0, 1920, 1080), QSize(), true, false };
    const Desktop::Screen builtIn { u"Built-in"_s, QRect(0, 0, 1512, 982), QSize(200, 38), false, true };
    desktop.displays = { side, builtIn };
    island->show(true, false);
    EXPECT_EQ(up().screen(), builtIn);
    EXPECT_EQ(up().notch(), QSizeF(200, 38));
    island->dismiss();

    make({ std::nullopt, true }); // --no-notch
    island->show(true, false);
    EXPECT_EQ(up().notch(), UpdateIsland::pill);
}

TEST_F(UpdateIslandTest, WithoutANotchThePointerThenThePrimaryScreenThenTheFirst)
{
    const Desktop::Screen a { u"A"_s, QRect(0, 0, 100, 100), QSize(), false, false };
    const Desktop::Screen b { u"B"_s, QRect(100, 0, 100, 100), QSize(), false, true };
    const Desktop::Screen c { u"C"_s, QRect(200, 0, 100, 100), QSize(), true, false };
    const std::vector<std::pair<QList<Desktop::Screen>, QString>> cases { { { a, b, c }, u"C"_s },
        { { a, b }, u"B"_s }, { { a }, u"A"_s } };
    for (const auto& [screens, expected] : cases) {
        desktop.displays = screens;
        island->show(true, false);
        ASSERT_NE(island->state(), nullptr);
        EXPECT_EQ(up().screen().name, expected);
        island->dismiss();
    }
}

TEST_F(UpdateIslandTest, WithNoScreenTheUpdatesComeAsANotification)
{
    desktop.displays.clear();
    island->show(true, false);
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(host.notifications, 1);
}

TEST_F(UpdateIslandTest, LeftAloneThePanelClosesAfterThirtySeconds)
{
    island->show(true, false);
    clock.advance(30s);
    EXPECT_NE(island->state(), nullptr); // more than 30 s, not 30 s
    clock.advance(2s);
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(clock.pending(), 0);
}

TEST_F(UpdateIslandTest, HoveringKeepsItOpen)
{
    island->show(true, false);
    clock.advance(10s);
    island->setHovering(true);
    clock.advance(1h);
    EXPECT_NE(island->state(), nullptr);
    island->setHovering(false); // leaving touches it too
    clock.advance(30s);
    EXPECT_NE(island->state(), nullptr);
    clock.advance(2s);
    EXPECT_EQ(island->state(), nullptr);
}

TEST_F(UpdateIslandTest, WhatKeepsThePanelUp)
{
    struct Keep {
        const char* name;
        std::function<void(TestHost&, IslandState&)> set;
    };
    const std::vector<Keep> cases {
        { "an app in the queue",
            [](TestHost& h, IslandState&) { h.at(u"Beta"_s).phase = InstallPhase::queued(); } },
        { "an app downloading",
            [](TestHost& h, IslandState&) { h.at(u"Alpha"_s).phase = InstallPhase::downloading(0.4); } },
        { "Update All running", [](TestHost& h, IslandState&) { h.runningAll = true; } },
        { "the question", [](TestHost&, IslandState& s) { s.setAskingToStop(true); } },
    };
    for (const Keep& keep : cases) {
        host.at(u"Alpha"_s).phase = {};
        host.at(u"Beta"_s).phase = {};
        host.runningAll = false;
        island->show(true, false);
        ASSERT_NE(island->state(), nullptr) << keep.name;
        keep.set(host, up());
        clock.advance(10min);
        EXPECT_NE(island->state(), nullptr) << keep.name;
        island->dismiss();
    }
    // A finished or failed update doesn't keep it.
    host.at(u"Alpha"_s).phase = InstallPhase::done();
    host.at(u"Beta"_s).phase = InstallPhase::failed(u"No."_s);
    host.runningAll = false;
    island->show(true, false);
    clock.advance(32s);
    EXPECT_EQ(island->state(), nullptr);
}

TEST_F(UpdateIslandTest, TheIdleOptionReplacesThirtySeconds)
{
    make({ 5s, false });
    island->show(true, false);
    clock.advance(4s);
    EXPECT_NE(island->state(), nullptr);
    clock.advance(2s);
    EXPECT_EQ(island->state(), nullptr);
}

TEST_F(UpdateIslandTest, LaterPutsOffAndTheThirdTimeAsks)
{
    for (int time = 1; time <= 2; ++time) {
        island->show(true, false);
        island->later();
        EXPECT_EQ(island->state(), nullptr) << time;
    }
    island->show(true, false);
    island->later();
    ASSERT_NE(island->state(), nullptr);
    EXPECT_TRUE(up().askingToStop());
    island->keepShowing();
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(host.notchMode, NotchMode::smart);
}

TEST_F(UpdateIslandTest, OnlyTheMenuBarTurnsTheNotchOff)
{
    host.savedMemory.dismissals = 2;
    host.savedMemory.dismissedKeys = host.pendingKeys();
    island->show(true, false);
    island->later();
    ASSERT_TRUE(up().askingToStop());
    island->onlyMenuBar();
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(host.notchMode, NotchMode::never);
}

TEST_F(UpdateIslandTest, DismissClosesWithoutAPutOff)
{
    island->show(true, false);
    const int writes = host.memoryWrites;
    island->dismiss();
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(host.memoryWrites, writes);
    EXPECT_EQ(host.savedMemory.dismissals, 0);
}

TEST_F(UpdateIslandTest, TheHoldMenu)
{
    QStringList titles;
    for (const UpdateIsland::HoldItem& item : UpdateIsland::holdMenu())
        titles << item.title;
    EXPECT_EQ(titles,
        (QStringList { u"In 1 Hour"_s, u"Tonight"_s, u"Tomorrow"_s, u"Next Week"_s, u"Skip These Versions"_s,
            u"Don't Show from the Notch"_s }));

    const std::vector<std::pair<UpdateIsland::HoldEntry, QDateTime>> snoozes {
        { UpdateIsland::HoldEntry::inOneHour, noon.addSecs(3600) },
        { UpdateIsland::HoldEntry::tonight, QDateTime(noon.date(), QTime(19, 0), berlin) },
        { UpdateIsland::HoldEntry::tomorrow, QDateTime(noon.date().addDays(1), QTime(9, 0), berlin) },
        { UpdateIsland::HoldEntry::nextWeek, QDateTime(noon.date().addDays(7), QTime(9, 0), berlin) },
    };
    for (const auto& [entry, until] : snoozes) {
        island->show(true, false);
        island->hold(entry);
        EXPECT_EQ(island->state(), nullptr);
        EXPECT_EQ(host.savedMemory.snoozedUntil, until);
        EXPECT_EQ(scheduler.scheduled()->at, until);
    }

    const QStringList ids = host.updateIds();
    island->show(true, false);
    island->hold(UpdateIsland::HoldEntry::skipTheseVersions);
    EXPECT_EQ(host.skipped, QList<QStringList> { ids });
    EXPECT_EQ(island->state(), nullptr);

    island->show(true, false);
    island->hold(UpdateIsland::HoldEntry::dontShowFromNotch);
    EXPECT_EQ(host.notchMode, NotchMode::never);
    EXPECT_EQ(island->state(), nullptr);
}

TEST_F(UpdateIslandTest, UpdateAllKeepsThePanelAndOpenClosesItIntoTheWindow)
{
    island->show(true, false);
    island->updateAll();
    EXPECT_EQ(host.updated, QList<QStringList> { host.updateIds() });
    EXPECT_NE(island->state(), nullptr);
    island->openCorvanta();
    EXPECT_EQ(island->state(), nullptr);
    EXPECT_EQ(openedMain, 1);
}

TEST_F(UpdateIslandTest, ThePanelGivesWayWhenTheUserComesIntoTheApp)
{
    island->show(true, false);
    desktop.isActive = true;
    island->appBecameActive(); // no window of ours yet: not in use
    EXPECT_NE(island->state(), nullptr);
    desktop.openWindows = { { u"Corvanta"_s, true, false, true } };
    island->appBecameActive();
    EXPECT_EQ(island->state(), nullptr);
}

TEST_F(UpdateIslandTest, TheSchedulerDropsThePanel)
{
    scheduler.request(NotchTrigger::login);
    clock.advance(2min);
    ASSERT_NE(island->state(), nullptr);
    EXPECT_TRUE(island->automatic());
    island->detach();
    EXPECT_EQ(island->state(), nullptr);
}

} // namespace
