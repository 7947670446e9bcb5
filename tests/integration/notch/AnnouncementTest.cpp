#include "integration/notch/StoreWorld.h"
#include "notch/NotchScheduler.h"
#include "notch/UpdateIsland.h"

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using Channel = Store::Announcement::Channel;

class AnnouncementTest : public StoreWorld { };

TEST_F(AnnouncementTest, AScheduledRefreshAnnouncesAnUpdateOnceAndTheNextVersionAgain)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    const auto store = makeStore();
    await(store->refresh(true, false));
    EXPECT_EQ(announced(*store).keys, QStringList { u"com.example.alpha@1.1"_s });
    EXPECT_EQ(announced(*store).names, QStringList { u"Alpha"_s });
    EXPECT_EQ(announced(*store).channel, Channel::notch);
    EXPECT_EQ(announced(*store).trigger, NotchTrigger::check);
    EXPECT_EQ(announced(*store).decision, NotchDecision { NotchDecision::Show {} });
    EXPECT_EQ(prefs->notified(), QStringList { u"com.example.alpha@1.1"_s });

    await(store->refresh(true, false));
    EXPECT_TRUE(announced(*store).keys.isEmpty());
    EXPECT_EQ(announced(*store).channel, Channel::none);

    // Installed: forgotten. A newer version then is news again.
    install(u"Alpha"_s, u"1.1"_s, u"1.1"_s);
    await(store->refresh(true, false));
    EXPECT_TRUE(prefs->notified().isEmpty());
    storeVersions[u"com.example.alpha"_s] = u"1.2"_s;
    await(store->refresh(true, false));
    EXPECT_EQ(announced(*store).keys, QStringList { u"com.example.alpha@1.2"_s });
    EXPECT_EQ(announced(*store).channel, Channel::notch);
}

TEST_F(AnnouncementTest, AnUpdateFoundByCheckNowIsRememberedButNeverAnnounced)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    EXPECT_EQ(announced(*store).channel, Channel::none);
    EXPECT_EQ(prefs->notified(), QStringList { u"com.example.alpha@1.1"_s });

    await(store->refresh(true, false));
    EXPECT_TRUE(announced(*store).keys.isEmpty());
    EXPECT_EQ(announced(*store).channel, Channel::none);
    EXPECT_FALSE(store->notchScheduler().scheduled().has_value());
}

TEST_F(AnnouncementTest, ALoginAnnouncesEverythingAndThePanelDropsTwoMinutesLater)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    install(u"Beta"_s, u"2.0"_s, u"2.0"_s);
    const auto store = makeStore();
    await(store->refresh(false, false)); // already notified
    await(store->refresh(true, true));
    EXPECT_EQ(announced(*store).keys, QStringList { u"com.example.alpha@1.1"_s });
    EXPECT_EQ(announced(*store).trigger, NotchTrigger::login);

    clock.advance(119s);
    EXPECT_EQ(store->island().state(), nullptr);
    clock.advance(1s);
    const IslandState* panel = store->island().state();
    ASSERT_NE(panel, nullptr);
    ASSERT_EQ(panel->rows().size(), 1);
    const IslandRow row = panel->rows().front();
    EXPECT_EQ(row.name, u"Alpha"_s);
    EXPECT_EQ(row.installedVersion, u"1.0"_s);
    EXPECT_EQ(row.newVersion, u"1.1"_s);
    EXPECT_EQ(row.source, u"Mac App Store"_s);
    EXPECT_EQ(row.id, QDir(apps()).filePath(u"Alpha.app"_s));
    EXPECT_EQ(panel->title(), u"1 update ready"_s);
    EXPECT_EQ(prefs->notchMemory().lastShown, clock.now());
    EXPECT_EQ(prefs->notchMemory().lastShownKeys, QStringList { u"com.example.alpha@1.1"_s });
}

TEST_F(AnnouncementTest, WithTheNotchOffTwoNewUpdatesMakeOneNotification)
{
    prefs->setNotchMode(NotchMode::never);
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    install(u"Beta"_s, u"2.0"_s, u"2.1"_s);
    const auto store = makeStore(false);
    await(store->refresh(true, false));
    await(store->notificationsPosted());
    EXPECT_EQ(announced(*store).channel, Channel::notification);
    ASSERT_EQ(notifications.received.size(), 1);
    EXPECT_EQ(notifications.received[0].appName, u"Corvanta"_s);
    EXPECT_EQ(notifications.received[0].summary, u"2 app updates available"_s);
    EXPECT_EQ(notifications.received[0].body, u"Alpha, Beta"_s);

    // The next finding replaces that notification, naming only what is new.
    install(u"Gamma"_s, u"3.0"_s, u"3.1"_s);
    await(store->refresh(true, false));
    await(store->notificationsPosted());
    ASSERT_EQ(notifications.received.size(), 2);
    EXPECT_EQ(notifications.received[1].summary, u"Gamma has an update"_s);
    EXPECT_EQ(notifications.received[1].body, u"Open Corvanta to install it."_s);
    EXPECT_EQ(notifications.received[1].replacesId, notifications.received[0].id);
    EXPECT_FALSE(store->notchScheduler().scheduled().has_value());
}

TEST_F(AnnouncementTest, ASandboxPostsNothing)
{
    prefs->setNotchMode(NotchMode::never);
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    const auto store = makeStore(true);
    await(store->refresh(true, false));
    await(store->notificationsPosted());
    EXPECT_EQ(announced(*store).channel, Channel::notification);
    EXPECT_TRUE(notifications.received.isEmpty());
    EXPECT_EQ(notifications.pings, 0);
}

TEST_F(AnnouncementTest, HiddenAppStoreAppsAreNotAnnounced)
{
    prefs->setHideAppStore(true);
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    const auto store = makeStore();
    await(store->refresh(true, true));
    EXPECT_TRUE(announced(*store).keys.isEmpty());
    EXPECT_TRUE(prefs->notified().isEmpty());
}

TEST_F(AnnouncementTest, ThePanelFallsBackToTheNotificationWhenTheNotchStaysTaken)
{
    install(u"Alpha"_s, u"1.0"_s, u"1.1"_s);
    desktop.notchTaken = true;
    const auto store = makeStore(false, { u"--notch-delay"_s, u"0"_s });
    await(store->refresh(true, true));
    clock.advance(11min);
    await(store->notificationsPosted());
    EXPECT_EQ(store->island().state(), nullptr);
    ASSERT_EQ(notifications.received.size(), 1);
    EXPECT_EQ(notifications.received[0].summary, u"Alpha has an update"_s);
}

TEST_F(AnnouncementTest, NotificationTexts)
{
    EXPECT_EQ(Store::notificationText({ u"Alpha"_s }),
        std::make_pair(u"Alpha has an update"_s, u"Open Corvanta to install it."_s));
    EXPECT_EQ(Store::notificationText({ u"Alpha"_s, u"Beta"_s, u"Gamma"_s }),
        std::make_pair(u"3 app updates available"_s, u"Alpha, Beta, Gamma"_s));
}

} // namespace
