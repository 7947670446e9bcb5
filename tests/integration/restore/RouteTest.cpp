#include "base/Error.h"
#include "model/Restore.h"
#include "platform/HostInfo.h"
#include "sources/BrewIndex.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray caskIndex = R"([
  {"token":"paint","version":"3.1,310","url":"https://dl.example.com/Paint.dmg","sha256":"no_check",
   "homepage":"https://paint.example.com","artifacts":[{"app":["Paint.app"]}]},
  {"token":"bundle-only","version":"2.0","url":"https://dl.example.com/Found.zip","sha256":"ab12",
   "artifacts":[{"app":["Found.app"]},{"uninstall":[{"quit":"com.example.found"}]}]},
  {"token":"driver","version":"5.0","url":"https://dl.example.com/Driver.zip","sha256":"cd34",
   "homepage":"https://github.com/maker/driver","artifacts":[{"pkg":["Driver Installer.pkg"]},
   {"uninstall":[{"quit":"com.example.driver"}]}]}
])";

const QByteArray appcast = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel><item>
    <sparkle:version>150</sparkle:version>
    <sparkle:shortVersionString>1.5</sparkle:shortVersionString>
    <enclosure url="https://example.com/Feedy-1.5.zip" length="10" sparkle:edSignature="c2ln"/>
  </item></channel>
</rss>)";

const QByteArray githubRelease
    = R"({"tag_name":"v4.0","html_url":"https://github.com/maker/driver/releases/tag/v4.0",
  "assets":[{"name":"Driver-4.0-mac.zip","browser_download_url":"https://github.com/maker/driver/releases/download/v4.0/Driver-4.0-mac.zip","size":10}]})";

LibraryApp libraryApp(const QString& id, const QString& name)
{
    return LibraryApp { .id = id, .name = name };
}

class RouteTest : public testing::Test {
protected:
    RouteTest()
    {
        server.on(u"/api/cask.json"_s, Response::json(caskIndex));
        server.on(u"/appcast.xml"_s, Response::text(appcast, 200, "application/rss+xml"));
        server.on(u"/broken.xml"_s, Response::text("gone", 500));
        server.on(u"/repos/maker/driver/releases/latest"_s, Response::json(githubRelease));
    }

    Route route(const LibraryApp& app) { return await(Restore::route(app, sources())); }
    Restore::Sources sources()
    {
        return { net, brew, Checker { net, endpoints, brew, MacFacts { true, { 15, 0, 0 }, u"US"_s } },
            QUrl(u"https://github.example/"_s), QUrl(u"https://search.example/"_s) };
    }

    TestServer server;
    Net net;
    FixedHostInfo host { { 15, 0, 0 }, true };
    Endpoints endpoints = Endpoints::mock(server.url(u"/"_s));
    BrewIndex brew { net, appendPath(endpoints.brew, u"api/cask.json"_s), std::nullopt, host };
};

