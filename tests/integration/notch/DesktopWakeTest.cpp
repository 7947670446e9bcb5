#include "integration/notch/PrivateBus.h"
#include "platform/linux/LinuxDesktop.h"
#include "support/Await.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The login manager and the screen savers announce on two buses; each here is a private one.
class DesktopWakeTest : public testing::Test {
protected:
    PrivateBus system;
    PrivateBus session;
    QDBusConnection desktopSystem = system.connect();
    QDBusConnection desktopSession = session.connect();
    LinuxDesktop desktop { desktopSystem, desktopSession };
    QDBusConnection systemSender = system.connect();
    QDBusConnection sessionSender = session.connect();
    int woke = 0;

    void SetUp() override
    {
        desktop.watchWake([this] { ++woke; });
        // A round trip on each listening connection: the daemon has its
        // subscriptions before anything is sent.
        desktopSystem.interface()->isServiceRegistered(u"org.freedesktop.DBus"_s);
        desktopSession.interface()->isServiceRegistered(u"org.freedesktop.DBus"_s);
    }

    static void emitSignal(
        QDBusConnection& bus, const QString& path, const QString& interface, const QString& name, bool value)
    {
        QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
        message << value;
        ASSERT_TRUE(bus.send(message));
    }

    // Waits for the count, then for every signal sent so far: a round trip
    // from each sender and then from each listener comes back only after the
    // daemon has passed on what was sent before it, so a signal that counted
    // when it shouldn't shows too.
    void settle(int expected)
    {
        EXPECT_TRUE(waitUntil([&] { return woke >= expected; }));
        for (QDBusConnection* bus : { &systemSender, &sessionSender, &desktopSystem, &desktopSession })
            bus->interface()->isServiceRegistered(u"org.freedesktop.DBus"_s);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(woke, expected);
    }
};

TEST_F(DesktopWakeTest, WakingFromSleepCounts)
{
    emitSignal(systemSender, u"/org/freedesktop/login1"_s, u"org.freedesktop.login1.Manager"_s,
        u"PrepareForSleep"_s, true); // going to sleep isn't coming back
    emitSignal(systemSender, u"/org/freedesktop/login1"_s, u"org.freedesktop.login1.Manager"_s,
        u"PrepareForSleep"_s, false);
    settle(1);
}

TEST_F(DesktopWakeTest, UnlockingTheScreenCountsWhicheverScreenSaverSaysSo)
{
    emitSignal(sessionSender, u"/org/freedesktop/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s,
        u"ActiveChanged"_s, true); // the screen locking
    emitSignal(sessionSender, u"/org/freedesktop/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s,
        u"ActiveChanged"_s, false);
    settle(1);
    emitSignal(sessionSender, u"/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s, u"ActiveChanged"_s, false);
    settle(2);
    emitSignal(
        sessionSender, u"/org/gnome/ScreenSaver"_s, u"org.gnome.ScreenSaver"_s, u"ActiveChanged"_s, false);
    settle(3);
}

TEST_F(DesktopWakeTest, WithoutAGuiThereAreNoScreensOrWindows)
{
    EXPECT_TRUE(desktop.screens().isEmpty());
    EXPECT_TRUE(desktop.windows().isEmpty());
    EXPECT_FALSE(desktop.active());
    EXPECT_FALSE(desktop.fullScreenAppInFront());
}

} // namespace
