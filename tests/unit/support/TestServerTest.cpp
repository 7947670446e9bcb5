#include "support/TestServer.h"

#include "support/Await.h"

#include <memory>
#include <random>
#include <vector>

#include <QCoro/QCoroNetworkReply>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using corvanta::test::await;
using corvanta::test::RecordedRequest;
using corvanta::test::Response;
using corvanta::test::TestServer;
using corvanta::test::waitUntil;

namespace {

struct Fetched {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QUrl url;
    QNetworkReply* reply = nullptr; // only valid inside the task
    QList<QNetworkReply::RawHeaderPair> headers;
    int reads = 0; // readyRead signals seen

    QByteArray header(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

QCoro::Task<Fetched> fetch(
    QNetworkAccessManager& network, QNetworkRequest request, QByteArray verb = "GET", QByteArray body = {})
{
    // A custom HEAD would wait for the announced body, so HEAD takes its own call.
    std::unique_ptr<QNetworkReply> reply(
        verb == "HEAD" ? network.head(request) : network.sendCustomRequest(request, verb, body));
    Fetched fetched;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), [&fetched, raw = reply.get()] {
        ++fetched.reads;
        fetched.body += raw->readAll();
    });
    co_await reply.get();
    fetched.body += reply->readAll();
    fetched.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    fetched.error = reply->error();
    fetched.url = reply->url();
    fetched.headers = reply->rawHeaderPairs();
    co_return fetched;
}

Fetched get(QNetworkAccessManager& network, const QUrl& url)
{
    return await(fetch(network, QNetworkRequest(url)));
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

QByteArray noise(qsizetype size)
{
    std::mt19937 generator(42);
    QByteArray data(size, Qt::Uninitialized);
    for (char& byte : data)
        byte = char(generator() & 0xff);
    return data;
}

// Qt's client sometimes takes a connection dropped mid-body for a stale one,
// sends the request again and then reports the short body as a success, so
// only a shortfall against Content-Length tells reliably that a body is cut.
bool cutShort(const Fetched& fetched)
{
    bool announced = false;
    const qint64 length = fetched.header("Content-Length").toLongLong(&announced);
    return fetched.error != QNetworkReply::NoError || (announced && fetched.body.size() < length);
}

} // namespace

TEST(TestServer, ListensOnAnEphemeralLoopbackPort)
{
    TestServer first;
    TestServer second;
    EXPECT_NE(first.port(), 0);
    EXPECT_NE(first.port(), second.port());
    EXPECT_EQ(first.url(u"/a?b=c"_s), QUrl(u"http://127.0.0.1:%1/a?b=c"_s.arg(first.port())));
}

TEST(TestServer, ServesAStaticBodyWithItsHeaders)
{
    TestServer server;
    server.on(u"/hello"_s, Response::text("hi there").withHeader("X-Answer", "42"));
    QNetworkAccessManager network;

    const Fetched fetched = get(network, server.url(u"/hello"_s));

    EXPECT_EQ(fetched.error, QNetworkReply::NoError);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, "hi there");
    EXPECT_EQ(fetched.header("X-Answer"), "42");
    EXPECT_EQ(fetched.header("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(fetched.header("Content-Length"), "8");
}

TEST(TestServer, AnswersTheStatusItIsGiven)
{
    TestServer server;
    QNetworkAccessManager network;
    for (const int status : { 200, 201, 204, 400, 401, 403, 404, 410, 429, 500, 503, 599 }) {
        const QString path = u"/status/%1"_s.arg(status);
        server.on(path, Response::text(status == 204 ? "" : "body", status));
        const Fetched fetched = get(network, server.url(path));
        EXPECT_EQ(fetched.status, status) << status;
        EXPECT_EQ(fetched.body, status == 204 ? "" : "body") << status;
    }
    EXPECT_EQ(get(network, server.url(u"/nowhere"_s)).status, 404);
    EXPECT_EQ(server.count(u"/nowhere"_s), 1);
}

TEST(TestServer, AnswersHeadWithTheHeadersAlone)
{
    TestServer server;
    server.on(u"/file"_s, Response::text("0123456789"));
    QNetworkAccessManager network;

    const Fetched head = await(fetch(network, QNetworkRequest(server.url(u"/file"_s)), "HEAD"));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Length"), "10");
    EXPECT_TRUE(head.body.isEmpty());
    // The connection is still well framed for the next request.
    EXPECT_EQ(get(network, server.url(u"/file"_s)).body, "0123456789");
    EXPECT_EQ(server.connectionCount(), 1);
}

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
        { "honest", scripted([](Response&) {}), "Content-Length: 10\r\n\r\n0123456789", false },
        { "announces more", scripted([](Response& r) { r.contentLength = 20; }),
            "Content-Length: 20\r\n\r\n0123456789", true },
        { "announces less", scripted([](Response& r) { r.contentLength = 4; }),
            "Content-Length: 4\r\n\r\n0123", false },
        { "no length", scripted([](Response& r) { r.omitContentLength = true; }),
            "Connection: close\r\n\r\n0123456789", true },
        { "drops mid-body", scripted([](Response& r) { r.closeAfter = 3; }), "Content-Length: 10\r\n\r\n012",
            true },
        { "drops after the head", scripted([](Response& r) { r.closeAfter = 0; }),
            "Content-Length: 10\r\n\r\n", true },
        { "drips", scripted([](Response& r) { r.chunkSize = 3; }), "Content-Length: 10\r\n\r\n0123456789",
            false },
        { "framed by the caller", scripted([](Response& r) {
             r.headers = { { "Transfer-Encoding", "chunked" } };
             r.body = "3\r\nabc\r\n0\r\n\r\n";
         }),
            "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false },
        { "no body for 304", scripted([](Response& r) { r.status = 304; }), "\r\n", false },
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

TEST(TestServer, ClientsSeeBodiesThatLieAboutTheirLength)
{
    TestServer server;
    Response longer = Response::text("short body");
    longer.contentLength = 1000;
    server.on(u"/longer"_s, longer);
    Response shorter = Response::text("0123456789");
    shorter.contentLength = 4;
    server.on(u"/shorter"_s, shorter);
    Response unannounced = Response::text("until the end");
    unannounced.omitContentLength = true;
    server.on(u"/unannounced"_s, unannounced);
    QNetworkAccessManager network;

    const Fetched cut = get(network, server.url(u"/longer"_s));
    EXPECT_TRUE(cutShort(cut));
    EXPECT_EQ(cut.body, QByteArray("short body").left(cut.body.size()));

    const Fetched truncated = get(network, server.url(u"/shorter"_s));
    EXPECT_EQ(truncated.error, QNetworkReply::NoError);
    EXPECT_EQ(truncated.body, "0123");

    const Fetched closeDelimited = get(network, server.url(u"/unannounced"_s));
    EXPECT_EQ(closeDelimited.error, QNetworkReply::NoError);
    EXPECT_EQ(closeDelimited.body, "until the end");
    EXPECT_TRUE(closeDelimited.header("Content-Length").isEmpty());
}

TEST(TestServer, DripsTheBodyInChunks)
{
    TestServer server;
    const QByteArray body = noise(500);
    Response slow;
    slow.body = body;
    slow.chunkSize = 100;
    slow.chunkInterval = 60ms;
    server.on(u"/slow"_s, slow);
    QNetworkAccessManager network;

    QElapsedTimer clock;
    clock.start();
    const Fetched fetched = get(network, server.url(u"/slow"_s));

    EXPECT_EQ(fetched.error, QNetworkReply::NoError);
    EXPECT_EQ(fetched.body, body);
    // Four pauses separate five chunks; the client saw them arrive apart.
    EXPECT_GE(clock.elapsed(), 4 * 60 - 20);
    EXPECT_GE(fetched.reads, 2);
}

TEST(TestServer, ClientsSeeTheConnectionDropMidBody)
{
    TestServer server;
    const QByteArray body = noise(4000);
    Response dropped;
    dropped.body = body;
    dropped.closeAfter = 1500;
    server.on(u"/dropped"_s, dropped);
    QNetworkAccessManager network;

    const Fetched fetched = get(network, server.url(u"/dropped"_s));

    EXPECT_TRUE(cutShort(fetched));
    EXPECT_LE(fetched.body.size(), 1500);
    EXPECT_EQ(fetched.body, body.left(fetched.body.size()));
}

TEST(TestServer, RedirectsAreFollowedByTheClient)
{
    TestServer server;
    server.on(u"/old"_s, Response::redirect(u"/new"_s));
    server.on(u"/absolute"_s, Response::redirect(server.url(u"/new?from=absolute"_s), 301));
    server.on(u"/new"_s, Response::text("moved here"));
    QNetworkAccessManager network;

    for (const QString& start : { u"/old"_s, u"/absolute"_s }) {
        const Fetched fetched = get(network, server.url(start));
        EXPECT_EQ(fetched.status, 200) << start.toStdString();
        EXPECT_EQ(fetched.body, "moved here") << start.toStdString();
        EXPECT_EQ(fetched.url.path(), u"/new"_s) << start.toStdString();
    }
    EXPECT_EQ(server.count(u"/old"_s), 1);
    EXPECT_EQ(server.count(u"/new"_s), 2);
    EXPECT_EQ(server.requests(u"/new"_s).last().query.queryItemValue(u"from"_s), u"absolute"_s);
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
        EXPECT_EQ(fetched.header("ETag"), "\"v1\"") << row.name;
        EXPECT_EQ(fetched.header("Last-Modified"), modified) << row.name;
    }
}

TEST(TestServer, HttpDatesRoundTrip)
{
    const QDateTime time(QDate(2015, 10, 21), QTime(7, 28), Qt::UTC);
    EXPECT_EQ(TestServer::httpDate(time), "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(TestServer::parseHttpDate("Wed, 21 Oct 2015 07:28:00 GMT"), time);
    EXPECT_EQ(TestServer::parseHttpDate("Wed, 21 Oct 2015 09:28:00 +0200"), time);
    EXPECT_FALSE(TestServer::parseHttpDate("21/10/2015"));
}

TEST(TestServer, RecordsWhatAPostCarried)
{
    TestServer server;
    server.on(u"/api/items"_s, Response::json("{}", 201));
    QNetworkAccessManager network;
    QNetworkRequest request(server.url(u"/api/items?name=My%20App&tag=a&tag=b"_s));
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("X-Token", "secret");

    const Fetched fetched = await(fetch(network, request, "POST", R"({"id":7})"));

    EXPECT_EQ(fetched.status, 201);
    ASSERT_EQ(server.requests().size(), 1);
    const RecordedRequest recorded = server.requests().first();
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.path, u"/api/items"_s);
    EXPECT_EQ(recorded.target, "/api/items?name=My%20App&tag=a&tag=b");
    EXPECT_EQ(recorded.query.queryItemValue(u"name"_s, QUrl::FullyDecoded), u"My App"_s);
    EXPECT_EQ(recorded.query.allQueryItemValues(u"tag"_s), (QStringList { u"a"_s, u"b"_s }));
    EXPECT_EQ(recorded.header("x-token"), "secret");
    EXPECT_EQ(recorded.header("CONTENT-TYPE"), "application/json");
    EXPECT_FALSE(recorded.hasHeader("x-missing"));
    EXPECT_EQ(recorded.body, R"({"id":7})");
}

TEST(TestServer, DecodesPathsAndChunkedRequestBodies)
{
    TestServer server;
    server.on(u"/files/My App.dmg"_s, Response::text("found"));
    RawClient client(server.port());
    client.send("PUT /files/My%20App.dmg HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                "5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\nX-Trailer: t\r\n\r\n");

    ASSERT_TRUE(client.waitForText("found"));
    EXPECT_TRUE(client.received().startsWith("HTTP/1.1 200 OK\r\n"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().first().method, "PUT");
    EXPECT_EQ(server.requests().first().body, "hello, world");
}

TEST(TestServer, SendsContinueWhenTheClientExpectsIt)
{
    TestServer server;
    server.on(u"/upload"_s, Response::text("stored"));
    RawClient client(server.port());
    client.send("POST /upload HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\n");
    ASSERT_TRUE(client.waitForText("100 Continue"));
    client.send("data");
    ASSERT_TRUE(client.waitForText("stored"));
    EXPECT_EQ(server.requests().first().body, "data");
}

TEST(TestServer, RejectsMalformedRequests)
{
    TestServer server;
    for (const QByteArray& bad : { QByteArray("NONSENSE\r\n\r\n"), QByteArray("GET / HTTP/2.0\r\n\r\n"),
             QByteArray("GET / HTTP/1.1\r\nno colon here\r\n\r\n"),
             QByteArray("POST / HTTP/1.1\r\nContent-Length: -3\r\n\r\n") }) {
        RawClient client(server.port());
        client.send(bad);
        EXPECT_TRUE(client.waitForClose()) << bad.constData();
        EXPECT_TRUE(client.received().startsWith("HTTP/1.1 400 ")) << bad.constData();
    }
    RawClient huge(server.port());
    huge.send("GET / HTTP/1.1\r\nX-Big: " + QByteArray(70 * 1024, 'a'));
    EXPECT_TRUE(huge.waitForClose());
    EXPECT_TRUE(huge.received().startsWith("HTTP/1.1 431 "));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(TestServer, CountsRequestsAnsweredAtOnce)
{
    TestServer server;
    Response slow = Response::text("slow");
    slow.delay = 500ms;
    server.on(u"/slow"_s, slow);
    QNetworkAccessManager network;

    std::vector<std::unique_ptr<QNetworkReply>> replies;
    for (int i = 0; i < 5; ++i)
        replies.emplace_back(network.get(QNetworkRequest(server.url(u"/slow"_s))));
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(
            replies.begin(), replies.end(), [](const auto& reply) { return reply->isFinished(); });
    }));

    for (const auto& reply : replies)
        EXPECT_EQ(reply->readAll(), "slow");
    EXPECT_EQ(server.maxConcurrent(), 5);
    EXPECT_EQ(server.activeRequests(), 0);
    server.clearRequests();
    EXPECT_EQ(server.maxConcurrent(), 0);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(TestServer, ServesSixteenConnectionsInParallel)
{
    TestServer server;
    Response slow = Response::text("done");
    slow.delay = 500ms;
    server.on(u"/slow"_s, slow);

    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<RawClient>(server.port()));
        clients.back()->send("GET /slow HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    for (const auto& client : clients)
        EXPECT_TRUE(client->waitForText("done"));
    EXPECT_EQ(server.maxConcurrent(), 16);
    EXPECT_EQ(server.connectionCount(), 16);
}

TEST(TestServer, StreamsAFileBackedBody)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"payload.bin"_s);
    const QByteArray payload = noise(5 * 1024 * 1024 + 123);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(payload), payload.size());
    }
    TestServer server;
    server.on(u"/payload.bin"_s, Response::fromFile(path));
    Response partial = Response::fromFile(path);
    partial.closeAfter = 2 * 1024 * 1024;
    server.on(u"/partial.bin"_s, partial);
    QNetworkAccessManager network;

    const Fetched whole = get(network, server.url(u"/payload.bin"_s));
    EXPECT_EQ(whole.error, QNetworkReply::NoError);
    EXPECT_EQ(whole.header("Content-Length"), QByteArray::number(payload.size()));
    EXPECT_TRUE(whole.body == payload);

    const Fetched cut = get(network, server.url(u"/partial.bin"_s));
    EXPECT_TRUE(cutShort(cut));
    EXPECT_LE(cut.body.size(), 2 * 1024 * 1024);
    EXPECT_TRUE(cut.body == payload.left(cut.body.size()));
}