TEST_F(RouteTest, CandidatesComeFromTheCaskThenTheFeedThenGitHub)
{
    struct Row {
        const char* name;
        LibraryApp app;
        std::vector<SourceKind> kinds;
    };
    LibraryApp paint = libraryApp(u"com.example.paint"_s, u"Paint"_s);
    paint.caskToken = u"paint"_s;
    LibraryApp stored = paint;
    stored.storeURL = u"macappstore://apps.apple.com/app/id42"_s;
    LibraryApp found = libraryApp(u"com.example.found"_s, u"Found"_s);
    LibraryApp everything = libraryApp(u"com.example.driver"_s, u"Driver"_s);
    everything.caskToken = u"driver"_s;
    everything.feedURL = server.url(u"/appcast.xml"_s).toString();
    LibraryApp brokenFeed = libraryApp(u"com.example.feedy"_s, u"Feedy"_s);
    brokenFeed.feedURL = server.url(u"/broken.xml"_s).toString();
    brokenFeed.githubRepo = u"maker/driver"_s;

    const std::vector<Row> rows {
        { "a stored store link wins over the cask", stored, {} },
        { "cask by token", paint, { SourceKind::homebrew } },
        { "cask by bundle id and file name", found, { SourceKind::homebrew } },
        { "cask, feed, then the cask's repository", everything,
            { SourceKind::homebrew, SourceKind::sparkle, SourceKind::github } },
        { "a failing feed adds nothing", brokenFeed, { SourceKind::github } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Route chosen = route(row.app);
        if (row.kinds.empty()) {
            ASSERT_TRUE(chosen.store());
            EXPECT_EQ(chosen.store()->link, QUrl(*row.app.storeURL));
            continue;
        }
        ASSERT_TRUE(chosen.install());
        std::vector<SourceKind> kinds;
        for (const Release& release : chosen.install()->candidates) {
            kinds.push_back(release.kind);
            EXPECT_TRUE(release.download);
        }
        EXPECT_EQ(kinds, row.kinds);
    }

    // The cask's own download: version before the comma, "no_check" without a
    // checksum, and the package it names.
    const Release paintRelease = route(paint).install()->candidates.front();
    EXPECT_EQ(paintRelease.version, u"3.1"_s);
    EXPECT_EQ(paintRelease.download->url, QUrl(u"https://dl.example.com/Paint.dmg"_s));
    EXPECT_EQ(paintRelease.download->sha256, std::nullopt);
    const Release driverRelease = route(everything).install()->candidates.front();
    EXPECT_EQ(driverRelease.download->sha256, u"cd34"_s);
    EXPECT_EQ(driverRelease.download->package, u"Driver Installer.pkg"_s);
}

TEST_F(RouteTest, WithoutADownloadTheRouteIsManualWithItsReasonAndPage)
{
    struct Row {
        const char* name;
        LibraryApp app;
        QString reason;
        QString page;
    };
    LibraryApp electron = libraryApp(u"com.example.chat"_s, u"Chat+ Pro"_s);
    electron.source = u"Electron"_s;
    LibraryApp gone = libraryApp(u"com.example.old"_s, u"Old"_s);
    gone.caskToken = u"old-cask"_s;
    gone.homepage = u"javascript:alert(1)"_s; // never a page to open
    gone.githubRepo = u"maker/missing"_s;
    LibraryApp home = libraryApp(u"com.example.home"_s, u"Home"_s);
    home.homepage = u"https://home.example.com"_s;

    const std::vector<Row> rows {
        { "electron", electron, Restore::electronReason,
            u"https://search.example/?q=Chat%2B%20Pro%20mac%20download"_s },
        { "cask gone", gone, Restore::caskGoneReason(u"old-cask"_s),
            u"https://github.example/maker/missing"_s },
        { "nothing at all", home, Restore::nothingFoundReason, u"https://home.example.com"_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Route found = route(row.app);
        ASSERT_TRUE(found.manual());
        EXPECT_EQ(found.manual()->reason, row.reason);
        EXPECT_EQ(found.manual()->page.toString(QUrl::FullyEncoded), row.page);
    }
    EXPECT_EQ(Restore::caskGoneReason(u"old-cask"_s),
        u"Its Homebrew cask (old-cask) isn't available any more, and there's no other download Corvanta can "
        u"verify."_s);
}

TEST_F(RouteTest, WebsiteFallsBackThroughTheCaskAndItsRelease)
{
    const LibraryApp app = libraryApp(u"com.example.x"_s, u"X"_s);
    Cask cask { .token = u"x"_s, .homepage = u"https://cask.example.com"_s };
    EXPECT_EQ(Restore::website(app, cask, std::nullopt, sources()), QUrl(u"https://cask.example.com"_s));
    Release notes { .kind = SourceKind::homebrew, .notesURL = QUrl(u"https://notes.example.com"_s) };
    cask.homepage.reset();
    EXPECT_EQ(Restore::website(app, cask, notes, sources()), QUrl(u"https://notes.example.com"_s));
    notes.kind = SourceKind::sparkle;
    EXPECT_EQ(Restore::website(app, cask, notes, sources()).host(), u"search.example"_s);
}

TEST_F(RouteTest, TheFolderFallsBackWhenThePrimaryIsNotWritable)
{
    QTemporaryDir root;
    const QString primary = root.filePath(u"Applications"_s);
    const QString fallback = root.filePath(u"home/HomeApplications"_s);
    QDir().mkpath(primary);

    const Restore::Folder mine = Restore::folder(primary, fallback, [](const QString&) { return true; });
    EXPECT_EQ(mine.path, primary);
    EXPECT_FALSE(mine.fellBack);
    EXPECT_FALSE(QFileInfo::exists(fallback));

    const Restore::Folder own = Restore::folder(primary, fallback, [](const QString&) { return false; });
    EXPECT_EQ(own.path, fallback);
    EXPECT_TRUE(own.fellBack);
    EXPECT_TRUE(QFileInfo(fallback).isDir());

    // A file where the folder's parent should be: nothing can be created.
    QFile blocker(root.filePath(u"file"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_THROW(
        Restore::folder(primary, root.filePath(u"file/Apps"_s), [](const QString&) { return false; }),
        SystemError);
}

} // namespace
