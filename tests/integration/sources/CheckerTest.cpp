#include "sources/Checker.h"

#include "discovery/InstalledApp.h"
#include "platform/HostInfo.h"
#include "sources/BrewIndex.h"
#include "sources/Net.h"
#include "sources/Verdict.h"
#include "support/Await.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray caskIndex = R"([
  {"token": "versioned", "version": "2.0,200", "url": "https://example.com/V.zip", "sha256": "aa",
   "homepage": "https://github.com/o/versioned", "artifacts": [{"app": ["Versioned.app"]}]},
  {"token": "unversioned", "version": "latest", "url": "https://example.com/U.zip", "sha256": "no_check",
   "homepage": "https://github.com/owner/repo", "artifacts": [{"app": ["Unversioned.app"]}]},
  {"token": "noversion", "url": "https://example.com/N.zip", "artifacts": [{"app": ["NoVersion.app"]}]},
  {"token": "nogithub", "version": "latest", "homepage": "https://example.com", "artifacts": [{"app": ["Plain.app"]}]}
])";

const QByteArray appcast = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel><item>
    <sparkle:version>150</sparkle:version>
    <sparkle:shortVersionString>1.5</sparkle:shortVersionString>
    <enclosure url="https://example.com/A-1.5.zip" length="10" sparkle:edSignature="c2ln"/>
  </item></channel>
</rss>)";

InstalledApp app(const QString& name, const QString& bundleID)
{
    InstalledApp result;
    result.url = QUrl::fromLocalFile(u"/Applications/"_s + name + u".app"_s);
    result.name = name;
    result.bundleID = bundleID;
    result.version = u"1.0"_s;
    return result;
}

struct Expected {
    SourceKind kind;
    std::optional<QString> url;
    std::optional<QString> found;
    QString outcome;
    std::optional<QString> text;
};

class CheckerTest : public testing::Test {
protected:
    CheckerTest()
    {
        server.on(u"/api/cask.json"_s, Response::json(caskIndex));
        server.on(u"/appcast.xml"_s, Response::text(appcast, 200, "application/rss+xml"));
    }

    CheckResult check(const InstalledApp& installed) { return await(checker.check(installed)); }

    QString at(const QString& path) const { return server.url(path).toString(QUrl::FullyEncoded); }

    void expectAttempts(const CheckResult& result, const std::vector<Expected>& expected)
    {
        ASSERT_EQ(result.attempts.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const Attempt& attempt = result.attempts[i];
            SCOPED_TRACE(testing::Message() << "attempt " << i);
            EXPECT_EQ(attempt.kind, expected[i].kind);
            EXPECT_EQ(attempt.url, expected[i].url);
            EXPECT_EQ(attempt.found, expected[i].found);
            EXPECT_EQ(attempt.outcomeName(), expected[i].outcome);
            EXPECT_EQ(attempt.outcomeText(), expected[i].text);
        }
    }

    TestServer server;
    Net net;
    FixedHostInfo host { { 15, 0, 0 }, true };
    Endpoints endpoints = Endpoints::mock(server.url(u"/"_s));
    BrewIndex brew { net, appendPath(endpoints.brew, u"api/cask.json"_s), std::nullopt, host };
    Checker checker { net, endpoints, brew, MacFacts { true, { 15, 0, 0 }, u"US"_s } };
};

const QString noSource
    = u"No update source: no App Store receipt, Sparkle feed, Homebrew cask, GitHub repository or Electron feed"_s;

TEST_F(CheckerTest, NoSourceAtAll)
{
    for (const auto& [bundleID, reason] :
        std::vector<std::pair<QString, QString>> { { u"com.example.none"_s, noSource },
            { u"com.apple.Chess"_s,
                u"Apple app with no App Store receipt; macOS Software Update keeps it current"_s } }) {
        const InstalledApp installed = app(u"None"_s, bundleID);
        const CheckResult result = check(installed);
        expectAttempts(result,
            { { SourceKind::appStore, {}, {}, u"skipped"_s, u"No App Store receipt"_s },
                { SourceKind::sparkle, {}, {}, u"skipped"_s, u"No SUFeedURL in Info.plist"_s },
                { SourceKind::homebrew, at(u"/api/cask.json"_s), {}, u"skipped"_s,
                    u"No cask installs None.app"_s },
                { SourceKind::github, {}, {}, u"skipped"_s, u"No GitHub repository known"_s },
                { SourceKind::electron, {}, {}, u"skipped"_s,
                    u"No electron-updater config (app-update.yml)"_s } });
        EXPECT_FALSE(result.release);
        EXPECT_EQ(
            Verdict::status(installed, result.release, result.attempts, {}, {}), Status::cantVerify(reason));
    }
    // Every attempt is its own.
    const CheckResult result = check(app(u"None"_s, u"x.y"_s));
    EXPECT_NE(result.attempts[0].id, result.attempts[1].id);
}

