#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/Program.h"
#include "support/QtPrinters.h"
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

// `corvanta check` on a sandbox of real bundles, with every source played by
// the loopback server: the same document a script would read.
class CheckCommand : public testing::Test {
protected:
    CheckCommand()
    {
        QFile lookup(QStringLiteral(CORVANTA_REALWORLD "/itunes/mas-lookup-things.json"));
        EXPECT_TRUE(lookup.open(QIODevice::ReadOnly));
        server.on(u"/lookup"_s, Response::json(lookup.readAll()));
        server.on(u"/api/cask.json"_s, Response::json(R"([{"token": "casky", "version": "2.0,200",
            "url": "https://example.com/Casky.zip", "sha256": "no_check", "artifacts": [{"app": ["Casky.app"]}]}])"));
        server.on(u"/appcast.xml"_s,
            Response::text(R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
            <channel><item><sparkle:version>120</sparkle:version><sparkle:shortVersionString>1.2</sparkle:shortVersionString>
            <enclosure url="Sparkly-1.2.zip" length="10" sparkle:edSignature="c2ln"/></item></channel></rss>)"));
        server.on(u"/dist/latest-mac.yml"_s, Response::text("version: 0.9.0\nfiles:\n  - url: E.zip\n"));

        BundleBuilder(apps(), u"Sparkly"_s).bundleID(u"com.example.sparkly"_s).feedURL(appcast()).create();
        BundleBuilder(apps(), u"Things3"_s)
            .bundleID(u"com.culturedcode.ThingsMac"_s)
            .version(u"3.0"_s)
            .appStoreReceipt()
            .create();
        BundleBuilder(apps(), u"Casky"_s).bundleID(u"com.example.casky"_s).version(u"2.0"_s).create();
        BundleBuilder(apps(), u"Electrony"_s)
            .bundleID(u"com.example.electrony"_s)
            .version(u"1.0"_s)
            .appUpdate(u"provider: generic\nurl: "_s + server.url(u"/dist"_s).toString() + u'\n')
            .create();
        BundleBuilder(apps(), u"Nothing"_s).bundleID(u"com.example.nothing"_s).create();
    }

    QString apps() const { return root.filePath(u"Applications"_s); }
    QString appcast() const { return server.url(u"/appcast.xml"_s).toString(); }

    // Runs the command while the server answers; returns stdout.
    QByteArray run(const QStringList& arguments, int expectedExit = 0)
    {
        const ProgramRun ran
            = runProgram(arguments, programEnvironment(root.path()), std::chrono::seconds(60));
        EXPECT_EQ(ran.exitCode, expectedExit) << ran.err.toStdString();
        return ran.out.toUtf8();
    }

    QTemporaryDir root;
    TestServer server;
};

QJsonObject byID(const QJsonArray& list, const QString& bundleID)
{
    for (const QJsonValue& value : list) {
        if (value[u"bundleID"_s].toString() == bundleID)
            return value.toObject();
    }
    ADD_FAILURE() << "no app " << bundleID.toStdString();
    return {};
}

