#include "integration/model/StoreFixtures.h"
#include "notch/UpdateIsland.h"
#include "unit/notch/ManualClock.h"
#include "unit/notch/NotchFakes.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Sparkle apps on a loopback server, installed by the real installer from
// the notch panel: the panel's title and subtitle follow the real phases.
class PanelTest : public SparkleWorld {
protected:
    ManualClock clock { QDateTime(QDate(2026, 3, 10), QTime(12, 0)) };
    FakeDesktop desktop;

    void SetUp() override
    {
        SparkleWorld::SetUp();
        prefs->setQuietHours(false);
    }

    std::unique_ptr<Store> makeStore()
    {
        StoreServices services { net, codeSigning, host, *prefs };
        services.time = &clock;
        services.desktop = &desktop;
        services.revealInSlices = false;
        services.sleep = [](std::chrono::milliseconds) { return briefly(); };
        return std::make_unique<Store>(services, Launch(sandbox()));
    }
};

TEST_F(PanelTest, UpdateAllFromThePanelWithOneFailureAmongThree)
{
    offer(u"Alpha"_s);
    offer(u"Beta"_s, {}, true);
    offer(u"Gamma"_s);
    const auto store = makeStore();
    await(store->refresh(true, true));
    clock.advance(2min);
    UpdateIsland& island = store->island();
    IslandState* panel = island.state();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->title(), u"3 updates ready"_s);
    EXPECT_EQ(panel->subtitle(), u"Found in the background. Update now, or later from Corvanta."_s);

    QStringList titles;
    QObject::connect(panel, &IslandState::rowsChanged, panel, [&] {
        if (titles.isEmpty() || titles.last() != panel->title())
            titles << panel->title();
    });
    island.updateAll();
    ASSERT_TRUE(waitUntil([&] { return !store->updatingAll(); }, 60s));
    EXPECT_EQ(island.state(), panel); // the panel stayed and followed
    EXPECT_EQ(panel->title(), u"2 updated \u00B7 1 failed"_s);
    EXPECT_EQ(panel->subtitle(), u"Failed updates left the app untouched. Open Corvanta to see why."_s);
    ASSERT_FALSE(titles.isEmpty());
    EXPECT_EQ(titles.front(), u"3 left"_s);
    EXPECT_TRUE(titles.contains(u"1 updated \u00B7 2 left"_s)) << titles.join(u" | "_s).toStdString();
    EXPECT_TRUE(titles.contains(u"1 updated \u00B7 1 failed \u00B7 1 left"_s))
        << titles.join(u" | "_s).toStdString();

    // Done and left alone, it folds away.
    clock.advance(32s);
    EXPECT_EQ(island.state(), nullptr);
}

TEST_F(PanelTest, SkipTheseVersionsStopsThemCounting)
{
    offer(u"Alpha"_s);
    const auto store = makeStore();
    await(store->refresh(true, true));
    clock.advance(2min);
    ASSERT_NE(store->island().state(), nullptr);
    store->island().hold(UpdateIsland::HoldEntry::skipTheseVersions);
    EXPECT_EQ(store->island().state(), nullptr);
    EXPECT_EQ(prefs->ignoredVersions().value(u"com.example.alpha"_s), u"2.0"_s);
    EXPECT_EQ(store->count(Filter::updates), 0);
}

} // namespace