TEST(TestServer, ReportsAMissingFileAsAServerError)
{
    TestServer server;
    server.on(u"/gone"_s, Response::fromFile(u"/nonexistent/file.bin"_s));
    QNetworkAccessManager network;
    testing::TestPartResultArray failures;
    Fetched fetched;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        fetched = get(network, server.url(u"/gone"_s));
    }
    EXPECT_EQ(fetched.status, 500);
    EXPECT_EQ(failures.size(), 1);
}

TEST(TestServer, ReusesOneConnectionForSequentialRequests)
{
    TestServer server;
    server.on(u"/a"_s, Response::text("a"));
    server.on(u"/b"_s, Response::text("b"));
    QNetworkAccessManager network;

    EXPECT_EQ(get(network, server.url(u"/a"_s)).body, "a");
    EXPECT_EQ(get(network, server.url(u"/b"_s)).body, "b");
    EXPECT_EQ(get(network, server.url(u"/a"_s)).body, "a");

    EXPECT_EQ(server.connectionCount(), 1);
    for (const RecordedRequest& request : server.requests())
        EXPECT_EQ(request.connection, 1);
}

TEST(TestServer, AnswersPipelinedRequestsInOrderAndHonoursClose)
{
    TestServer server;
    server.on(u"/first"_s, [] {
        Response response = Response::text("one");
        response.delay = 50ms; // the second request is already waiting
        return response;
    }());
    server.on(u"/second"_s, Response::text("two"));
    RawClient client(server.port());
    client.send(
        "GET /first HTTP/1.1\r\nHost: x\r\n\r\nGET /second HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");

    ASSERT_TRUE(client.waitForClose());
    const QByteArray& received = client.received();
    EXPECT_LT(received.indexOf("one"), received.indexOf("two"));
    EXPECT_EQ(received.count("HTTP/1.1 200 OK"), 2);
    EXPECT_TRUE(received.contains("Connection: close"));
}

