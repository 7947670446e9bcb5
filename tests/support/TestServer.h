#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

namespace corvanta::test {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One request as the server received it.
struct RecordedRequest {
    QByteArray method;
    QByteArray target; // the request target exactly as sent, e.g. "/a%20b?x=1"
    QString path; // percent-decoded path of the target, without the query
    QUrlQuery query;
    HeaderList headers; // in arrival order, names as sent
    QByteArray body; // de-chunked when the client sent it chunked
    int connection = 0; // serial number of the connection it came on, from 1

    // Value of the first header with this name (case-insensitive), or empty.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
};

// What to answer. Without `file` the body is `body`; a HEAD request gets the
// headers alone. Content-Length is added unless `headers` has Content-Length
// or Transfer-Encoding (then `body` goes out as given), `omitContentLength`
// is set or the status has no body (1xx, 204, 304). "Connection: close" in
// `headers` closes the connection after the response. Members are in the
// order designated initializers need: Response { .body = ..., .closeAfter = ... }.
struct Response {
    int status = 200;
    HeaderList headers; // sent as given, in this order
    QByteArray body;
    QString file; // stream the body from this file instead, never loading it whole

    // Lies about the length. Larger than the body: the body is sent and the
    // connection closed, so the client sees a short read. Smaller: only that
    // many bytes are sent, so the client sees a truncated but well-framed body.
    std::optional<qint64> contentLength;
    bool omitContentLength = false; // the body is delimited by closing the connection

    // Drip the body: `chunkSize` bytes at a time, `chunkInterval` apart.
    qint64 chunkSize = 0;
    std::chrono::milliseconds chunkInterval { 0 };

    // Drop the connection once this many body bytes are sent (0: right after
    // the headers). Qt's client then usually fails with RemoteHostClosedError,
    // but now and then resends the request (count() shows two) and reports
    // the short body as a success: only a body shorter than its Content-Length
    // tells reliably. The same goes for a `contentLength` above the body's.
    std::optional<qint64> closeAfter;
    std::chrono::milliseconds delay { 0 }; // wait this long before answering

    static Response text(QByteArray body, int status = 200, QByteArray type = "text/plain; charset=utf-8");
    static Response json(QByteArray body, int status = 200);
    static Response fromFile(QString path, QByteArray type = "application/octet-stream");
    // Closes the connection after it: over a kept-alive one Qt's client
    // now and then sends the redirected request twice.
    static Response redirect(const QUrl& location, int status = 302);
    static Response redirect(const QString& location, int status = 302);
    static Response notModified();

    Response& withHeader(QByteArray name, QByteArray value);
};

using Handler = std::function<Response(const RecordedRequest&)>;

namespace detail {
class ServerConnection;
}

// A scriptable HTTP/1.1 server on 127.0.0.1 with an ephemeral port, served by
// the main thread's event loop (so it answers while a test awaits; use it from
// the main thread only). Requests on one connection are answered in turn,
// several connections at once. Handlers can be replaced at any time, even from
// inside a handler; unknown paths answer 404; a handler that throws fails the
// test and answers 500.
class TestServer : public QObject {
public:
    TestServer(); // listening once constructed; fails the test if it cannot
    ~TestServer() override;
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    quint16 port() const;
    // http://127.0.0.1:<port><pathAndQuery>
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // Exact path (percent-decoded, query ignored); wins over any prefix.
    void on(const QString& path, Response response);
    void on(const QString& path, Handler handler);
    // Every path starting with `prefix`; the longest matching prefix wins.
    void onPrefix(const QString& prefix, Handler handler);
    // Answers `responses` in turn; the last one repeats once the others are used.
    void onSequence(const QString& path, QList<Response> responses);
    // Serves `body` with ETag and Last-Modified (either may be empty) and
    // answers 304 when If-None-Match names the ETag or, without
    // If-None-Match, when If-Modified-Since is at or after Last-Modified.
    void onConditional(const QString& path, QByteArray body, QByteArray etag, QByteArray lastModified);
    void remove(const QString& path); // exact or prefix route

    void setLatency(std::chrono::milliseconds latency); // added to every response

    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QString& path) const;
    int count(const QString& path) const;
    int connectionCount() const; // connections accepted so far
    // Most requests being answered at one moment: received, response not yet
    // fully sent. Used to assert concurrency limits.
    int maxConcurrent() const;
    int activeRequests() const;
    void clearRequests(); // forgets recorded requests and resets maxConcurrent

    // "Wed, 21 Oct 2015 07:28:00 GMT"
    static QByteArray httpDate(const QDateTime& time);
    static std::optional<QDateTime> parseHttpDate(const QByteArray& text);

private:
    friend class detail::ServerConnection;

    void accept();
    // Records the request and returns what to answer.
    Response dispatch(RecordedRequest request);
    void responseFinished();
    std::chrono::milliseconds latency() const { return m_latency; }

    QTcpServer m_server;
    QHash<QString, Handler> m_exact;
    std::vector<std::pair<QString, Handler>> m_prefixes;
    QList<RecordedRequest> m_requests;
    std::chrono::milliseconds m_latency { 0 };
    int m_connections = 0;
    int m_active = 0;
    int m_maxConcurrent = 0;
};

} // namespace corvanta::test
