#pragma once

#include "integration/notch/NotificationServer.h"
#include "integration/notch/PrivateBus.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "platform/CodeSigning.h"
#include "platform/HostInfo.h"
#include "platform/linux/DbusNotifier.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/TestServer.h"
#include "support/Unsigned.h"
#include "unit/notch/ManualClock.h"
#include "unit/notch/NotchFakes.h"

#include <map>
#include <memory>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvanta::test {

// A Store over a folder of App Store apps, a loopback App Store answering
// each bundle identifier with a scripted version, a clock the test moves, a
// desktop with one screen, and a notification server on a private bus.
class StoreWorld : public testing::Test {
protected:
    // Points HOME at the test's folder while it lives, so that an unsandboxed
    // store reads the test's Applications folder as the user's own.
    class HomeFolder {
    public:
        explicit HomeFolder(const QString& path)
            : m_saved(qgetenv("HOME"))
        {
            qputenv("HOME", QFile::encodeName(path));
        }
        ~HomeFolder() { qputenv("HOME", m_saved); }
        HomeFolder(const HomeFolder&) = delete;
        HomeFolder& operator=(const HomeFolder&) = delete;

    private:
        QByteArray m_saved;
    };

    static inline const QTimeZone zone { "Europe/Berlin" };

    QTemporaryDir root;
    TestServer server;
    Net net;
    test::Unsigned codeSigning;
    FixedHostInfo host { { 15, 0, 0 }, true };
    std::unique_ptr<Prefs> prefs;
    std::map<QString, QString> storeVersions; // bundle id → version the store lists
    ManualClock clock { QDateTime(QDate(2026, 3, 10), QTime(12, 0), zone), zone };
    FakeDesktop desktop;
    PrivateBus bus;
    NotificationServer notifications;
    std::unique_ptr<DbusNotifier> notifier;
    std::unique_ptr<HomeFolder> home;

    QString apps() const { return root.filePath(QStringLiteral("Applications")); }

    void SetUp() override
    {
        QDir().mkpath(apps());
        prefs = std::make_unique<Prefs>(
            std::make_unique<QSettings>(root.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat),
            Launch());
        prefs->setQuietHours(false);
        server.on(QStringLiteral("/api/cask.json"), Response::json("[]"));
        server.onPrefix(QStringLiteral("/lookup"), [this](const RecordedRequest& request) {
            const QString id = request.query.queryItemValue(QStringLiteral("bundleId"));
            QJsonArray results;
            if (storeVersions.count(id))
                results.append(QJsonObject {
                    { QStringLiteral("bundleId"), id }, { QStringLiteral("version"), storeVersions[id] } });
            return Response::json(
                QJsonDocument(QJsonObject { { QStringLiteral("results"), results } }).toJson());
        });
        ASSERT_TRUE(notifications.registerOn(bus.connect()));
        notifier = std::make_unique<DbusNotifier>(bus.connect());
    }

    // Installs `name` at `version`, and has the App Store list `offered`.
    void install(const QString& name, const QString& version, const QString& offered)
    {
        const QString id = QStringLiteral("com.example.") + name.toLower();
        QDir(QDir(apps()).filePath(name + QStringLiteral(".app"))).removeRecursively();
        BundleBuilder(apps(), name).bundleID(id).version(version).appStoreReceipt().create();
        storeVersions[id] = offered;
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
