#include "sources/Net.h"

#include "sources/CheckError.h"
#include "support/Await.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QNetworkReply>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The text Net::get throws, or "<ok>" with the body.
QString outcome(Net& net, const QUrl& url, std::optional<QString> accept = std::nullopt)
{
    try {
        return u"<ok>"_s + QString::fromUtf8(await(net.get(url, accept)));
    } catch (const CheckError& error) {
        return error.description();
    }
}

// A port nothing listens on: taken, then released.
quint16 closedPort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

TEST(Net, SendsUserAgentAndAccept)
{
    TestServer server;
    server.on(u"/feed"_s, Response::text("hello"));
    Net net;
    EXPECT_EQ(outcome(net, server.url(u"/feed"_s), u"application/vnd.github+json"_s), u"<ok>hello"_s);
    EXPECT_EQ(outcome(net, server.url(u"/feed"_s)), u"<ok>hello"_s);
    const QList<RecordedRequest> requests = server.requests(u"/feed"_s);
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].header("User-Agent"), "Corvanta/1.0 (macOS)");
    EXPECT_EQ(requests[0].header("Accept"), "application/vnd.github+json");
    EXPECT_EQ(requests[1].header("User-Agent"), "Corvanta/1.0 (macOS)");
    EXPECT_NE(requests[1].header("Accept"), "application/vnd.github+json");
}

struct StatusRow {
    int status;
    QByteArray rateLimitRemaining; // empty: header absent
    QString expected;
};

std::ostream& operator<<(std::ostream& os, const StatusRow& row)
{
    return os << row.status << " remaining=" << row.rateLimitRemaining.toStdString();
}

class NetStatus : public testing::TestWithParam<StatusRow> { };

TEST_P(NetStatus, BecomesTheErrorText)
{
    const StatusRow& row = GetParam();
    TestServer server;
    Response response = Response::json(R"({"message": "no"})", row.status);
    if (!row.rateLimitRemaining.isEmpty())
        response.withHeader("X-RateLimit-Remaining", row.rateLimitRemaining);
    server.on(u"/x"_s, response);
    Net net;
    EXPECT_EQ(outcome(net, server.url(u"/x"_s)), row.expected);
}

const QString hourly = u"GitHub's hourly limit for anonymous requests is used up; try again later"_s;

INSTANTIATE_TEST_SUITE_P(Table, NetStatus,
    testing::Values(StatusRow { 403, "0", hourly }, StatusRow { 403, "", u"The server answered HTTP 403"_s },
        StatusRow { 403, "12", u"The server answered HTTP 403"_s },
        // The rate-limit text belongs to 403 alone.
        StatusRow { 429, "0", u"The server answered HTTP 429"_s },
        StatusRow { 404, "", u"The server answered HTTP 404"_s },
        StatusRow { 500, "", u"The server answered HTTP 500"_s },
        StatusRow { 304, "", u"The server answered HTTP 304"_s }, StatusRow { 204, "", u"<ok>"_s },
        StatusRow { 299, "", u"<ok>{\"message\": \"no\"}"_s }));

TEST(Net, FollowsRedirects)
{
    TestServer server;
    server.on(u"/old"_s, Response::redirect(u"/new"_s, 301));
    server.on(u"/new"_s, Response::text("moved"));
    Net net;
    EXPECT_EQ(outcome(net, server.url(u"/old"_s)), u"<ok>moved"_s);
}

TEST(Net, TransportFailureHasThePlatformText)
{
    Net net;
    const QString text = outcome(net, QUrl(u"http://127.0.0.1:%1/feed"_s.arg(closedPort())));
    EXPECT_EQ(text, u"Connection refused"_s);
}

TEST(Net, ABodyThatBreaksOffIsAFailure)
{
    TestServer server;
    Response response = Response::text(QByteArray(4096, 'a'));
    response.contentLength = 10000; // the connection closes after 4096 bytes
    server.on(u"/short"_s, response);
    Response dropped = Response::text(QByteArray(4096, 'b'));
    dropped.closeAfter = 100;
    server.on(u"/dropped"_s, dropped);
    Net net;
    EXPECT_EQ(outcome(net, server.url(u"/short"_s)), u"The network connection was lost."_s);
    EXPECT_FALSE(outcome(net, server.url(u"/dropped"_s)).startsWith(u"<ok>"_s));
}

TEST(Net, OnlyReadsHttpAndHttps)
{
    Net net;
    for (const QString& url :
        { u"file:///etc/hostname"_s, u"data:text/plain,hi"_s, u"ftp://127.0.0.1/x"_s }) {
        const QString text = outcome(net, QUrl(url));
        EXPECT_TRUE(text.startsWith(u"Only http and https addresses can be read"_s)) << text.toStdString();
    }
}

TEST(Net, TimeoutReadsAsTimedOut)
{
    TestServer server;
    Response slow = Response::text("late");
    slow.delay = std::chrono::milliseconds(2000);
    server.on(u"/slow"_s, slow);
    Net net;
    QNetworkRequest request(server.url(u"/slow"_s));
    request.setTransferTimeout(100);
    ReplyPtr reply(net.session().get(request));
    ASSERT_TRUE(waitUntil([&] { return reply->isFinished(); }));
    EXPECT_FALSE(Net::succeeded(*reply));
    EXPECT_EQ(Net::failureText(*reply), u"The request timed out."_s);
}

} // namespace
