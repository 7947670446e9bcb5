#include "views/text/StatusItem.h"

#include "integration/notch/StoreWorld.h"
#include "notch/UpdateIsland.h"

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

using Change = StatusItem::Change;
using Click = StatusItem::Click;

class StatusItemTest : public StoreWorld { };

TEST_F(StatusItemTest, TheIconFollowsTheCountAndThePreference)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    install(u"Beta"_s, u"2.0"_s, u"2.1"_s);
    const auto store = makeStore();
    StatusItem item(*store);
    QList<Change> changes;
    item.start([&](const Change& change) { changes << change; });
    await(store->refresh(false, false));
    QCoreApplication::processEvents();
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.front(), (Change { true, false, 0 }));
    EXPECT_EQ(changes.back().count, 2);
    EXPECT_EQ(item.shownCount(), 2);

    prefs->setShowMenuBar(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.back(), (Change { false, true, std::nullopt }));
    prefs->setShowMenuBar(true); // back at once, with the current count
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.back(), (Change { true, false, 2 }));

    prefs->setHideAppStore(true); // these are App Store apps
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.back(), (Change { false, false, 0 }));
}

TEST_F(StatusItemTest, LeftClicksOpenAndCloseThePanelOrLeaveTheWindowToTheTray)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    const auto store = makeStore();
    StatusItem item(*store);
    EXPECT_EQ(item.clicked(StatusItem::Button::left), Click::openMainWindow); // nothing checked yet
    await(store->refresh(false, false));

    EXPECT_EQ(item.clicked(StatusItem::Button::left), Click::openedPanel);
    ASSERT_NE(store->island().state(), nullptr);
    EXPECT_FALSE(store->island().automatic());
    EXPECT_EQ(item.clicked(StatusItem::Button::right), Click::menu);
    EXPECT_NE(store->island().state(), nullptr);
    EXPECT_EQ(item.clicked(StatusItem::Button::left), Click::closedPanel);
    EXPECT_EQ(store->island().state(), nullptr);
}

TEST_F(StatusItemTest, CheckNowIsNeverAnnounced)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    const auto store = makeStore();
    StatusItem item(*store);
    item.checkNow();
    ASSERT_TRUE(waitUntil([&] { return store->lastAnnouncement().has_value(); }));
    EXPECT_FALSE(store->lastAnnouncement()->background);
    EXPECT_EQ(store->lastAnnouncement()->channel, Store::Announcement::Channel::none);
}

} // namespace
