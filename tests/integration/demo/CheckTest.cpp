#include "ServedWorld.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::demo;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// `corvanta check --sandbox <world>/Applications --mock <server>` on a served
// world, run as a user would run it, held against the world's manifest.
class DemoCheck : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        world = new ServedWorld();
        QObject::connect(world->server.get(), &DemoServer::served, world->server.get(),
            [](const QString& method, const QString& target, int status) {
                served->append(method + u' ' + target + u' ' + QString::number(status));
            });
        const QJsonObject document = check();
        report = new QJsonArray(document[u"apps"_s].toArray());
        hero = new QJsonObject(document[u"hero"_s].toObject());
        firstRun = new QStringList(*served);
        served->clear();
    }

    static void TearDownTestSuite()
    {
        delete report;
        delete hero;
        delete firstRun;
        delete world;
        report = nullptr;
        firstRun = nullptr;
        world = nullptr;
        served->clear();
    }

    // The Mac the expectations are written for, whatever this machine is.
    static QJsonObject check()
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, world->folder.path());
        environment.insert(u"XDG_CONFIG_HOME"_s, world->folder.filePath(u"config"_s));
        environment.insert(u"LANG"_s, u"en_US.UTF-8"_s);
        environment.insert(u"LC_ALL"_s, u"en_US.UTF-8"_s);
        environment.insert(u"CORVANTA_MACOS_VERSION"_s, world->manifest.macOS.text());
        environment.insert(u"CORVANTA_APPLE_SILICON"_s, world->manifest.appleSilicon ? u"1"_s : u"0"_s);
        environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(CORVANTA_BINARY),
            { u"check"_s, u"--sandbox"_s, world->layout.applications(), u"--mock"_s,
                world->server->base().toString(), u"--json"_s });
        EXPECT_TRUE(
            waitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(120)));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const QJsonDocument document = QJsonDocument::fromJson(process.readAllStandardOutput());
        EXPECT_TRUE(document.isObject());
        return document.object();
    }

    static QJsonObject checked(const QString& bundleID)
    {
        for (const QJsonValue& entry : *report) {
            if (entry[u"bundleID"_s].toString() == bundleID)
                return entry.toObject();
        }
        return {};
    }

    static ServedWorld* world;
    static QJsonArray* report;
    static inline QJsonObject* hero = nullptr;
    static inline QStringList* served = new QStringList; // what the server answered, one line each
    static inline QStringList* firstRun = nullptr; // the same for the first check
};

ServedWorld* DemoCheck::world = nullptr;
QJsonArray* DemoCheck::report = nullptr;

TEST_F(DemoCheck, EveryAppGetsTheStatusTheManifestExpects)
{
    ASSERT_EQ(report->size(), qsizetype(world->manifest.apps.size()));
    const auto updates = std::count_if(world->manifest.apps.begin(), world->manifest.apps.end(),
        [](const SampleApp& app) { return app.check.status == u"update"; });
    EXPECT_EQ((*hero)[u"headline"_s].toString(), u"%1 updates ready"_s.arg(updates));
    for (const SampleApp& app : world->manifest.apps) {
        SCOPED_TRACE(app.name.toStdString());
        const QJsonObject entry = checked(app.bundleID);
        ASSERT_FALSE(entry.isEmpty());
        EXPECT_EQ(entry[u"path"_s].toString(), world->layout.applications() + u'/' + app.path);
        EXPECT_EQ(entry[u"status"_s].toString(), app.check.status);
        const QString title = app.check.status == u"update" ? u"Update available"_s
            : app.check.status == u"upToDate"               ? u"Up to date"_s
                                                            : u"Can't verify"_s;
        EXPECT_EQ(entry[u"card"_s][u"title"_s].toString(), title);
        const QJsonObject release = entry[u"release"_s].toObject();
        if (app.check.status == u"cantVerify") {
            EXPECT_EQ(entry[u"statusText"_s].toString(), app.check.text.value_or(u"?"_s));
            continue;
        }
        EXPECT_EQ(release[u"kind"_s].toString(), app.check.source.value_or(u"?"_s));
        const QString label = release[u"version"_s].isString() ? release[u"version"_s].toString()
                                                               : release[u"build"_s].toString();
        EXPECT_EQ(label, app.check.release.value_or(u"?"_s));
        // The source that answered is the last one asked.
        const QJsonArray attempts = entry[u"attempts"_s].toArray();
        ASSERT_FALSE(attempts.isEmpty());
        EXPECT_EQ(attempts.last()[u"outcome"_s].toString(), u"pass"_s);
        EXPECT_EQ(attempts.last()[u"kind"_s].toString(), app.check.source.value_or(u"?"_s));
    }
}

// A second run finds the cask index unchanged through its validator.
TEST_F(DemoCheck, SecondCheckRevalidatesTheCaskIndex)
{
    EXPECT_TRUE(firstRun->contains(u"GET /api/cask.json 200"_s)) << firstRun->join(u'\n').toStdString();
    served->clear();
    const QJsonArray again = check()[u"apps"_s].toArray();
    EXPECT_EQ(again.size(), report->size());
    EXPECT_TRUE(served->contains(u"GET /api/cask.json 304"_s)) << served->join(u'\n').toStdString();
}

} // namespace
