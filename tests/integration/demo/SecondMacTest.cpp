#include "ServedWorld.h"
#include "account/Session.h"
#include "app/DemoSecondMac.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"
#include "model/LibraryItem.h"
#include "model/Store.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <map>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::demo;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The documents of one of the user's collections, by id, read past the rules.
std::map<QString, QJsonObject> collection(const QString& host, const QString& path)
{
    QNetworkAccessManager http;
    QNetworkRequest request(QUrl(
        u"http://%1/v1/projects/demo-test/databases/(default)/documents/%2?pageSize=300"_s.arg(host, path)));
    request.setRawHeader("Authorization", "Bearer owner");
    request.setTransferTimeout(20'000);
    QNetworkReply* reply = http.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    reply->deleteLater();
    std::map<QString, QJsonObject> documents;
    for (const QJsonValue& document : QJsonDocument::fromJson(reply->readAll())[u"documents"_s].toArray())
        documents[document[u"name"_s].toString().section(u'/', -1)] = document[u"fields"_s].toObject();
    return documents;
}

// The map value of a Firestore field, as its fields.
QJsonObject mapField(const QJsonObject& fields, const QString& name)
{
    return fields[name][u"mapValue"_s][u"fields"_s].toObject();
}

bool refusesConnections(const QString& host)
{
    QTcpSocket socket;
    socket.connectToHost(host.section(u':', 0, 0), quint16(host.section(u':', 1).toUInt()));
    return !socket.waitForConnected(5'000);
}

TEST(SecondMac, GetsTheLibraryBackAsTheWorldExpectsAndLeavesNothingRunning)
{
    if (const std::optional<QString> reason = SecondMac::unavailable())
        GTEST_SKIP() << reason->toStdString();
    ServedWorld world;
    QString printed;
    QTextStream out(&printed);
    SecondMac act(out,
        { world.layout, world.server->base(), world.manifest.macOS, world.manifest.appleSilicon,
            QStringLiteral(CORVANTA_BINARY), {} });
    ASSERT_TRUE(await(act.run(), std::chrono::minutes(5))) << printed.toStdString();
    const Store& mac = act.secondMac();

    std::map<QString, QString> expectedOnDisk; // bundle file name: version
    std::map<QString, const SampleApp*> listed;
    int forTheUser = 0;
    for (const SampleApp& app : world.manifest.apps) {
        if (!app.restore)
            continue;
        listed[app.bundleID] = &app;
        if (app.restore->outcome == ExpectedRestore::Outcome::installed)
            expectedOnDisk[app.path.section(u'/', -1)] = *app.restore->version;
        forTheUser += app.restore->outcome == ExpectedRestore::Outcome::appStore
                || app.restore->outcome == ExpectedRestore::Outcome::manual
            ? 1
            : 0;
    }

    // The whole Applications folder of the second Mac.
    const codesign::PortableCodeSigning codeSigning(
        codesign::TrustAnchors::fromFolder(world.layout.anchors()));
    std::map<QString, QString> onDisk;
    for (const InstalledApp& app : Scanner::scan({ QUrl::fromLocalFile(act.applications()) }, codeSigning))
        onDisk[app.url.fileName()] = app.version.value_or(QString());
    EXPECT_EQ(onDisk, expectedOnDisk);

    ASSERT_EQ(mac.library().size(), listed.size()) << printed.toStdString();
    for (const LibraryItem* item : mac.library()) {
        SCOPED_TRACE(item->id().toStdString());
        ASSERT_TRUE(listed.count(item->id()));
        const ExpectedRestore& expected = *listed[item->id()]->restore;
        ASSERT_TRUE(item->route());
        switch (expected.outcome) {
        case ExpectedRestore::Outcome::installed:
            EXPECT_EQ(item->phase().kind, InstallPhase::Kind::done)
                << item->note().value_or(QString()).toStdString();
            EXPECT_EQ(item->team(), expected.team);
            break;
        case ExpectedRestore::Outcome::refused:
            EXPECT_EQ(item->phase().kind, InstallPhase::Kind::failed);
            EXPECT_EQ(item->note(), expected.text);
            break;
        case ExpectedRestore::Outcome::appStore:
            EXPECT_TRUE(item->route()->store());
            EXPECT_EQ(item->phase().kind, InstallPhase::Kind::idle);
            break;
        case ExpectedRestore::Outcome::manual:
            ASSERT_TRUE(item->route()->manual());
            EXPECT_EQ(item->route()->manual()->reason, *expected.text);
            EXPECT_EQ(item->phase().kind, InstallPhase::Kind::idle);
            break;
        }
    }
    EXPECT_EQ(mac.notice(),
        u"%1 apps need installing from the App Store or its website. See Get It Yourself."_s.arg(forTheUser));

    // The library after the restore's own sync: both Macs, and the second
    // one listing exactly what it installed, at those versions.
    const QString firestore = act.emulators().firestore().host();
    const QString user = u"users/"_s + mac.session()->uid;
    const std::map<QString, QJsonObject> devices = collection(firestore, user + u"/devices"_s);
    EXPECT_TRUE(devices.count(SecondMac::firstDevice) && devices.count(SecondMac::secondDevice));
    const std::map<QString, QJsonObject> apps = collection(firestore, user + u"/apps"_s);
    EXPECT_EQ(apps.size(), listed.size());
    for (const auto& [id, sample] : listed) {
        SCOPED_TRACE(id.toStdString());
        const QJsonObject onSecond = mapField(
            mapField(apps.count(id) ? apps.at(id) : QJsonObject(), u"devices"_s), SecondMac::secondDevice);
        const bool installed = sample->restore->outcome == ExpectedRestore::Outcome::installed;
        EXPECT_EQ(onSecond[u"installed"_s][u"booleanValue"_s].toBool(), installed);
        if (installed) {
            EXPECT_EQ(onSecond[u"version"_s][u"stringValue"_s].toString(), *sample->restore->version);
        }
    }

    const QStringList hosts { act.emulators().authentication().host(), firestore };
    act.finish();
    for (const QString& host : hosts)
        EXPECT_TRUE(refusesConnections(host)) << host.toStdString() << " still answers";
}

} // namespace
