#pragma once

#include "integration/model/StoreFixtures.h"
#include "integration/notch/NotificationServer.h"
#include "integration/notch/PrivateBus.h"
#include "platform/linux/DbusNotifier.h"
#include "unit/notch/ManualClock.h"
#include "unit/notch/NotchFakes.h"

namespace corvanta::test {

// A Store over a folder of App Store apps, a loopback App Store answering
// each bundle identifier with a scripted version, a clock the test moves, a
// desktop with one screen, and a notification server on a private bus.
class StoreWorld : public AppStoreWorld {
protected:
    static inline const QTimeZone zone { "Europe/Berlin" };

    ManualClock clock { QDateTime(QDate(2026, 3, 10), QTime(12, 0), zone), zone };
    FakeDesktop desktop;
    PrivateBus bus;
    NotificationServer notifications;
    std::unique_ptr<DbusNotifier> notifier;
    std::unique_ptr<HomeFolder> home;

    void SetUp() override
    {
        AppStoreWorld::SetUp();
        prefs->setQuietHours(false);
        ASSERT_TRUE(notifications.registerOn(bus.connect()));
        notifier = std::make_unique<DbusNotifier>(bus.connect());
    }

    // Installs `name` at `version`, and has the App Store list `offered`.
    void install(const QString& name, const QString& version, const QString& offered)
    {
        AppStoreWorld::install(name, version, {}, offered);
    }

    std::unique_ptr<Store> makeStore(bool sandboxed = true, QStringList more = {})
    {
        StoreServices services { net, codeSigning, host, *prefs };
        services.time = &clock;
        services.clock = [this] { return clock.now(); };
        services.notifier = notifier.get();
        services.desktop = &desktop;
        services.revealInSlices = false;
        QStringList arguments { QStringLiteral("--mock"), server.url().toString() };
        if (sandboxed)
            arguments << QStringLiteral("--sandbox") << apps();
        else
            home = std::make_unique<HomeFolder>(root.path()); // ~/Applications is apps()
        arguments << more;
        return std::make_unique<Store>(services, Launch(arguments));
    }

    const Store::Announcement& announced(const Store& store)
    {
        static const Store::Announcement none;
        if (!store.lastAnnouncement()) {
            ADD_FAILURE() << "nothing was announced";
            return none;
        }
        return *store.lastAnnouncement();
    }
};

} // namespace corvanta::test