TEST_F(CheckerTest, AppStoreAnswersAlone)
{
    QFile file(QStringLiteral(CORVANTA_REALWORLD "/itunes/mas-lookup-things.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    server.on(u"/lookup"_s, Response::json(file.readAll()));
    InstalledApp installed = app(u"Things3"_s, u"com.culturedcode.ThingsMac"_s);
    installed.isAppStore = true;
    installed.feedURL = server.url(u"/appcast.xml"_s);
    const CheckResult result = check(installed);
    expectAttempts(result,
        { { SourceKind::appStore, at(u"/lookup?bundleId=com.culturedcode.ThingsMac&country=US"_s), u"3.8"_s,
            u"pass"_s, {} } });
    ASSERT_TRUE(result.release);
    EXPECT_EQ(result.release->kind, SourceKind::appStore);
    EXPECT_FALSE(result.release->ref);
    EXPECT_EQ(server.count(u"/appcast.xml"_s), 0);
    EXPECT_EQ(Verdict::status(installed, result.release, result.attempts, {}, {}), Status::update());
}

TEST_F(CheckerTest, AppStoreFailsThenSparkleAnswers)
{
    server.on(u"/lookup"_s, Response::json(R"({"resultCount": 0, "results": []})"));
    InstalledApp installed = app(u"Both"_s, u"com.example.both"_s);
    installed.isAppStore = true;
    installed.feedURL = server.url(u"/appcast.xml"_s);
    const CheckResult result = check(installed);
    expectAttempts(result,
        { { SourceKind::appStore, at(u"/lookup?bundleId=com.example.both&country=US"_s), {}, u"fail"_s,
              u"Not found in the US App Store"_s },
            { SourceKind::sparkle, at(u"/appcast.xml"_s), u"1.5"_s, u"pass"_s, {} } });
    ASSERT_TRUE(result.release);
    EXPECT_EQ(result.release->kind, SourceKind::sparkle);
    EXPECT_EQ(result.release->ref, at(u"/appcast.xml"_s));
    EXPECT_EQ(result.release->build, u"150"_s);
    // The stop rule: nothing after the source that answered is asked.
    EXPECT_EQ(server.count(u"/api/cask.json"_s), 0);
}

TEST_F(CheckerTest, VersionedCaskStopsTheCheck)
{
    const CheckResult result = check(app(u"Versioned"_s, u"com.example.versioned"_s));
    expectAttempts(result,
        { { SourceKind::appStore, {}, {}, u"skipped"_s, u"No App Store receipt"_s },
            { SourceKind::sparkle, {}, {}, u"skipped"_s, u"No SUFeedURL in Info.plist"_s },
            { SourceKind::homebrew, at(u"/cask/versioned"_s), u"2.0"_s, u"pass"_s, {} } });
    ASSERT_TRUE(result.release);
    EXPECT_EQ(result.release->ref, u"versioned"_s);
    EXPECT_EQ(server.count(u"/repos/o/versioned/releases/latest"_s), 0);
}

TEST_F(CheckerTest, UnversionedCaskFallsThroughToGitHub)
{
    server.on(u"/repos/owner/repo/releases/latest"_s,
        Response::json(
            R"({"tag_name": "v3.2.1", "html_url": "https://github.com/owner/repo/releases/tag/v3.2.1"})"));
    const CheckResult result = check(app(u"Unversioned"_s, u"com.example.unversioned"_s));
    expectAttempts(result,
        { { SourceKind::appStore, {}, {}, u"skipped"_s, u"No App Store receipt"_s },
            { SourceKind::sparkle, {}, {}, u"skipped"_s, u"No SUFeedURL in Info.plist"_s },
            { SourceKind::homebrew, at(u"/cask/unversioned"_s), {}, u"fail"_s,
                u"The cask is unversioned (version :latest), so it can't say what's newest"_s },
            { SourceKind::github, at(u"/repos/owner/repo/releases/latest"_s), u"3.2.1"_s, u"pass"_s, {} } });
    ASSERT_TRUE(result.release);
    EXPECT_EQ(result.release->ref, u"owner/repo"_s);
}

TEST_F(CheckerTest, ReleaseWithoutVersionIsFoundAsQuestionMark)
{
    const CheckResult result = check(app(u"NoVersion"_s, u"com.example.noversion"_s));
    ASSERT_EQ(result.attempts.size(), 3u);
    EXPECT_EQ(result.attempts[2].found, u"?"_s);
    EXPECT_EQ(result.release->label(), u"?"_s);
}

TEST_F(CheckerTest, RateLimitedGitHubThenElectron)
{
    server.on(u"/repos/owner/repo/releases/latest"_s,
        Response::json(R"({"message": "API rate limit exceeded"})", 403)
            .withHeader("X-RateLimit-Remaining", "0"));
    server.on(u"/latest-mac.yml"_s, Response::text("version: 0.9.0\nurl: U.zip\n"));
    InstalledApp installed = app(u"Unversioned"_s, u"com.example.unversioned"_s);
    installed.electronFeed = server.url(u"/latest-mac.yml"_s);
    const CheckResult result = check(installed);
    ASSERT_EQ(result.attempts.size(), 5u);
    EXPECT_EQ(result.attempts[3].outcomeText(),
        u"GitHub's hourly limit for anonymous requests is used up; try again later"_s);
    EXPECT_EQ(result.attempts[4].outcomeName(), u"pass"_s);
    EXPECT_EQ(result.attempts[4].url, at(u"/latest-mac.yml"_s));
    ASSERT_TRUE(result.release);
    EXPECT_EQ(result.release->kind, SourceKind::electron);
    EXPECT_FALSE(result.release->ref);
    EXPECT_EQ(Verdict::status(installed, result.release, result.attempts, {}, {}), Status::upToDate());
}

TEST_F(CheckerTest, FailuresBecomeAttemptsAndTheLastOneIsTheReason)
{
    server.on(u"/api/cask.json"_s, Response::text("busy", 500));
    server.on(u"/appcast.xml"_s, Response::text("<rss><channel>", 200));
    server.on(u"/latest-mac.yml"_s, Response::text("nothing here", 200));
    InstalledApp installed = app(u"Broken"_s, u"com.example.broken"_s);
    installed.feedURL = server.url(u"/appcast.xml"_s);
    installed.electronFeed = server.url(u"/latest-mac.yml"_s);
    const CheckResult result = check(installed);
    ASSERT_EQ(result.attempts.size(), 5u);
    EXPECT_EQ(result.attempts[1].outcomeName(), u"fail"_s);
    EXPECT_TRUE(result.attempts[1].outcomeText()->startsWith(u"The appcast isn't valid XML ("_s));
    expectAttempts({ { result.attempts[2], result.attempts[3], result.attempts[4] }, std::nullopt },
        { { SourceKind::homebrew, at(u"/api/cask.json"_s), {}, u"fail"_s, u"The server answered HTTP 500"_s },
            // Without a cask there is no repository to ask.
            { SourceKind::github, {}, {}, u"skipped"_s, u"No GitHub repository known"_s },
            { SourceKind::electron, at(u"/latest-mac.yml"_s), {}, u"fail"_s,
                u"latest-mac.yml has no version"_s } });
    EXPECT_FALSE(result.release);
    EXPECT_EQ(Verdict::reason(installed, result.attempts), u"Electron: latest-mac.yml has no version"_s);
}

TEST_F(CheckerTest, LookupURLAsksInThisMacsCountry)
{
    const Checker german(net, endpoints, brew, MacFacts { true, { 15, 0, 0 }, u"DE"_s });
    EXPECT_EQ(german.lookupURL(app(u"A"_s, u"com.example.a"_s)).toString(QUrl::FullyEncoded),
        at(u"/lookup?bundleId=com.example.a&country=DE"_s));
    server.on(u"/lookup"_s, Response::json(R"({"results": []})"));
    InstalledApp installed = app(u"A"_s, u"com.example.a"_s);
    installed.isAppStore = true;
    const CheckResult result = await(german.check(installed));
    EXPECT_EQ(result.attempts[0].outcomeText(), u"Not found in the DE App Store"_s);
}

TEST(MacFacts, RegionFromTheLocale)
{
    EXPECT_EQ(MacFacts::regionOf(QLocale::c()), u"US"_s);
    EXPECT_EQ(MacFacts::regionOf(QLocale(u"de_DE"_s)), u"DE"_s);
    EXPECT_EQ(MacFacts::regionOf(QLocale(u"en_GB"_s)), u"GB"_s);
    EXPECT_EQ(MacFacts::regionOf(QLocale(u"pt_BR"_s)), u"BR"_s);
    const MacFacts facts = MacFacts::of(FixedHostInfo({ 14, 2, 1 }, false), QLocale(u"fr_CA"_s));
    EXPECT_FALSE(facts.appleSilicon);
    EXPECT_EQ(facts.system, (SystemVersion { 14, 2, 1 }));
    EXPECT_EQ(facts.region, u"CA"_s);
}

} // namespace