TEST(TestServer, KeepsHttp10ConnectionsOnlyWhenAsked)
{
    TestServer server;
    server.on(u"/"_s, Response::text("x"));
    RawClient plain(server.port());
    plain.send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(plain.waitForClose());

    RawClient kept(server.port());
    kept.send("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    ASSERT_TRUE(kept.waitForText("\r\n\r\nx"));
    kept.send("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    ASSERT_TRUE(kept.waitForText("\r\n\r\nx", 2));
    EXPECT_TRUE(kept.connected());
}

TEST(TestServer, HandlersSeeTheRequestAndCanBeReplaced)
{
    TestServer server;
    server.on(
        u"/echo"_s, [](const RecordedRequest& request) { return Response::text(request.header("x-say")); });
    server.onPrefix(u"/api/"_s,
        [](const RecordedRequest& request) { return Response::text("api:" + request.path.toUtf8()); });
    server.onPrefix(u"/api/v2/"_s, [](const RecordedRequest&) { return Response::text("v2"); });
    server.onSequence(u"/seq"_s, { Response::text("first"), Response::text("second") });
    QNetworkAccessManager network;

    QNetworkRequest echo(server.url(u"/echo"_s));
    echo.setRawHeader("X-Say", "hello");
    EXPECT_EQ(await(fetch(network, echo)).body, "hello");
    EXPECT_EQ(get(network, server.url(u"/api/cask.json"_s)).body, "api:/api/cask.json");
    EXPECT_EQ(get(network, server.url(u"/api/v2/x"_s)).body, "v2");
    EXPECT_EQ(get(network, server.url(u"/seq"_s)).body, "first");
    EXPECT_EQ(get(network, server.url(u"/seq"_s)).body, "second");
    EXPECT_EQ(get(network, server.url(u"/seq"_s)).body, "second");

    // A handler that replaces itself while it runs.
    server.on(u"/once"_s, [&server](const RecordedRequest&) {
        server.on(u"/once"_s, Response::text("later", 410));
        return Response::text("first time");
    });
    EXPECT_EQ(get(network, server.url(u"/once"_s)).body, "first time");
    EXPECT_EQ(get(network, server.url(u"/once"_s)).status, 410);

    server.remove(u"/api/"_s);
    EXPECT_EQ(get(network, server.url(u"/api/cask.json"_s)).status, 404);
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
        fetched = get(network, server.url(u"/boom"_s));
    }
    EXPECT_EQ(fetched.status, 500);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("boom"), std::string::npos);
}

