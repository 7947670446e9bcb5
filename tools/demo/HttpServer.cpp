#include "demo/HttpServer.h"

#include <algorithm>
#include <memory>

#include <QFile>
#include <QHostAddress>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

constexpr qsizetype maxHeadSize = 64 * 1024;
constexpr qint64 maxBodySize = 16 * 1024 * 1024;
constexpr qint64 blockSize = 64 * 1024;
// Enough to keep the socket busy, small enough that a GiB body never piles up.
constexpr qint64 highWater = 256 * 1024;

const auto httpDateFormat = u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// The comma-separated tokens of a header such as Connection, lower-cased.
QList<QByteArray> tokens(const QByteArray& value)
{
    QList<QByteArray> result;
    for (const QByteArray& token : value.split(','))
        result.append(token.trimmed().toLower());
    return result;
}

} // namespace

// One client connection: reads requests one after another, answering each
// before reading the next, and streams the body as the socket drains.
class HttpConnection : public QObject {
public:
    HttpConnection(HttpServer& server, QTcpSocket* socket)
        : QObject(&server)
        , m_server(server)
        , m_socket(socket)
    {
        m_socket->setParent(this);
        // Dripped chunks must leave as they are written, not when Nagle allows.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_timer.setSingleShot(true);
        // A coarse timer may fire early, and a delay is a promise of at least that long.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::read);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::pump);
        connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::disconnected);
        connect(&m_timer, &QTimer::timeout, this, [this] { m_state == State::waiting ? respond() : pump(); });
        connect(&m_hold, &QTimer::timeout, this, [this] {
            if (m_reply.heldUntil()) {
                m_hold.stop();
                answer();
            }
        });
        // Never answer inside the server's accept: a handler that spins the
        // event loop there would keep every other connection from being accepted.
        if (m_socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(this, &HttpConnection::read, Qt::QueuedConnection);
    }

    ~HttpConnection() override
    {
        QObject::disconnect(m_socket, nullptr, this, nullptr);
        release();
        m_socket->abort();
    }

private:
    enum class State { reading, waiting, sending, draining, closing };

    void read()
    {
        m_input += m_socket->readAll();
        if (m_state == State::reading)
            next();
    }

