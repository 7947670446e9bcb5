// The server's own behaviour the other tests rely on without checking it:
// the faults it puts on the wire, its conditional answers, a throwing handler.
#include "support/TestServer.h"

#include "support/Await.h"

#include <memory>

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using corvanta::test::await;
using corvanta::test::RecordedRequest;
using corvanta::test::Response;
using corvanta::test::TestServer;
using corvanta::test::waitUntil;

namespace {

struct Fetched {
    int status = 0;
    QByteArray body;
    QByteArray etag;
    QByteArray lastModified;
};

QCoro::Task<Fetched> fetch(QNetworkAccessManager& network, QNetworkRequest request)
{
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    co_await reply.get();
    co_return Fetched { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
        reply->rawHeader("ETag"), reply->rawHeader("Last-Modified") };
}

// Talks HTTP by hand, for what QNetworkAccessManager will not send.
class RawClient {
public:
    explicit RawClient(quint16 port)
    {
        QObject::connect(
            &m_socket, &QTcpSocket::readyRead, &m_socket, [this] { m_received += m_socket.readAll(); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    void send(const QByteArray& data) { m_socket.write(data); }
    const QByteArray& received() const { return m_received; }
    bool waitForText(const QByteArray& text, int times = 1)
    {
        return waitUntil([&] { return m_received.count(text) >= times; });
    }
    bool waitForClose()
    {
        return waitUntil([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }
    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

} // namespace

TEST(TestServer, PutsFaultyBodiesOnTheWireAsScripted)
{
    const auto scripted = [](auto change) {
        Response response { .body = "0123456789" };
        change(response);
        return response;
    };
    struct Row {
        const char* name;
        Response response;
        QByteArray wire; // after the status line
        bool closes;
    };
    const Row rows[] = {
        { "honest", scripted([](Response&) {}),
            "Content-Length: 10\r\nConnection: keep-alive\r\n\r\n0123456789", false },
        { "announces more", scripted([](Response& r) { r.contentLength = 20; }),
            "Content-Length: 20\r\nConnection: keep-alive\r\n\r\n0123456789", true },
        { "announces less", scripted([](Response& r) { r.contentLength = 4; }),
            "Content-Length: 4\r\nConnection: keep-alive\r\n\r\n0123", false },
        { "no length", scripted([](Response& r) { r.omitContentLength = true; }),
            "Connection: close\r\n\r\n0123456789", true },
        { "drops mid-body", scripted([](Response& r) { r.closeAfter = 3; }),
            "Content-Length: 10\r\nConnection: keep-alive\r\n\r\n012", true },
        { "drops after the head", scripted([](Response& r) { r.closeAfter = 0; }),
            "Content-Length: 10\r\nConnection: keep-alive\r\n\r\n", true },
        { "drips", scripted([](Response& r) { r.chunkSize = 3; }),
            "Content-Length: 10\r\nConnection: keep-alive\r\n\r\n0123456789", false },
        { "framed by the caller", scripted([](Response& r) {
             r.headers = { { "Transfer-Encoding", "chunked" } };
             r.body = "3\r\nabc\r\n0\r\n\r\n";
         }),
            "Transfer-Encoding: chunked\r\nConnection: keep-alive\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false },
        { "no body for 304", scripted([](Response& r) { r.status = 304; }), "Connection: keep-alive\r\n\r\n",
            false },
    };
    TestServer server;
    server.on(u"/ping"_s, Response::text("pong"));
    for (const Row& row : rows) {
        server.on(u"/row"_s, row.response);
        RawClient client(server.port());
        client.send("GET /row HTTP/1.1\r\nHost: x\r\n\r\n");
        const QByteArray statusLine
            = row.response.status == 304 ? "HTTP/1.1 304 Not Modified\r\n" : "HTTP/1.1 200 OK\r\n";
        const QByteArray expected = statusLine + row.wire;
        if (row.closes) {
            EXPECT_TRUE(client.waitForClose()) << row.name;
            EXPECT_EQ(client.received(), expected) << row.name;
            continue;
        }
        // Still well framed: the next request on the connection gets its own answer.
        client.send("GET /ping HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_TRUE(client.waitForText("pong")) << row.name;
        EXPECT_TRUE(client.received().startsWith(QByteArray(expected + "HTTP/1.1 200 OK\r\n"))) << row.name;
        EXPECT_TRUE(client.connected()) << row.name;
    }
}

TEST(TestServer, AnswersConditionalRequests)
{
    TestServer server;
    const QByteArray modified = "Wed, 21 Oct 2015 07:28:00 GMT";
    server.onConditional(u"/index.json"_s, "[1,2,3]", "v1", modified);
    QNetworkAccessManager network;

    struct Row {
        const char* name;
        QByteArray ifNoneMatch;
        QByteArray ifModifiedSince;
        int status;
    };
    const Row rows[] = {
        { "unconditional", {}, {}, 200 },
        { "matching etag", "\"v1\"", {}, 304 },
        { "weak matching etag", "W/\"v1\"", {}, 304 },
        { "etag in a list", "\"v0\", \"v1\"", {}, 304 },
        { "any etag", "*", {}, 304 },
        { "other etag", "\"v2\"", {}, 200 },
        { "same date", {}, modified, 304 },
        { "later date", {}, "Thu, 22 Oct 2015 07:28:00 GMT", 304 },
        { "earlier date", {}, "Wed, 21 Oct 2015 07:27:59 GMT", 200 },
        { "unreadable date", {}, "yesterday", 200 },
        { "etag decides over date", "\"v2\"", modified, 200 },
    };
    for (const Row& row : rows) {
        QNetworkRequest request(server.url(u"/index.json"_s));
        if (!row.ifNoneMatch.isEmpty())
            request.setRawHeader("If-None-Match", row.ifNoneMatch);
        if (!row.ifModifiedSince.isEmpty())
            request.setRawHeader("If-Modified-Since", row.ifModifiedSince);
        const Fetched fetched = await(fetch(network, request));
        EXPECT_EQ(fetched.status, row.status) << row.name;
        EXPECT_EQ(fetched.body, row.status == 200 ? "[1,2,3]" : "") << row.name;
        EXPECT_EQ(fetched.etag, "\"v1\"") << row.name;
        EXPECT_EQ(fetched.lastModified, modified) << row.name;
    }
}

TEST(TestServer, AHandlerThatThrowsFailsTheTestAndAnswers500)
{
    TestServer server;
    server.on(u"/boom"_s, [](const RecordedRequest&) -> Response { throw std::runtime_error("boom"); });
    QNetworkAccessManager network;
    testing::TestPartResultArray failures;
    Fetched fetched;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        fetched = await(fetch(network, QNetworkRequest(server.url(u"/boom"_s))));
    }
    EXPECT_EQ(fetched.status, 500);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("boom"), std::string::npos);
}
