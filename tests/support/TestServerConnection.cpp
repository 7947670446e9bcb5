#include "support/TestServerConnection.h"

#include <algorithm>

#include <QAbstractSocket>

#include <gtest/gtest.h>

namespace corvanta::test::detail {

namespace {

constexpr qsizetype maxHeadSize = 64 * 1024;
constexpr qint64 blockSize = 64 * 1024;
// Enough to keep the socket busy, small enough that a GiB body never piles up.
constexpr qint64 highWater = 256 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
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
    case 408:
        return "Request Timeout";
    case 410:
        return "Gone";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

bool hasHeader(const HeaderList& headers, const QByteArray& name)
{
    return std::any_of(headers.begin(), headers.end(),
        [&](const auto& header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
}

QByteArray headerValue(const HeaderList& headers, const QByteArray& name)
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
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

ServerConnection::ServerConnection(TestServer& server, QTcpSocket* socket, int serial)
    : QObject(&server)
    , m_server(server)
    , m_socket(socket)
    , m_serial(serial)
{
    m_socket->setParent(this);
    // Dripped chunks must leave as they are written, not when Nagle allows.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_timer.setSingleShot(true);
    connect(m_socket, &QTcpSocket::readyRead, this, &ServerConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ServerConnection::pump);
    connect(m_socket, &QTcpSocket::disconnected, this, &ServerConnection::onDisconnected);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_state == State::waiting)
            sendHead();
        else
            pump();
    });
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
}

ServerConnection::~ServerConnection()
{
    QObject::disconnect(m_socket, nullptr, this, nullptr);
    if (m_counted)
        m_server.responseFinished();
    m_socket->abort();
}

void ServerConnection::onReadyRead()
{
    m_input += m_socket->readAll();
    // A pipelined request waits until the current response is out.
    if (m_state == State::readingHead || m_state == State::readingBody)
        processInput();
}

void ServerConnection::processInput()
{
    if (m_state == State::readingHead) {
        switch (parseHead()) {
        case Parse::incomplete:
            return;
        case Parse::malformed:
            return reject(m_input.size() > maxHeadSize ? 431 : 400);
        case Parse::complete:
            break;
        }
    }
    if (m_state == State::readingBody) {
        switch (parseBody()) {
        case Parse::incomplete:
            return;
        case Parse::malformed:
            return reject(400);
        case Parse::complete:
            return startResponse();
        }
    }
}

ServerConnection::Parse ServerConnection::parseHead()
{
    // Clients may send stray line breaks between requests.
    while (m_input.startsWith("\r\n"))
        m_input.remove(0, 2);
    const qsizetype end = m_input.indexOf("\r\n\r\n");
    if (end < 0)
        return m_input.size() > maxHeadSize ? Parse::malformed : Parse::incomplete;
    const QByteArray head = m_input.left(end);
    m_input.remove(0, end + 4);

    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || requestLine[1].isEmpty()
        || (requestLine[2] != "HTTP/1.1" && requestLine[2] != "HTTP/1.0"))
        return Parse::malformed;

    m_request = RecordedRequest {};
    m_request.method = requestLine[0];
    m_request.target = requestLine[1];
    m_request.connection = m_serial;
    const QUrl url = m_request.target.startsWith('/')
        ? QUrl::fromEncoded("http://localhost" + m_request.target)
        : QUrl::fromEncoded(m_request.target);
    if (!url.isValid())
        return Parse::malformed;
    m_request.path = url.path(QUrl::FullyDecoded);
    m_request.query = QUrlQuery(url);

    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Parse::malformed;
        m_request.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }

    const QList<QByteArray> connection = tokens(m_request.header("connection"));
    m_keepAlive
        = requestLine[2] == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");

    m_chunkedBody = tokens(m_request.header("transfer-encoding")).contains("chunked");
    m_bodyLength = 0;
    if (!m_chunkedBody && m_request.hasHeader("content-length")) {
        bool ok = false;
        m_bodyLength = m_request.header("content-length").toLongLong(&ok);
        if (!ok || m_bodyLength < 0)
            return Parse::malformed;
    }
    const bool expectsBody = m_chunkedBody || m_bodyLength > 0;
    if (expectsBody && m_input.isEmpty() && tokens(m_request.header("expect")).contains("100-continue"))
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    m_state = State::readingBody;
    return Parse::complete;
}

ServerConnection::Parse ServerConnection::parseBody()
{
    if (!m_chunkedBody) {
        if (m_input.size() < m_bodyLength)
            return Parse::incomplete;
        m_request.body = m_input.left(m_bodyLength);
        m_input.remove(0, m_bodyLength);
        return Parse::complete;
    }

    // Chunked: decode from the start each time; request bodies in tests are small.
    QByteArray body;
    qsizetype at = 0;
    while (true) {
        const qsizetype lineEnd = m_input.indexOf("\r\n", at);
        if (lineEnd < 0)
            return Parse::incomplete;
        QByteArray sizeText = m_input.mid(at, lineEnd - at);
        if (const qsizetype extension = sizeText.indexOf(';'); extension >= 0)
            sizeText.truncate(extension);
        bool ok = false;
        const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0)
            return Parse::malformed;
        at = lineEnd + 2;
        if (size == 0)
            break;
        if (m_input.size() < at + size + 2)
            return Parse::incomplete;
        if (m_input.mid(at + size, 2) != "\r\n")
            return Parse::malformed;
        body += m_input.mid(at, size);
        at += size + 2;
    }
    // Trailers, up to the empty line.
    while (true) {
        const qsizetype lineEnd = m_input.indexOf("\r\n", at);
        if (lineEnd < 0)
            return Parse::incomplete;
        const bool last = lineEnd == at;
        at = lineEnd + 2;
        if (last)
            break;
    }
    m_request.body = std::move(body);
    m_input.remove(0, at);
    return Parse::complete;
}