TEST_F(CheckCommand, JsonDocument)
{
    const QByteArray output = run(
        { u"check"_s, u"--sandbox"_s, apps(), u"--mock"_s, server.url(u"/"_s).toString(), u"--json"_s });
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << output.toStdString();
    const QJsonArray list = document[u"apps"_s].toArray();
    ASSERT_EQ(list.size(), 5);
    EXPECT_EQ(document[u"hero"_s][u"headline"_s].toString(), u"2 updates ready"_s);
    EXPECT_TRUE(document[u"hero"_s][u"summary"_s].toString().startsWith(
        u"5 apps  \u00B7  2 up to date  \u00B7  1 can't be verified  \u00B7  checked "_s))
        << document[u"hero"_s][u"summary"_s].toString().toStdString();

    const QJsonObject sparkly = byID(list, u"com.example.sparkly"_s);
    EXPECT_EQ(sparkly[u"path"_s].toString(), QDir(apps()).filePath(u"Sparkly.app"_s));
    EXPECT_EQ(sparkly[u"status"_s].toString(), u"update"_s);
    EXPECT_EQ(sparkly[u"statusText"_s].toString(), u"1.0 \u2192 1.2 from Sparkle."_s);
    EXPECT_EQ(sparkly[u"card"_s].toObject(),
        (QJsonObject {
            { u"title"_s, u"Update available"_s }, { u"message"_s, u"1.0 \u2192 1.2 from Sparkle."_s } }));
    const QJsonObject release = sparkly[u"release"_s].toObject();
    EXPECT_EQ(release[u"kind"_s].toString(), u"Sparkle"_s);
    EXPECT_EQ(release[u"version"_s].toString(), u"1.2"_s);
    EXPECT_EQ(release[u"build"_s].toString(), u"120"_s);
    EXPECT_EQ(release[u"ref"_s].toString(), appcast());
    EXPECT_EQ(release[u"download"_s][u"url"_s].toString(), server.url(u"/Sparkly-1.2.zip"_s).toString());
    EXPECT_EQ(release[u"download"_s][u"size"_s].toInt(), 10);
    EXPECT_EQ(release[u"download"_s][u"edSignature"_s].toString(), u"c2ln"_s);
    const QJsonArray attempts = sparkly[u"attempts"_s].toArray();
    ASSERT_EQ(attempts.size(), 2);
    EXPECT_EQ(attempts[0].toObject(),
        (QJsonObject { { u"kind"_s, u"Mac App Store"_s }, { u"url"_s, QJsonValue() },
            { u"found"_s, QJsonValue() }, { u"outcome"_s, u"skipped"_s },
            { u"text"_s, u"No App Store receipt"_s } }));
    EXPECT_EQ(attempts[1][u"found"_s].toString(), u"1.2"_s);
    EXPECT_EQ(attempts[1][u"url"_s].toString(), appcast());

    const QJsonObject things = byID(list, u"com.culturedcode.ThingsMac"_s);
    EXPECT_EQ(things[u"status"_s].toString(), u"update"_s);
    EXPECT_EQ(
        things[u"release"_s][u"storeURL"_s].toString(), u"macappstore://apps.apple.com/app/id904280696"_s);
    EXPECT_EQ(things[u"attempts"_s].toArray().size(), 1);

    const QJsonObject casky = byID(list, u"com.example.casky"_s);
    EXPECT_EQ(casky[u"status"_s].toString(), u"upToDate"_s);
    EXPECT_EQ(casky[u"release"_s][u"ref"_s].toString(), u"casky"_s);

    const QJsonObject electrony = byID(list, u"com.example.electrony"_s);
    EXPECT_EQ(electrony[u"status"_s].toString(), u"upToDate"_s);
    EXPECT_EQ(electrony[u"release"_s][u"kind"_s].toString(), u"Electron"_s);
    EXPECT_EQ(electrony[u"attempts"_s].toArray().size(), 5);

    const QJsonObject nothing = byID(list, u"com.example.nothing"_s);
    EXPECT_EQ(nothing[u"status"_s].toString(), u"cantVerify"_s);
    EXPECT_TRUE(nothing[u"release"_s].isNull());
    EXPECT_EQ(nothing[u"statusText"_s].toString(),
        u"No update source: no App Store receipt, Sparkle feed, Homebrew cask, GitHub repository or Electron feed"_s);
    // The card words a reason as a sentence of its own.
    EXPECT_EQ(nothing[u"card"_s][u"message"_s].toString(),
        u"Corvanta couldn't confirm whether this app is current. No update source: no App Store receipt, "
        u"Sparkle feed, Homebrew cask, GitHub repository or Electron feed."_s);

    // The cask index was cached beside the sandbox, with its validator.
    EXPECT_TRUE(QFile::exists(root.filePath(u"Caches/cask.json"_s)));
    // Eight at once at most, whatever the server could take.
    EXPECT_LE(server.maxConcurrent(), 8);
}

TEST_F(CheckCommand, ReadableTable)
{
    const QString output = QString::fromUtf8(
        run({ u"check"_s, u"--sandbox"_s, apps(), u"--mock"_s, server.url(u"/"_s).toString() }));
    EXPECT_TRUE(output.contains(u"Update available: 1.0 \u2192 1.2 from Sparkle."_s)) << output.toStdString();
    EXPECT_TRUE(output.contains(u"No cask installs Nothing.app"_s));
    // The hero's two lines close the table.
    const QStringList lines = output.trimmed().split(u'\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], u"2 updates ready"_s);
    EXPECT_TRUE(lines.last().startsWith(u"5 apps  \u00B7  2 up to date"_s)) << output.toStdString();
}

TEST_F(CheckCommand, BadArguments)
{
    run({ u"check"_s, u"--mock"_s }, 2);
    run({ u"check"_s, u"--mock"_s, u"ftp://example.com"_s, u"--sandbox"_s, apps() }, 2);
    run({ u"check"_s, u"extra"_s }, 2);
}

TEST_F(CheckCommand, InspectElectronFileAndUrl)
{
    const QString feed = root.filePath(u"latest-mac.yml"_s);
    QFile file(feed);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("version: 2.3.4\nfiles:\n  - url: App-2.3.4-mac.zip\n    size: 9876\n");
    file.close();
    const QJsonObject local
        = QJsonDocument::fromJson(run({ u"inspect"_s, u"electron"_s, feed, u"--json"_s })).object();
    EXPECT_EQ(local[u"version"_s].toString(), u"2.3.4"_s);
    EXPECT_EQ(local[u"download"_s][u"url"_s].toString(),
        QUrl::fromLocalFile(root.filePath(u"App-2.3.4-mac.zip"_s)).toString());
    EXPECT_EQ(local[u"download"_s][u"size"_s].toInt(), 9876);

    const QString remote = QString::fromUtf8(
        run({ u"inspect"_s, u"electron"_s, server.url(u"/dist/latest-mac.yml"_s).toString() }));
    EXPECT_TRUE(remote.contains(u"version:  0.9.0"_s)) << remote.toStdString();
    EXPECT_TRUE(remote.contains(server.url(u"/dist/E.zip"_s).toString()));
    run({ u"inspect"_s, u"electron"_s, server.url(u"/missing.yml"_s).toString() }, 1);
}

} // namespace
