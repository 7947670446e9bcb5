#include "package/TicketService.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

constexpr qint64 maxAnswer = 1 << 20;

using Result = Gatekeeper::TicketService::Result;
using Answer = Gatekeeper::TicketService::Answer;

Result unreachable(const QString& detail)
{
    return { Answer::unreachable, detail };
}

// The body of a chunked transfer; none when the framing is broken.
std::optional<QByteArray> unchunk(const QByteArray& body)
{
    QByteArray out;
    qsizetype at = 0;
    while (true) {
        const qsizetype end = body.indexOf("\r\n", at);
        if (end < 0)
            return std::nullopt;
        bool ok = false;
        const qint64 size = body.mid(at, end - at).split(';').front().trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0 || size > body.size())
            return std::nullopt;
        if (size == 0)
            return out;
        if (end + 2 + size > body.size())
            return std::nullopt;
        out += body.mid(end + 2, qsizetype(size));
        at = end + 2 + qsizetype(size) + 2;
    }
}

// Whether `answer` holds a whole response: its headers and as much body as
// Content-Length says, or the last chunk of a chunked one.
bool complete(const QByteArray& answer)
{
    const qsizetype split = answer.indexOf("\r\n\r\n");
    if (split < 0)
        return false;
    for (const QByteArray& line : answer.left(split).split('\n')) {
        const QByteArray lower = line.trimmed().toLower();
        if (lower.startsWith("content-length:")) {
            bool ok = false;
            const qint64 length = lower.mid(15).trimmed().toLongLong(&ok);
            return ok && answer.size() - split - 4 >= length;
        }
        if (lower.startsWith("transfer-encoding:") && lower.contains("chunked"))
            return answer.endsWith("0\r\n\r\n");
    }
    return false; // delimited by the end of the connection
}

} // namespace

TicketLookup::TicketLookup(QUrl endpoint, std::chrono::milliseconds deadline)
    : m_endpoint(std::move(endpoint))
    , m_deadline(deadline)
{
}

QUrl TicketLookup::appleEndpoint()
{
    return QUrl(u"https://api.apple-cloudkit.com/database/1/com.apple.gk.ticket-delivery/production/public/"
                u"records/lookup"_s);
}

QString TicketLookup::recordName(const Gatekeeper::NotaryHash& hash)
{
    return u"2/%1/%2"_s.arg(hash.type).arg(QString::fromLatin1(hash.bytes.toHex()));
}

Result TicketLookup::lookup(const Gatekeeper::NotaryHash& hash) const
{
    const bool tls = m_endpoint.scheme() == u"https";
    if (!m_endpoint.isValid() || (!tls && m_endpoint.scheme() != u"http"))
        return unreachable(u"the ticket service's address isn't an http or https URL"_s);
    const QString name = recordName(hash);
    const QByteArray body = QJsonDocument(
        QJsonObject { { u"records"_s, QJsonArray { QJsonObject { { u"recordName"_s, name } } } } })
                                .toJson(QJsonDocument::Compact);
    const QDeadlineTimer deadline(m_deadline);
    const auto left = [&deadline] { return int(std::max<qint64>(deadline.remainingTime(), 1)); };

    std::unique_ptr<QTcpSocket> socket;
    const quint16 port = quint16(m_endpoint.port(tls ? 443 : 80));
    if (tls) {
        auto secure = std::make_unique<QSslSocket>();
        secure->connectToHostEncrypted(m_endpoint.host(), port);
        if (!secure->waitForEncrypted(left()))
            return unreachable(u"the ticket service can't be reached ("_s + secure->errorString() + u')');
        socket = std::move(secure);
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(m_endpoint.host(), port);
        if (!socket->waitForConnected(left()))
            return unreachable(u"the ticket service can't be reached ("_s + socket->errorString() + u')');
    }
    const QByteArray host = m_endpoint.host().toUtf8()
        + (m_endpoint.port() >= 0 ? ':' + QByteArray::number(m_endpoint.port()) : QByteArray());
    const QByteArray request = "POST " + m_endpoint.path(QUrl::FullyEncoded).toUtf8()
        + (m_endpoint.hasQuery() ? '?' + m_endpoint.query(QUrl::FullyEncoded).toUtf8() : QByteArray())
        + " HTTP/1.1\r\nHost: " + host
        + "\r\nContent-Type: application/json\r\nAccept: application/json\r\nConnection: "
          "close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    socket->write(request);
    QByteArray answer;
    while (!complete(answer)
        && (socket->state() == QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0)) {
        if (deadline.hasExpired())
            return unreachable(u"the ticket service didn't answer in time"_s);
        if (socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(left());
        else if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(left()))
            continue;
        answer += socket->readAll();
        if (answer.size() > maxAnswer)
            return unreachable(u"the ticket service's answer is too long"_s);
    }

    const qsizetype split = answer.indexOf("\r\n\r\n");
    if (split < 0)
        return unreachable(u"the ticket service's answer isn't HTTP"_s);
    const QList<QByteArray> head = answer.left(split).split('\n');
    const QList<QByteArray> statusLine = head.front().trimmed().split(' ');
    if (statusLine.size() < 2 || statusLine[1] != "200")
        return unreachable(u"the ticket service answered HTTP "_s + QString::fromLatin1(statusLine.value(1)));
    QByteArray content = answer.mid(split + 4);
    for (const QByteArray& line : head) {
        if (line.toLower().startsWith("transfer-encoding:") && line.toLower().contains("chunked")) {
            const auto plain = unchunk(content);
            if (!plain)
                return unreachable(u"the ticket service's answer is cut short"_s);
            content = *plain;
        }
    }
    const QJsonArray records = QJsonDocument::fromJson(content).object().value(u"records"_s).toArray();
    for (const QJsonValue& value : records) {
        const QJsonObject record = value.toObject();
        if (record.value(u"recordName"_s).toString() != name)
            continue;
        const QString ticket = record.value(u"fields"_s)
                                   .toObject()
                                   .value(u"signedTicket"_s)
                                   .toObject()
                                   .value(u"value"_s)
                                   .toString();
        if (!ticket.isEmpty())
            return { Answer::confirmed, {} };
        if (record.value(u"serverErrorCode"_s).toString() == u"NOT_FOUND")
            return { Answer::unknown, {} };
    }
    return unreachable(u"the ticket service's answer doesn't name this hash"_s);
}

} // namespace corvanta
