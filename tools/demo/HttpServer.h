#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;

namespace corvanta::demo {

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

// One HTTP request as the server read it.
struct HttpRequest {
    QByteArray method; // "GET"
    QByteArray target; // "/lookup?bundleId=…", as sent
    QByteArray version; // "HTTP/1.1"
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body; // as long as its Content-Length

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    bool hasHeader(const QByteArray& name) const { return headers.contains(name.toLower()); }
};

// What to answer: a status, headers, and a body in memory or a file to stream.
// Content-Length is added unless `headers` frame the body themselves or the
// status has none (1xx, 204, 304); a HEAD request gets the headers alone.
// The wire members default to an honest answer; the tests' servers use them
// to lie. Members are in the order designated initializers need.
struct HttpReply {
    int status = 200;
    HttpHeaders headers; // sent as given, in this order
    QByteArray body;
    QString file; // streamed from disk instead, a block at a time as the socket drains

    // Announced instead of the real length. More: the body is sent and the
    // connection closed, a short read. Less: only that much is sent.
    std::optional<qint64> contentLength;
    bool omitContentLength = false; // the body ends when the connection closes
    // Drip the body `chunkSize` bytes at a time, `chunkInterval` apart.
    qint64 chunkSize = 0;
    std::chrono::milliseconds chunkInterval { 0 };
    std::optional<qint64> closeAfter; // drop the connection once this many body bytes are out
    std::chrono::milliseconds delay { 0 }; // before the first byte, on top of the server's latency
    // Held back until this holds, without blocking the event loop: a test can
    // make one answer wait for an event that other answers bring about.
    std::function<bool()> heldUntil;

    static HttpReply text(QByteArray body, int status = 200, QByteArray type = "text/plain; charset=utf-8");
    static HttpReply json(QByteArray body, int status = 200);
    // Closes the connection after it: over a kept-alive one Qt's client now
    // and then sends the redirected request twice.
    static HttpReply redirect(const QUrl& location, int status = 302);
    static HttpReply redirect(const QString& location, int status = 302);
    static HttpReply notModified();

    HttpReply& withHeader(QByteArray name, QByteArray value);
    QByteArray header(const QByteArray& name) const;
};

// "Sun, 06 Dec 2026 20:20:21 GMT"
QByteArray httpDate(const QDateTime& time);
// None for anything but the format above.
std::optional<QDateTime> parseHttpDate(const QByteArray& text);

// A small HTTP/1.1 server on 127.0.0.1 that hands every request to one
// handler: keep-alive, requests of one connection answered in turn, several
// connections at once, files streamed with flow control. Served by the
// thread's event loop.
//
// It is a QTcpServer with a layer of its own rather than Qt HttpServer: Qt
// 6.4's HttpServer is a technical preview whose router can't take one handler
// for every path nor hold an answer back, and the tests need a server that
// can lie on the wire.
class HttpServer : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // Called once a request is read in full, before any delay.
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    // Listens on 127.0.0.1:`port`, any free port for 0. False, with
    // errorString(), when the port can't be had.
    bool listen(quint16 port = 0);
    void close();
    quint16 port() const;
    // "http://127.0.0.1:<port>/"
    QUrl base() const;
    QString errorString() const;

    // Every answer waits this long before its first byte.
    void setLatency(std::chrono::milliseconds latency) { m_latency = latency; }
    std::chrono::milliseconds latency() const { return m_latency; }

    // Requests read whose answer isn't out in full yet.
    int answering() const { return m_answering; }

Q_SIGNALS:
    // An answer was handed to the connection in full, body included.
    void served(const QString& method, const QString& target, int status);

private:
    friend class HttpConnection;

    void accept();

    QTcpServer* m_server;
    Handler m_handler;
    std::chrono::milliseconds m_latency { 0 };
    int m_answering = 0;
};

} // namespace corvanta::demo
