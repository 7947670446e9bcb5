#include "demo/DemoServer.h"
#include "demo/WorldRoutes.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::demo;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

struct Fetched {
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QMap<QByteArray, QByteArray> headers; // names in lower case
};

// The server and a documents folder shaped like a world's, with a few files.
class DemoServerTest : public testing::Test {
protected:
    DemoServerTest()
    {
        write(u"api/cask.json"_s, R"([{"token":"tally","version":"2.1"}])");
        write(u"cask/tally.json"_s, R"({"token":"tally","version":"2.1"})");
        write(u"lookup/com.example.app.json"_s,
            R"({"resultCount":1,"results":[{"bundleId":"com.example.app"}]})");
        write(u"repos/acme/tool/releases/latest.json"_s, R"({"tag_name":"v1.0"})");
        write(u"feeds/app/appcast.xml"_s, "<rss/>");
        write(u"feeds/app/.secret"_s, "hidden");
        QByteArray big(3 * 1024 * 1024 + 17, '\0');
        QRandomGenerator generator(7);
        for (char& byte : big)
            byte = char(generator.generate());
        write(u"downloads/App 1.0.zip"_s, big);
        bigFile = big;
        // A link that leads out of the documents must not be followed.
        QFile::link(outside.filePath(u"private.txt"_s), documents.filePath(u"leak.txt"_s));
        QFile secret(outside.filePath(u"private.txt"_s));
        EXPECT_TRUE(secret.open(QIODevice::WriteOnly));
        secret.write("private");
        EXPECT_TRUE(server.listen());
    }

    void write(const QString& path, const QByteArray& bytes)
    {
        const QString file = documents.filePath(path);
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }

    Fetched fetch(const QString& path, const QList<std::pair<QByteArray, QByteArray>>& headers = {},
        const QByteArray& verb = "GET")
    {
        QNetworkRequest request(server.base().resolved(QUrl(path)));
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        // A custom HEAD would wait for the body its Content-Length announces.
        QNetworkReply* reply
            = verb == "HEAD" ? network.head(request) : network.sendCustomRequest(request, verb);
        EXPECT_TRUE(waitUntil([&] { return reply->isFinished(); }, std::chrono::seconds(20)));
        Fetched result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        result.error = reply->error();
        for (const auto& [name, value] : reply->rawHeaderPairs())
            result.headers.insert(name.toLower(), value);
        reply->deleteLater();
        return result;
    }

    // What the server answers to raw bytes on one connection, up to its close or `until` bytes.
    QByteArray raw(const QByteArray& request, qsizetype until = -1)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        EXPECT_TRUE(socket.waitForConnected(5000));
        socket.write(request);
        QByteArray answer;
        waitUntil(
            [&] {
                answer += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState
                    || (until >= 0 && answer.size() >= until);
            },
            std::chrono::seconds(10));
        return answer + socket.readAll();
    }

    QTemporaryDir documents;
    QTemporaryDir outside;
    QByteArray bigFile;
    DemoServer server { documents.path() };
    QNetworkAccessManager network;
};

struct RouteRow {
    const char* path;
    int status;
    const char* body; // a part of the body; empty: not checked
    const char* type; // Content-Type; empty: not checked
};

std::ostream& operator<<(std::ostream& os, const RouteRow& row)
{
    return os << row.path;
}

class DemoServerRoutes : public DemoServerTest, public testing::WithParamInterface<RouteRow> { };