    // Starts on the next complete request in the input, if there is one.
    void next()
    {
        const qsizetype end = m_input.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_input.size() > maxHeadSize)
                refuse(431);
            return;
        }
        const QList<QByteArray> lines = m_input.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.size() != 3 || first[0].isEmpty() || first[1].isEmpty() || !first[2].startsWith("HTTP/1."))
            return refuse(400);
        HttpRequest request { first[0], first[1], first[2], {}, {} };
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon <= 0)
                return refuse(400);
            request.headers.insert(
                lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        // Clients here send bodies with a length only.
        if (request.hasHeader("transfer-encoding"))
            return refuse(411);
        bool sized = true;
        const QByteArray length = request.header("content-length");
        const qint64 bodySize = length.isEmpty() ? 0 : length.toLongLong(&sized);
        if (!sized || bodySize < 0 || bodySize > maxBodySize)
            return refuse(400);
        if (m_input.size() < end + 4 + bodySize)
            return;
        request.body = m_input.mid(end + 4, bodySize);
        m_input.remove(0, end + 4 + bodySize);

        const QList<QByteArray> connection = tokens(request.header("connection"));
        m_keepAlive = request.version == "HTTP/1.0" ? connection.contains("keep-alive")
                                                    : !connection.contains("close");
        m_headOnly = request.method == "HEAD";
        m_method = QString::fromLatin1(request.method);
        m_target = QString::fromUtf8(request.target);
        m_state = State::waiting;
        m_counted = true;
        ++m_server.m_answering;
        m_reply = m_server.m_handler ? m_server.m_handler(request) : HttpReply::text("Not Found\n", 404);
        if (m_reply.heldUntil && !m_reply.heldUntil()) {
            m_hold.start(1);
            return;
        }
        answer();
    }

    // Once the reply is no longer held: the delay, then the reply.
    void answer()
    {
        const auto wait = m_server.latency() + m_reply.delay;
        if (wait.count() > 0)
            m_timer.start(wait);
        else
            respond();
    }

    void refuse(int status)
    {
        const QByteArray body = reasonPhrase(status) + '\n';
        m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
            + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body);
        m_input.clear();
        close();
    }

    void respond()
    {
        qint64 actual = m_reply.body.size();
        if (!m_reply.file.isEmpty()) {
            m_file = std::make_unique<QFile>(m_reply.file);
            if (m_file->open(QIODevice::ReadOnly)) {
                actual = m_file->size();
            } else {
                m_file.reset();
                m_reply = HttpReply::text("Can't read the file.\n", 500);
                actual = m_reply.body.size();
            }
        }
        const int status = m_reply.status;
        const bool bodyless = status < 200 || status == 204 || status == 304;
        const bool framed
            = m_reply.header("content-length").size() || m_reply.header("transfer-encoding").size();
        const bool announces = !bodyless && !m_reply.omitContentLength && !framed;
        const qint64 announced = m_reply.contentLength.value_or(actual);
        const QByteArray connection = m_reply.header("connection");
        const bool announcedClose
            = !m_keepAlive || m_reply.omitContentLength || tokens(connection).contains("close");

        m_toSend = bodyless || m_headOnly ? 0 : announces ? std::min(actual, announced) : actual;
        // A body shorter than announced can only end by closing.
        bool faultClose = announces && announced > actual && !m_headOnly;
        if (m_reply.closeAfter) {
            m_toSend = std::clamp(*m_reply.closeAfter, qint64(0), m_toSend);
            faultClose = true;
        }
        m_closeAfter = announcedClose || faultClose;

        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
        for (const auto& [name, value] : std::as_const(m_reply.headers))
            head += name + ": " + value + "\r\n";
        if (announces)
            head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
        if (connection.isEmpty())
            head += announcedClose ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
        m_socket->write(head + "\r\n");
        m_state = State::sending;
        m_sent = 0;
        pump();
    }

    // Feeds the socket while it has room; finishes once the body is queued.
    void pump()
    {
        if (m_state == State::draining) {
            if (m_socket->bytesToWrite() == 0)
                finish();
            return;
        }
        if (m_state != State::sending || m_timer.isActive())
            return;
        while (m_sent < m_toSend && m_socket->bytesToWrite() < highWater) {
            qint64 size = std::min(blockSize, m_toSend - m_sent);
            if (m_reply.chunkSize > 0)
                size = std::min(size, m_reply.chunkSize);
            const QByteArray block = m_file ? m_file->read(size) : m_reply.body.mid(m_sent, size);
            if (block.isEmpty()) {
                // The file shrank under us: the promised length can't be kept.
                m_toSend = m_sent;
                m_closeAfter = true;
                break;
            }
            m_socket->write(block);
            m_sent += block.size();
            if (m_reply.chunkSize > 0 && m_sent < m_toSend) {
                // The next chunk goes after the interval, or once this one has left.
                if (m_reply.chunkInterval.count() > 0)
                    m_timer.start(m_reply.chunkInterval);
                return;
            }
        }
        if (m_sent < m_toSend)
            return;
        m_file.reset();
        m_state = State::draining;
        Q_EMIT m_server.served(m_method, m_target, m_reply.status);
        if (m_socket->bytesToWrite() == 0)
            finish();
    }

    void finish()
    {
        release();
        m_reply = {};
        if (m_closeAfter)
            return close();
        m_state = State::reading;
        next();
    }

    void close()
    {
        m_state = State::closing;
        m_timer.stop();
        // Lets what is written reach the client first; `disconnected` follows.
        m_socket->disconnectFromHost();
    }

    void disconnected()
    {
        m_state = State::closing;
        m_timer.stop();
        m_hold.stop();
        m_file.reset();
        release();
        deleteLater();
    }

    void release()
    {
        if (std::exchange(m_counted, false))
            --m_server.m_answering;
    }

    HttpServer& m_server;
    QTcpSocket* m_socket;
    State m_state = State::reading;
    QByteArray m_input;
    bool m_keepAlive = true;
    bool m_headOnly = false;
    bool m_counted = false; // in the server's count of answers under way
    QString m_method;
    QString m_target;
    HttpReply m_reply;
    std::unique_ptr<QFile> m_file;
    bool m_closeAfter = false;
    qint64 m_toSend = 0;
    qint64 m_sent = 0;
    QTimer m_timer; // the delay, then drip intervals
    QTimer m_hold; // looks at a held reply's condition as the event loop turns
};

HttpReply HttpReply::text(QByteArray body, int status, QByteArray type)
{
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers.append({ "Content-Type", std::move(type) });
    return reply;
}

HttpReply HttpReply::json(QByteArray body, int status)
{
    return text(std::move(body), status, "application/json");
}

HttpReply HttpReply::redirect(const QUrl& location, int status)
{
    HttpReply reply;
    reply.status = status;
    return reply.withHeader("Location", location.toEncoded()).withHeader("Connection", "close");
}

HttpReply HttpReply::redirect(const QString& location, int status)
{
    return redirect(QUrl(location), status);
}

HttpReply HttpReply::notModified()
{
    HttpReply reply;
    reply.status = 304;
    return reply;
}

HttpReply& HttpReply::withHeader(QByteArray name, QByteArray value)
{
    headers.append({ std::move(name), std::move(value) });
    return *this;
}

QByteArray HttpReply::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray httpDate(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), httpDateFormat).toLatin1();
}

std::optional<QDateTime> parseHttpDate(const QByteArray& text)
{
    QDateTime time = QLocale::c().toDateTime(QString::fromLatin1(text.trimmed()), httpDateFormat);
    if (!time.isValid())
        return std::nullopt;
    time.setTimeSpec(Qt::UTC);
    return time;
}

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_server->setMaxPendingConnections(128);
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

HttpServer::~HttpServer()
{
    delete m_server;
    // The connections, which call back into the server, go while it is whole.
    const QObjectList connections = children();
    qDeleteAll(connections);
}

bool HttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void HttpServer::close()
{
    m_server->close();
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QUrl HttpServer::base() const
{
    return QUrl(u"http://127.0.0.1:%1/"_s.arg(port()));
}

QString HttpServer::errorString() const
{
    return m_server->errorString();
}

void HttpServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        new HttpConnection(*this, socket);
}

} // namespace corvanta::demo
