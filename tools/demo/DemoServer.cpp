#include "demo/DemoServer.h"

#include "demo/WorldRoutes.h"

#include <memory>

#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

constexpr qsizetype maxHeadSize = 64 * 1024;
constexpr qint64 chunkSize = 64 * 1024;
constexpr qint64 highWater = 256 * 1024; // bytes queued in the socket before reading more from disk

// One client connection: reads requests one after another and answers each
// in turn, streaming files as the socket drains.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, DemoServer* server)
        : QObject(server)
        , m_socket(socket)
        , m_server(server)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] { next(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { deleteLater(); });
    }

private:
    // Starts on the next complete request, unless one is being answered.
    void next()
    {
        if (m_busy)
            return;
        m_buffer += m_socket->readAll();
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > maxHeadSize)
                refuse(431);
            return;
        }
        HttpRequest request;
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.size() != 3 || !first[2].startsWith("HTTP/1.")) {
            refuse(400);
            return;
        }
        request.method = first[0];
        request.target = first[1];
        request.version = first[2];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(
                    lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        // Requests here carry no body; one that does is read past and ignored.
        bool sized = true;
        const QByteArray length = request.header("Content-Length");
        const qint64 bodySize = length.isEmpty() ? 0 : length.toLongLong(&sized);
        if (!sized || bodySize < 0 || bodySize > maxHeadSize) {
            refuse(400);
            return;
        }
        if (m_buffer.size() < end + 4 + bodySize)
            return;
        m_buffer.remove(0, end + 4 + bodySize);

        const QByteArray connection = request.header("Connection").toLower();
        m_close = request.version == "HTTP/1.0" ? connection != "keep-alive" : connection == "close";
        m_busy = true;
        if (m_server->latency().count() > 0)
            QTimer::singleShot(m_server->latency(), this, [this, request] { respond(request); });
        else
            respond(request);
    }

    void respond(const HttpRequest& request)
    {
        m_method = request.method;
        m_target = request.target;
        m_reply = WorldRoutes::answer(m_server->documents(), request);
        const bool headOnly = request.method == "HEAD";
        if (!m_reply.file.isEmpty() && !headOnly) {
            m_file = std::make_unique<QFile>(m_reply.file);
            if (!m_file->open(QIODevice::ReadOnly)) {
                m_file.reset();
                m_reply = HttpReply { 500, { { "Content-Type", "text/plain" } }, "Can't read the file.\n", {},
                    21 };
            }
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_reply.status) + ' '
            + WorldRoutes::reasonPhrase(m_reply.status) + "\r\nServer: corvanta-demo\r\nDate: "
            + WorldRoutes::httpDate(QDateTime::currentDateTimeUtc()) + "\r\n";
        for (const auto& [name, value] : m_reply.headers)
            head += name + ": " + value + "\r\n";
        if (m_reply.status != 304)
            head += "Content-Length: " + QByteArray::number(m_reply.length) + "\r\n";
        head += m_close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
        m_socket->write(head);
        if (!headOnly && m_reply.status != 304 && !m_file)
            m_socket->write(m_reply.body);
        m_remaining = m_file ? m_reply.length : 0;
        pump();
    }

    // Feeds the socket from the file while it has room; finishes the answer
    // once everything is queued.
    void pump()
    {
        if (!m_busy || m_refused)
            return;
        while (m_file && m_remaining > 0 && m_socket->bytesToWrite() < highWater) {
            const QByteArray chunk = m_file->read(std::min(chunkSize, m_remaining));
            if (chunk.isEmpty()) {
                // The file shrank under us: the promised length can't be kept.
                m_socket->abort();
                return;
            }
            m_socket->write(chunk);
            m_remaining -= chunk.size();
        }
        if (m_remaining > 0)
            return;
        m_file.reset();
        m_busy = false;
        Q_EMIT m_server->served(QString::fromLatin1(m_method), QString::fromUtf8(m_target), m_reply.status);
        if (m_close) {
            m_socket->disconnectFromHost();
            return;
        }
        // A pipelined request may already wait in the buffer.
        if (!m_buffer.isEmpty() || m_socket->bytesAvailable() > 0)
            QTimer::singleShot(0, this, [this] { next(); });
    }

    void refuse(int status)
    {
        const QByteArray body = WorldRoutes::reasonPhrase(status) + '\n';
        m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + WorldRoutes::reasonPhrase(status)
            + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body);
        m_busy = m_refused = true; // nothing more is read from this client
        m_socket->disconnectFromHost();
    }

    QTcpSocket* m_socket;
    DemoServer* m_server;
    QByteArray m_buffer;
    bool m_busy = false;
    bool m_close = false;
    bool m_refused = false;
    QByteArray m_method;
    QByteArray m_target;
    HttpReply m_reply;
    std::unique_ptr<QFile> m_file;
    qint64 m_remaining = 0;
};

} // namespace

DemoServer::DemoServer(QString documents, QObject* parent)
    : QObject(parent)
    , m_documents(std::move(documents))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &DemoServer::accept);
}

DemoServer::~DemoServer() = default;

bool DemoServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void DemoServer::close()
{
    m_server->close();
}

quint16 DemoServer::port() const
{
    return m_server->serverPort();
}

QUrl DemoServer::base() const
{
    return QUrl(u"http://127.0.0.1:%1/"_s.arg(port()));
}

QString DemoServer::errorString() const
{
    return m_server->errorString();
}

void DemoServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        new Connection(socket, this);
}

} // namespace corvanta::demo