// The paths the readers ask, and the ones that must stay unanswered.
TEST_P(DemoServerRoutes, AnswersWhatTheReadersAsk)
{
    const RouteRow& row = GetParam();
    const Fetched answer = fetch(QString::fromUtf8(row.path));
    EXPECT_EQ(answer.status, row.status);
    if (*row.body) {
        EXPECT_TRUE(answer.body.contains(row.body)) << answer.body.toStdString();
    }
    if (*row.type) {
        EXPECT_EQ(answer.headers.value("content-type"), row.type);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, DemoServerRoutes,
    testing::Values(RouteRow { "/lookup?bundleId=com.example.app&country=US", 200, "\"resultCount\":1",
                        "application/json; charset=utf-8" },
        RouteRow { "/lookup?bundleId=com.example.other&country=DE", 200, "{\"resultCount\":0,\"results\":[]}",
            "application/json; charset=utf-8" },
        RouteRow { "/lookup?bundleId=../api/cask&country=US", 200, "\"resultCount\":0", "" },
        RouteRow { "/lookup", 200, "\"resultCount\":0", "" },
        RouteRow { "/api/cask.json", 200, "\"token\":\"tally\"", "application/json; charset=utf-8" },
        RouteRow { "/cask/tally", 200, "{\"token\":\"tally\"", "application/json; charset=utf-8" },
        RouteRow { "/cask/tally.json", 200, "{\"token\":\"tally\"", "" },
        RouteRow { "/cask/missing", 404, "", "" },
        RouteRow { "/repos/acme/tool/releases/latest", 200, "\"tag_name\":\"v1.0\"", "" },
        RouteRow { "/repos/acme/other/releases/latest", 404, "\"message\":\"Not Found\"", "" },
        RouteRow { "/feeds/app/appcast.xml", 200, "<rss/>", "application/xml; charset=utf-8" },
        RouteRow { "/feeds/app/", 404, "", "" }, RouteRow { "/feeds/app/.secret", 404, "", "" },
        RouteRow { "/leak.txt", 404, "", "" }, RouteRow { "/", 200, "/api/cask.json", "" }));

TEST_F(DemoServerTest, CaskIndexAnswersConditionalRequestsWith304)
{
    const Fetched first = fetch(u"/api/cask.json"_s);
    ASSERT_EQ(first.status, 200);
    const QByteArray tag = first.headers.value("etag");
    const QByteArray modified = first.headers.value("last-modified");
    ASSERT_FALSE(tag.isEmpty());
    ASSERT_TRUE(parseHttpDate(modified).has_value()) << modified.toStdString();

    EXPECT_EQ(fetch(u"/api/cask.json"_s, { { "If-None-Match", tag } }).status, 304);
    EXPECT_EQ(fetch(u"/api/cask.json"_s, { { "If-None-Match", "\"other\", " + tag } }).status, 304);
    EXPECT_EQ(fetch(u"/api/cask.json"_s, { { "If-None-Match", "\"other\"" } }).status, 200);
    EXPECT_EQ(fetch(u"/api/cask.json"_s, { { "If-Modified-Since", modified } }).status, 304);
    // The entity tag decides when both are sent, as a cache would expect.
    EXPECT_EQ(
        fetch(u"/api/cask.json"_s, { { "If-None-Match", "\"other\"" }, { "If-Modified-Since", modified } })
            .status,
        200);
    const QByteArray earlier = httpDate(parseHttpDate(modified)->addSecs(-60));
    EXPECT_EQ(fetch(u"/api/cask.json"_s, { { "If-Modified-Since", earlier } }).status, 200);

    // A changed index gets a new tag, so the old one no longer matches.
    write(u"api/cask.json"_s, R"([{"token":"tally","version":"2.2"}, {"token":"new"}])");
    const Fetched changed = fetch(u"/api/cask.json"_s, { { "If-None-Match", tag } });
    EXPECT_EQ(changed.status, 200);
    EXPECT_TRUE(changed.body.contains("2.2"));
    EXPECT_NE(changed.headers.value("etag"), tag);
}

TEST_F(DemoServerTest, StreamsDownloadsWhole)
{
    const Fetched answer = fetch(u"/downloads/App%201.0.zip"_s);
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.headers.value("content-length"), QByteArray::number(bigFile.size()));
    EXPECT_EQ(answer.headers.value("content-type"), "application/zip");
    EXPECT_EQ(answer.headers.value("content-disposition"), "attachment; filename=\"App 1.0.zip\"");
    EXPECT_EQ(QCryptographicHash::hash(answer.body, QCryptographicHash::Sha256),
        QCryptographicHash::hash(bigFile, QCryptographicHash::Sha256));

    const Fetched head = fetch(u"/downloads/App%201.0.zip"_s, {}, "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.headers.value("content-length"), QByteArray::number(bigFile.size()));
    EXPECT_TRUE(head.body.isEmpty());
}

TEST_F(DemoServerTest, RefusesOtherMethods)
{
    const Fetched answer = fetch(u"/api/cask.json"_s, {}, "POST");
    EXPECT_EQ(answer.status, 405);
    EXPECT_EQ(answer.headers.value("allow"), "GET, HEAD");
}

// Keep-alive and pipelining on one connection, then a request that closes it.
TEST_F(DemoServerTest, AnswersRequestsOfOneConnectionInOrder)
{
    const QByteArray answer = raw("GET /cask/tally HTTP/1.1\r\nHost: x\r\n\r\n"
                                  "GET /cask/missing HTTP/1.1\r\nHost: x\r\n\r\n"
                                  "HEAD /api/cask.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const qsizetype first = answer.indexOf("HTTP/1.1 200 OK");
    const qsizetype second = answer.indexOf("HTTP/1.1 404 Not Found");
    const qsizetype third = answer.indexOf("HTTP/1.1 200 OK", first + 1);
    ASSERT_GE(first, 0) << answer.toStdString();
    EXPECT_GT(second, first);
    EXPECT_GT(third, second);
    EXPECT_TRUE(answer.mid(first, second - first).contains("Connection: keep-alive"));
    EXPECT_TRUE(answer.mid(third).contains("Connection: close"));
    EXPECT_TRUE(answer.endsWith("\r\n\r\n")) << "a HEAD answer has no body";
}

TEST_F(DemoServerTest, RefusesWhatIsNotAnHttpRequest)
{
    EXPECT_TRUE(raw("HELLO\r\n\r\n").startsWith("HTTP/1.1 400 Bad Request"));
    EXPECT_TRUE(raw("GET ../../etc/passwd HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 400 Bad Request"));
    EXPECT_TRUE(raw("GET /../../" + QFileInfo(outside.path()).fileName().toUtf8()
        + "/private.txt HTTP/1.1\r\nConnection: close\r\n\r\n")
                    .startsWith("HTTP/1.1 404 Not Found"));
    // Encoded dots reach the server as they are (a client would resolve plain ones).
    EXPECT_TRUE(raw("GET /feeds/app/%2E%2E/%2E%2E/api/cask.json HTTP/1.1\r\nConnection: close\r\n\r\n")
                    .startsWith("HTTP/1.1 404 Not Found"));
    EXPECT_TRUE(raw("GET / HTTP/1.1\r\nX: " + QByteArray(70 * 1024, 'a')).startsWith("HTTP/1.1 431"));
    EXPECT_TRUE(raw("GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n").startsWith("HTTP/1.1 400 Bad Request"));
    // A body is read past: the next request on the connection is answered.
    const QByteArray withBody = raw("GET /cask/tally HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcd"
                                    "GET /cask/missing HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(withBody.startsWith("HTTP/1.1 200 OK"));
    EXPECT_TRUE(withBody.contains("HTTP/1.1 404 Not Found"));
    // HTTP/1.0 closes after one answer unless asked to keep the connection.
    const QByteArray old = raw("GET /cask/tally HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(old.startsWith("HTTP/1.1 200 OK"));
    EXPECT_TRUE(old.contains("Connection: close"));
}

TEST_F(DemoServerTest, DelaysEveryAnswerByTheLatency)
{
    server.setLatency(std::chrono::milliseconds(300));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(fetch(u"/cask/tally"_s).status, 200);
    EXPECT_GE(timer.elapsed(), 300);
}

TEST_F(DemoServerTest, ReportsEveryAnswer)
{
    QStringList served;
    QObject::connect(
        &server, &DemoServer::served, &server, [&](const QString& method, const QString& target, int status) {
            served << method + u' ' + target + u' ' + QString::number(status);
        });
    fetch(u"/cask/tally"_s);
    fetch(u"/lookup?bundleId=x&country=US"_s);
    fetch(u"/nothing"_s);
    EXPECT_EQ(served,
        (QStringList {
            u"GET /cask/tally 200"_s, u"GET /lookup?bundleId=x&country=US 200"_s, u"GET /nothing 404"_s }));
}

TEST_F(DemoServerTest, ServesOnTheAddressItReports)
{
    EXPECT_EQ(server.base(), QUrl(u"http://127.0.0.1:%1/"_s.arg(server.port())));
    DemoServer second(documents.path());
    EXPECT_FALSE(second.listen(server.port()));
    EXPECT_FALSE(second.errorString().isEmpty());
    server.close();
    EXPECT_NE(fetch(u"/cask/tally"_s).error, QNetworkReply::NoError);
}

TEST(HttpDate, RoundTrips)
{
    const QDateTime time(QDate(2026, 12, 6), QTime(20, 20, 21), Qt::UTC);
    EXPECT_EQ(httpDate(time), "Sun, 06 Dec 2026 20:20:21 GMT");
    EXPECT_EQ(parseHttpDate("Sun, 06 Dec 2026 20:20:21 GMT"), time);
    EXPECT_FALSE(parseHttpDate("yesterday").has_value());
    EXPECT_FALSE(parseHttpDate("").has_value());
}

} // namespace
