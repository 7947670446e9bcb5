#include "sources/Appcast.h"
#include "sources/CheckError.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::await;
using test::Response;
using test::TestServer;

const QByteArray feedBody = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>
  <item>
    <title>Version 3.2</title>
    <sparkle:version>320</sparkle:version>
    <sparkle:shortVersionString>3.2</sparkle:shortVersionString>
    <sparkle:minimumSystemVersion>13.0</sparkle:minimumSystemVersion>
    <sparkle:releaseNotesLink>https://example.com/notes/3.2.html</sparkle:releaseNotesLink>
    <enclosure url="/downloads/Example-3.2.zip" length="48213" type="application/octet-stream"
        sparkle:edSignature="EIawm2YkDZ2gBfkEMF2+1VuuTeXnCGZOdnMdVgPPvDZioq7bvDayXqKkIIzSjKMmeFdcFJOHdnba5ZV60+gPBw=="/>
  </item>
  <item>
    <sparkle:version>400</sparkle:version>
    <sparkle:channel>beta</sparkle:channel>
    <enclosure url="/downloads/Example-4.0b1.zip" length="1"/>
  </item>
</channel>
</rss>)";

QString errorOf(QCoro::Task<Release> task)
{
    try {
        await(std::move(task));
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"(no error)"_s;
}

TEST(AppcastFeed, FetchedFeedGivesItsNewestRelease)
{
    TestServer server;
    Net net;
    server.on(u"/feeds/appcast.xml"_s, Response::text(feedBody, 200, "application/rss+xml"));
    const QUrl feed = server.url(u"/feeds/appcast.xml"_s);
    const Release release = await(Appcast::sparkle(net, feed, SystemVersion { 15, 0, 0 }));
    EXPECT_EQ(release.version, u"3.2"_s);
    EXPECT_EQ(release.build, u"320"_s);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->url, server.url(u"/downloads/Example-3.2.zip"_s));
    EXPECT_EQ(release.download->size, 48213);
    EXPECT_TRUE(release.download->edSignature->startsWith(u"EIawm2Yk"_s));
    EXPECT_EQ(release.notesURL, QUrl(u"https://example.com/notes/3.2.html"_s));
    EXPECT_EQ(server.requests(u"/feeds/appcast.xml"_s).at(0).header("User-Agent"), Net::userAgent);
}

TEST(AppcastFeed, ErrorsReachTheCaller)
{
    TestServer server;
    Net net;
    server.on(u"/old.xml"_s, Response::text(feedBody));
    server.on(u"/missing.xml"_s, Response::text("not here", 404));
    server.on(u"/page.xml"_s, Response::text("<html><body><p>Moved</body></html>"));
    server.on(u"/empty.xml"_s, Response::text("<rss><channel></channel></rss>"));
    EXPECT_EQ(errorOf(Appcast::sparkle(net, server.url(u"/old.xml"_s), SystemVersion { 12, 7, 4 })),
        u"No release in the appcast runs on macOS 12.7.4"_s);
    EXPECT_EQ(errorOf(Appcast::sparkle(net, server.url(u"/missing.xml"_s), SystemVersion { 15, 0, 0 })),
        u"The server answered HTTP 404"_s);
    EXPECT_TRUE(errorOf(Appcast::sparkle(net, server.url(u"/page.xml"_s), SystemVersion { 15, 0, 0 }))
                    .startsWith(u"The appcast isn't valid XML ("_s));
    EXPECT_EQ(errorOf(Appcast::sparkle(net, server.url(u"/empty.xml"_s), SystemVersion { 15, 0, 0 })),
        u"The appcast lists no releases"_s);
}

} // namespace
} // namespace corvanta
