#include "ServedWorld.h"
#include "codesign/MachO.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"
#include "discovery/Version.h"
#include "install/UpdateError.h"
#include "install/Updater.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <algorithm>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
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
        report = new QJsonArray(check());
        firstRun = new QStringList(*served);
        served->clear();
    }

    static void TearDownTestSuite()
    {
        delete report;
        delete firstRun;
        delete world;
        report = nullptr;
        firstRun = nullptr;
        world = nullptr;
        served->clear();
    }

    // The Mac the expectations are written for, whatever this machine is.
    static QJsonArray check()
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
        return document[u"apps"_s].toArray();
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
    static inline QStringList* served = new QStringList; // what the server answered, one line each
    static inline QStringList* firstRun = nullptr; // the same for the first check
};

ServedWorld* DemoCheck::world = nullptr;
QJsonArray* DemoCheck::report = nullptr;

TEST_F(DemoCheck, EveryAppGetsTheStatusTheManifestExpects)
{
    ASSERT_EQ(report->size(), qsizetype(world->manifest.apps.size()));
    for (const SampleApp& app : world->manifest.apps) {
        SCOPED_TRACE(app.name.toStdString());
        const QJsonObject entry = checked(app.bundleID);
        ASSERT_FALSE(entry.isEmpty());
        EXPECT_EQ(entry[u"path"_s].toString(), world->layout.applications() + u'/' + app.path);
        EXPECT_EQ(entry[u"status"_s].toString(), app.check.status);
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
    const QJsonArray again = check();
    EXPECT_EQ(again.size(), report->size());
    EXPECT_TRUE(served->contains(u"GET /api/cask.json 304"_s)) << served->join(u'\n').toStdString();
}

// What the installer will meet in each download: the good ones are newer,
// signed as stated and built for this Mac; each bad one is bad in exactly
// the way its expected refusal says.
TEST_F(DemoCheck, DownloadsAreWhatTheManifestSays)
{
    QNetworkAccessManager network;
    const std::unique_ptr<Ditto> ditto = Ditto::create();
    const std::unique_ptr<DiskImages> images = DiskImages::create();
    const codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors::fromFolder(
                                                          world->layout.anchors()),
        world->manifest.appleSilicon ? codesign::cpu::arm64 : codesign::cpu::x86_64 };
    QTemporaryDir work;
    int downloads = 0;
    for (const SampleApp& app : world->manifest.apps) {
        if (!app.update || app.update->outcome == ExpectedUpdate::Outcome::notOffered)
            continue;
        SCOPED_TRACE(app.name.toStdString());
        const QJsonObject download = checked(app.bundleID)[u"release"_s][u"download"_s].toObject();
        ASSERT_FALSE(download.isEmpty());
        const QString refusal = app.update->text.value_or(QString());
        const QString folder = work.filePath(QString::number(++downloads));
        QDir().mkpath(folder);

        QNetworkReply* reply = network.get(QNetworkRequest(QUrl(download[u"url"_s].toString())));
        ASSERT_TRUE(waitUntil([&] { return reply->isFinished(); }, std::chrono::seconds(30)));
        ASSERT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        const QString file = folder + u"/download"_s;
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(reply->readAll());
        out.close();
        reply->deleteLater();

        if (download[u"size"_s].isDouble()) {
            EXPECT_EQ(QFileInfo(file).size(), download[u"size"_s].toInteger());
        }
        const bool shaMismatch = refusal.startsWith(u"SHA-256 checksum mismatch"_s);
        if (download[u"sha256"_s].isString()) {
            EXPECT_EQ(Updater::sha256(file) == download[u"sha256"_s].toString().toLower(), !shaMismatch);
        } else
            EXPECT_FALSE(shaMismatch);
        const QString bundle = world->layout.applications() + u'/' + app.path;
        const std::optional<InstalledApp> installed = Scanner::read(QUrl::fromLocalFile(bundle),
            QUrl::fromLocalFile(world->layout.applications()), codeSigning, world->manifest.base);
        ASSERT_TRUE(installed.has_value());
        if (installed->edKey) {
            EXPECT_EQ(Updater::checkEdDSA(*installed->edKey, download[u"edSignature"_s].toString(), file),
                Updater::EdDSA::valid);
        }

        // Unpack as the installer does.
        const std::optional<Updater::Format> format = Updater::format(file);
        ASSERT_TRUE(format.has_value());
        const QString unpacked = folder + u"/extracted"_s;
        if (*format == Updater::Format::zip) {
            ditto->extractZip(file, unpacked);
            try {
                Updater::confine(unpacked);
                EXPECT_FALSE(refusal.contains(u"link to a location outside"_s));
            } catch (const UpdateError& error) {
                EXPECT_EQ(error.description(), refusal);
                continue;
            }
        } else {
            const bool agreement = images->hasLicenseAgreement(file);
            EXPECT_EQ(agreement, app.update->log.join(u'\n').contains(u"license agreement"_s));
            const QString mounted = images->attach(file, folder + u"/mount"_s, agreement);
            QDir().mkpath(unpacked);
            ditto->copy(Updater::findApp(mounted, app.bundleID), unpacked + u"/"_s + app.name + u".app"_s);
            images->detach(folder + u"/mount"_s);
        }
        const QString newApp = Updater::findApp(unpacked, app.bundleID);
        const std::optional<InstalledApp> fresh = Scanner::read(
            QUrl::fromLocalFile(newApp), QUrl::fromLocalFile(unpacked), codeSigning, world->manifest.base);
        ASSERT_TRUE(fresh.has_value());
        EXPECT_EQ(fresh->bundleID, app.bundleID);

        const std::optional<bool> newer
            = Version::isNewer({ installed->version, installed->build }, { fresh->version, fresh->build });
        EXPECT_EQ(newer.value_or(false), !refusal.contains(u"downgrade"_s));
        if (app.update->outcome == ExpectedUpdate::Outcome::installed) {
            EXPECT_EQ(fresh->version, app.update->version);
        }

        // Signed by whom the refusal says: the installed app's developer, or ad hoc.
        const ValidityResult validity = codeSigning.checkValidity(newApp, ValidityFlags::installer);
        EXPECT_TRUE(validity.isValid()) << validity.message.value_or(QString()).toStdString();
        // Only an app with a team has a requirement the installer holds downloads to.
        if (const std::optional<QString> requirement
            = installed->team ? codeSigning.designatedRequirement(bundle) : std::nullopt) {
            const bool sameDeveloper
                = codeSigning.checkValidity(newApp, ValidityFlags::installer, requirement).isValid();
            EXPECT_EQ(sameDeveloper, !refusal.contains(u"isn't signed by the developer"_s));
            EXPECT_EQ(Scanner::signing(QUrl::fromLocalFile(newApp), codeSigning).team,
                sameDeveloper ? installed->team : QString(refusal.section(u"signed by "_s, -1).left(10)));
        } else {
            EXPECT_FALSE(installed->team.has_value());
            EXPECT_FALSE(fresh->team.has_value());
        }

        const std::vector<std::uint32_t> architectures = codeSigning.architectures(newApp);
        const bool fitsThisMac
            = std::find(architectures.begin(), architectures.end(),
                  world->manifest.appleSilicon ? codesign::cpu::arm64 : codesign::cpu::x86_64)
            != architectures.end();
        EXPECT_EQ(
            fitsThisMac, refusal != u"The download doesn't include a build for this Mac's processor."_s);
    }
    EXPECT_GE(downloads, 12);
}

} // namespace
