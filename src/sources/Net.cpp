#include "sources/Net.h"

#include "sources/CheckError.h"

#include <algorithm>

#include <QCoro/QCoroNetworkReply>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Adds the one User-Agent to every request, whoever builds it.
class Session : public QNetworkAccessManager {
protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& original, QIODevice* data) override
    {
        QNetworkRequest request(original);
        request.setHeader(QNetworkRequest::UserAgentHeader, Net::userAgent);
        // HTTP/2 over TLS when the server offers it: one connection carries every request.
        if (!request.attribute(QNetworkRequest::Http2AllowedAttribute).isValid())
            request.setAttribute(QNetworkRequest::Http2AllowedAttribute, true);
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

// Qt's fixed number of connections one manager opens to one host.
constexpr int connectionsPerManager = 6;

} // namespace

void ReplyDeleter::operator()(QNetworkReply* reply) const
{
    if (reply)
        reply->deleteLater();
}

Net::Net()
    : m_cookies(std::make_unique<QNetworkCookieJar>())
{
    const int managers = (concurrency + connectionsPerManager - 1) / connectionsPerManager;
    for (int i = 0; i < managers; ++i) {
        auto manager = std::make_unique<Session>();
        manager->setTransferTimeout(sessionTimeoutMs);
        manager->setCookieJar(m_cookies.get());
        m_pool.push_back(std::move(manager));
    }
    // Every manager adopts the jar it is given; the jar is shared, so Net owns it.
    m_cookies->setParent(nullptr);
    m_inFlight.assign(m_pool.size(), 0);
}

Net::~Net() = default;

std::size_t Net::leastBusy() const
{
    return std::size_t(std::min_element(m_inFlight.begin(), m_inFlight.end()) - m_inFlight.begin());
}

bool Net::succeeded(QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return false;
    // A 2xx whose body broke off is a failure too, never a short success.
    return reply.error() == QNetworkReply::NoError;
}

QString Net::failureText(QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code == 403 && reply.rawHeader("x-ratelimit-remaining") == "0")
            return u"GitHub's hourly limit for anonymous requests is used up; try again later"_s;
        if (code < 200 || code > 299)
            return u"The server answered HTTP %1"_s.arg(code);
    }
    switch (reply.error()) {
    case QNetworkReply::RemoteHostClosedError:
        return connectionLost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        // Only the transfer timeout cancels our requests.
        return u"The request timed out."_s;
    default:
        return reply.errorString();
    }
}

bool Net::bodyComplete(QNetworkReply& reply, qint64 received)
{
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    // A compressed body is unpacked on the way, so its length says nothing here.
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity"))
        return true;
    return length.toLongLong() == received;
}

QCoro::Task<QByteArray> Net::get(QUrl url, std::optional<QString> accept)
{
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https")
        throw CheckError(
            u"Only http and https addresses can be read, not \u201c%1\u201d"_s.arg(url.toDisplayString()));
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMs);
    if (accept)
        request.setRawHeader("Accept", accept->toUtf8());
    // Net outlives every request made through it (the composition root owns it).
    const std::size_t lane = leastBusy();
    ++m_inFlight[lane];
    ReplyPtr reply(co_await m_pool[lane]->get(request));
    --m_inFlight[lane];
    if (!succeeded(*reply))
        throw CheckError(failureText(*reply));
    QByteArray body = reply->readAll();
    if (!bodyComplete(*reply, body.size()))
        throw CheckError(connectionLost);
    co_return body;
}

} // namespace corvanta