TEST(TestServer, AddsLatencyToEveryResponse)
{
    TestServer server;
    server.on(u"/"_s, Response::text("late"));
    server.setLatency(150ms);
    QNetworkAccessManager network;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(get(network, server.url()).body, "late");
    EXPECT_GE(clock.elapsed(), 140);
}

TEST(TestServer, ClosesCleanlyWithConnectionsOpen)
{
    QNetworkAccessManager network;
    auto server = std::make_unique<TestServer>();
    Response slow = Response::text("never");
    slow.delay = 10s;
    server->on(u"/slow"_s, slow);
    Response dripping;
    dripping.body = noise(10000);
    dripping.chunkSize = 10;
    dripping.chunkInterval = 20ms;
    server->on(u"/drip"_s, dripping);
    server->on(u"/quick"_s, Response::text("quick"));

    EXPECT_EQ(get(network, server->url(u"/quick"_s)).body, "quick"); // leaves an idle kept-alive connection
    // Tasks start at once and run until the reply is sent.
    auto waiting = fetch(network, QNetworkRequest(server->url(u"/slow"_s)));
    auto streaming = fetch(network, QNetworkRequest(server->url(u"/drip"_s)));
    ASSERT_TRUE(waitUntil([&] { return server->activeRequests() == 2; }));

    server.reset();

    EXPECT_TRUE(cutShort(await(std::move(waiting))));
    EXPECT_TRUE(cutShort(await(std::move(streaming))));
}

