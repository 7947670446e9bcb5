#include "sources/AppStore.h"
#include "sources/CheckError.h"
#include "sources/Electron.h"
#include "sources/GitHub.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <functional>

#include <QFile>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray realWorld(const QString& path)
{
    QFile file(QStringLiteral(CORVANTA_REALWORLD "/") + path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

template<typename T> QString failure(QCoro::Task<T> task)
{
    try {
        await(std::move(task));
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"<no error>"_s;
}

class Readers : public testing::Test {
protected:
    TestServer server;
    Net net;
};

TEST_F(Readers, AppStoreOverHttp)
{
    server.on(u"/lookup"_s, Response::json(realWorld(u"itunes/mas-lookup-slack.json"_s)));
    const QUrl lookup = server.url(u"/lookup?bundleId=com.tinyspeck.slackmacgap&country=US"_s);
    const Release release = await(AppStore::read(net, u"com.tinyspeck.slackmacgap"_s, lookup));
    EXPECT_EQ(release.version, u"3.3.3"_s);
    EXPECT_EQ(release.storeURL, QUrl(u"macappstore://apps.apple.com/app/id803453959"_s));
    ASSERT_EQ(server.count(u"/lookup"_s), 1);
    EXPECT_EQ(
        server.requests(u"/lookup"_s)[0].query.queryItemValue(u"bundleId"_s), u"com.tinyspeck.slackmacgap"_s);
}

TEST_F(Readers, AppStoreNotFoundQuotesTheCountryAsked)
{
    server.on(u"/lookup"_s, Response::json(realWorld(u"itunes/mas-search-nonexistent.json"_s)));
    EXPECT_EQ(failure(AppStore::read(
                  net, u"com.example"_s, server.url(u"/lookup?bundleId=com.example&country=FR"_s))),
        u"Not found in the FR App Store"_s);
    EXPECT_EQ(failure(AppStore::read(net, u"com.example"_s, server.url(u"/lookup?bundleId=com.example"_s))),
        u"Not found in the US App Store"_s);
}

TEST_F(Readers, GitHubAsksForItsMediaType)
{
    server.on(u"/repos/o/r/releases/latest"_s, Response::json(R"({"tag_name": "v1.4.2", "assets": [
            {"name": "R-1.4.2-mac-arm64.zip", "browser_download_url": "https://example.com/R.zip", "size": 42}]})"));
    const Release release = await(GitHub::read(net, server.url(u"/repos/o/r/releases/latest"_s), true));
    EXPECT_EQ(release.version, u"1.4.2"_s);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->size, 42);
    EXPECT_EQ(server.requests()[0].header("Accept"), "application/vnd.github+json");
}

TEST_F(Readers, GitHubRateLimit)
{
    server.on(u"/latest"_s,
        Response::json(R"({"message": "API rate limit exceeded"})", 403)
            .withHeader("x-ratelimit-remaining", "0"));
    EXPECT_EQ(failure(GitHub::read(net, server.url(u"/latest"_s), true)),
        u"GitHub's hourly limit for anonymous requests is used up; try again later"_s);
    server.on(u"/latest"_s, Response::json(R"({"message": "Forbidden"})", 403));
    EXPECT_EQ(failure(GitHub::read(net, server.url(u"/latest"_s), true)), u"The server answered HTTP 403"_s);
    server.on(u"/latest"_s, Response::json(R"({"message": "Not Found"})", 404));
    EXPECT_EQ(failure(GitHub::read(net, server.url(u"/latest"_s), true)), u"The server answered HTTP 404"_s);
}

TEST_F(Readers, ElectronResolvesNextToTheFeed)
{
    server.on(u"/dist/mac/latest-mac.yml"_s,
        Response::text("version: 3.1.0\nfiles:\n  - url: App-3.1.0-mac.zip\n    size: 1234\n"));
    const Release release = await(Electron::read(net, server.url(u"/dist/mac/latest-mac.yml"_s)));
    EXPECT_EQ(release.version, u"3.1.0"_s);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->url, server.url(u"/dist/mac/App-3.1.0-mac.zip"_s));
    EXPECT_EQ(release.download->size, 1234);
    server.on(u"/dist/mac/latest-mac.yml"_s, Response::text("files:\n  - version: 1\n"));
    EXPECT_EQ(failure(Electron::read(net, server.url(u"/dist/mac/latest-mac.yml"_s))),
        u"latest-mac.yml has no version"_s);
}

TEST_F(Readers, EveryReaderReportsHttpAndTransportFailures)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const QUrl closed(u"http://127.0.0.1:%1/x"_s.arg(probe.serverPort()));
    probe.close();
    server.onPrefix(u"/"_s, [](const RecordedRequest&) { return Response::text("gone", 410); });
    const QUrl gone = server.url(u"/x"_s);

    const std::vector<std::pair<const char*, std::function<QCoro::Task<Release>(QUrl)>>> readers {
        { "appStore", [&](QUrl url) { return AppStore::read(net, u"a.b"_s, url); } },
        { "github", [&](QUrl url) { return GitHub::read(net, url, true); } },
        { "electron", [&](QUrl url) { return Electron::read(net, url); } },
    };
    for (const auto& [name, read] : readers) {
        EXPECT_EQ(failure(read(gone)), u"The server answered HTTP 410"_s) << name;
        EXPECT_EQ(failure(read(closed)), u"Connection refused"_s) << name;
    }
}

} // namespace
