#include "sources/Net.h"

#include "sources/CheckError.h"

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
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

} // namespace

Net::Net()
    : m_session(std::make_unique<Session>())
{
    m_session->setTransferTimeout(sessionTimeoutMs);
    m_session->setCookieJar(new QNetworkCookieJar(m_session.get()));
}

Net::~Net() = default;

QString Net::failureText(QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return reply.errorString();
    const int code = status.toInt();
    if (code == 403 && reply.rawHeader("x-ratelimit-remaining") == "0")
        return u"GitHub's hourly limit for anonymous requests is used up; try again later"_s;
    return u"The server answered HTTP %1"_s.arg(code);
}

QCoro::Task<QByteArray> Net::get(QUrl url, std::optional<QString> accept)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMs);
    if (accept)
        request.setRawHeader("Accept", accept->toUtf8());
    std::unique_ptr<QNetworkReply> reply(co_await m_session->get(request));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool ok = status.isValid() ? (status.toInt() >= 200 && status.toInt() <= 299)
                                     : reply->error() == QNetworkReply::NoError;
    if (!ok)
        throw CheckError(failureText(*reply));
    co_return reply->readAll();
}

} // namespace corvanta