TEST(TestServer, SpeaksHttpWithCurl)
{
    const QString curl = QStandardPaths::findExecutable(u"curl"_s);
    if (curl.isEmpty())
        GTEST_SKIP() << "curl is not installed";
    TestServer server;
    server.on(u"/a"_s, Response::text("first "));
    server.on(u"/b"_s, Response::text("second"));
    server.on(u"/upload"_s, [](const RecordedRequest& request) {
        return Response::text(
            QByteArray::number(request.body.size()) + ' ' + request.header("transfer-encoding"));
    });
    // curl waits for the server's blocking socket in its own process, so it runs beside the event loop.
    const auto run = [&](const QStringList& arguments, const QByteArray& input = {}) {
        QProcess process;
        process.start(
            curl, QStringList { u"--silent"_s, u"--show-error"_s, u"--noproxy"_s, u"*"_s } + arguments);
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        return process.readAllStandardOutput();
    };

    // Two addresses in one run share a connection.
    EXPECT_EQ(run({ server.url(u"/a"_s).toString(), server.url(u"/b"_s).toString() }), "first second");
    EXPECT_EQ(server.connectionCount(), 1);

    // An upload from standard input goes chunked.
    const QByteArray upload = noise(300 * 1024);
    EXPECT_EQ(
        run({ u"--upload-file"_s, u"-"_s, server.url(u"/upload"_s).toString() }, upload), "307200 chunked");
    EXPECT_TRUE(server.requests(u"/upload"_s).last().body == upload);
}

TEST(TestServer, FailsRoutesThatCouldNeverMatch)
{
    TestServer server;
    testing::TestPartResultArray failures;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        server.on(u"/search?q=x"_s, Response::text("x"));
        server.onPrefix(u"api/"_s, [](const RecordedRequest&) { return Response::text("x"); });
        server.on(u"/fine"_s, Response::text("x"));
    }
    EXPECT_EQ(failures.size(), 2);
}
