#include "integration/notch/NotificationServer.h"
#include "integration/notch/PrivateBus.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/Program.h"
#include "support/TestServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// `corvanta check --background`: a scheduled-style refresh from the command
// line, over App Store apps and a loopback App Store, with the session bus
// pointed at a private daemon that plays the notification server.
class CheckBackground : public testing::Test {
protected:
    QTemporaryDir root;
    TestServer server;
    PrivateBus bus;
    NotificationServer notifications;

    void SetUp() override
    {
        ASSERT_TRUE(notifications.registerOn(bus.connect()));
        server.on(u"/api/cask.json"_s, Response::json("[]"));
        server.onPrefix(u"/lookup"_s, [](const RecordedRequest& request) {
            const bool alpha = request.query.queryItemValue(u"bundleId"_s) == u"com.example.alpha";
            return Response::json(alpha ? R"({"results":[{"bundleId":"com.example.alpha","version":"1.1"}]})"
                                        : R"({"results":[]})");
        });
        BundleBuilder(apps(), u"Alpha"_s)
            .bundleID(u"com.example.alpha"_s)
            .version(u"1.0"_s)
            .appStoreReceipt()
            .create();
    }

    // The user's own Applications folder, HOME being the test's folder.
    QString apps() const { return root.filePath(u"Applications"_s); }

    QByteArray run(QStringList arguments)
    {
        arguments.prepend(u"check"_s);
        arguments << u"--mock"_s << server.url().toString();
        QProcessEnvironment environment = programEnvironment(root.path());
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
        const ProgramRun ran = runProgram(arguments, environment, std::chrono::seconds(60));
        EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
        return ran.out.toUtf8();
    }

    void setNotchMode(const char* mode)
    {
        QDir().mkpath(root.filePath(u"config/brenmoral.com"_s));
        QFile settings(root.filePath(u"config/brenmoral.com/corvanta.conf"_s));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(QByteArray("[General]\nnotchMode=") + mode + "\n");
    }
};

TEST_F(CheckBackground, ReportsWhatItAnnouncesThroughTheNotch)
{
    const QJsonObject document
        = QJsonDocument::fromJson(run({ u"--background"_s, u"--sandbox"_s, apps(), u"--json"_s })).object();
    const QJsonObject announced = document[u"announcement"_s].toObject();
    EXPECT_EQ(announced[u"channel"_s].toString(), u"notch"_s);
    EXPECT_EQ(announced[u"trigger"_s].toString(), u"check"_s);
    EXPECT_EQ(announced[u"decision"_s][u"kind"_s].toString(), u"show"_s);
    EXPECT_EQ(announced[u"keys"_s].toArray(), QJsonArray { u"com.example.alpha@1.1"_s });
    EXPECT_TRUE(notifications.received.isEmpty());
}

TEST_F(CheckBackground, WithTheNotchOffItPostsTheNotificationOnce)
{
    setNotchMode("never");
    const QString first = QString::fromUtf8(run({ u"--background"_s }));
    EXPECT_TRUE(first.contains(
        u"Channel: notification \u201cAlpha has an update\u201d: Open Corvanta to install it.\n"_s))
        << first.toStdString();
    ASSERT_EQ(notifications.received.size(), 1);
    EXPECT_EQ(notifications.received[0].appName, u"Corvanta"_s);
    EXPECT_EQ(notifications.received[0].summary, u"Alpha has an update"_s);

    // Remembered as announced: the next scheduled-style check has nothing new.
    const QString second = QString::fromUtf8(run({ u"--background"_s }));
    EXPECT_TRUE(second.contains(u"Background announcement: nothing new.\n"_s)) << second.toStdString();
    EXPECT_EQ(notifications.received.size(), 1);
}

} // namespace