void ServerConnection::reject(int status)
{
    m_state = State::closing;
    m_input.clear();
    m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    closeConnection();
}

void ServerConnection::startResponse()
{
    m_state = State::waiting;
    m_headOnly = m_request.method == "HEAD";
    m_counted = true;
    m_response = m_server.dispatch(std::move(m_request));
    m_request = RecordedRequest {};
    const auto wait = m_server.latency() + m_response.delay;
    if (wait.count() > 0)
        m_timer.start(wait);
    else
        sendHead();
}

void ServerConnection::sendHead()
{
    qint64 actual = m_response.body.size();
    if (!m_response.file.isEmpty()) {
        m_file = std::make_unique<QFile>(m_response.file);
        if (m_file->open(QIODevice::ReadOnly)) {
            actual = m_file->size();
        } else {
            ADD_FAILURE() << "the test server cannot open " << m_response.file.toStdString();
            m_file.reset();
            m_response = Response::text("Internal Server Error", 500);
            actual = m_response.body.size();
        }
    }

    const int status = m_response.status;
    const bool bodyless = (status >= 100 && status < 200) || status == 204 || status == 304;
    const bool framedByCaller = hasHeader(m_response.headers, "content-length")
        || hasHeader(m_response.headers, "transfer-encoding");
    const bool announces = !bodyless && !m_response.omitContentLength && !framedByCaller;
    const qint64 announced = m_response.contentLength.value_or(actual);

    // A close the client is told about, as opposed to a fault it must discover.
    const QByteArray connectionHeader = headerValue(m_response.headers, "connection");
    const bool announcedClose
        = !m_keepAlive || m_response.omitContentLength || tokens(connectionHeader).contains("close");
    bool faultClose = false;
    m_toSend = actual;
    if (announces) {
        m_toSend = std::min(actual, announced);
        // A body shorter than announced can only end by closing.
        faultClose = announced > actual;
    }
    if (bodyless || m_headOnly) {
        m_toSend = 0;
        faultClose = false;
    }
    if (m_response.closeAfter) {
        m_toSend = std::clamp(*m_response.closeAfter, qint64(0), m_toSend);
        faultClose = true;
    }
    m_closeAfterResponse = announcedClose || faultClose;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto& [name, value] : std::as_const(m_response.headers))
        head += name + ": " + value + "\r\n";
    if (announces)
        head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    if (announcedClose && connectionHeader.isEmpty())
        head += "Connection: close\r\n";
    head += "\r\n";

    m_socket->write(head);
    m_state = State::sending;
    m_sent = 0;
    pump();
}

void ServerConnection::pump()
{
    if (m_state == State::draining) {
        if (m_socket->bytesToWrite() == 0)
            finishResponse();
        return;
    }
    if (m_state != State::sending || m_timer.isActive())
        return;
    while (m_sent < m_toSend && m_socket->bytesToWrite() < highWater) {
        qint64 size = std::min(blockSize, m_toSend - m_sent);
        if (dripping())
            size = std::min(size, m_response.chunkSize);
        if (m_file) {
            const QByteArray block = m_file->read(size);
            if (block.isEmpty()) {
                ADD_FAILURE() << "the test server cannot read " << m_response.file.toStdString();
                m_closeAfterResponse = true;
                return finishBody();
            }
            m_socket->write(block);
            m_sent += block.size();
        } else {
            m_socket->write(m_response.body.constData() + m_sent, size);
            m_sent += size;
        }
        if (dripping() && m_sent < m_toSend) {
            // The next chunk goes after the interval, or once this one has left.
            if (m_response.chunkInterval.count() > 0)
                m_timer.start(m_response.chunkInterval);
            return;
        }
    }
    if (m_sent >= m_toSend)
        finishBody();
}

void ServerConnection::finishBody()
{
    m_file.reset();
    m_state = State::draining;
    if (m_socket->bytesToWrite() == 0)
        finishResponse();
}

void ServerConnection::finishResponse()
{
    m_response = Response {};
    if (m_counted) {
        m_counted = false;
        m_server.responseFinished();
    }
    if (m_closeAfterResponse)
        return closeConnection();
    m_state = State::readingHead;
    processInput();
}

void ServerConnection::closeConnection()
{
    m_state = State::closing;
    m_timer.stop();
    // Lets what is written reach the client first; `disconnected` follows.
    m_socket->disconnectFromHost();
}

void ServerConnection::onDisconnected()
{
    m_state = State::closing;
    m_timer.stop();
    m_file.reset();
    if (m_counted) {
        m_counted = false;
        m_server.responseFinished();
    }
    deleteLater();
}

} // namespace corvanta::test::detail
