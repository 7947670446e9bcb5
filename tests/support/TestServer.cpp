#include "support/TestServer.h"

#include "support/TestServerConnection.h"

#include <algorithm>
#include <exception>
#include <memory>

#include <QHostAddress>
#include <QLocale>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray quotedEtag(QByteArray etag)
{
    if (etag.isEmpty() || etag.startsWith('"') || etag.startsWith("W/"))
        return etag;
    return '"' + etag + '"';
}

QByteArray withoutWeakPrefix(QByteArray tag)
{
    return tag.startsWith("W/") ? tag.mid(2) : tag;
}

// Weak comparison, as If-None-Match calls for.
bool etagListMatches(const QByteArray& list, const QByteArray& etag)
{
    const QByteArray wanted = withoutWeakPrefix(etag);
    for (const QByteArray& item : list.split(',')) {
        const QByteArray tag = item.trimmed();
        if (tag == "*" || withoutWeakPrefix(tag) == wanted)
            return true;
    }
    return false;
}

const auto httpDateFormat = u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s;

// Routes match decoded paths alone; a query or a relative path would never match.
void checkRoute(const QString& path)
{
    if (!path.startsWith(u'/') || path.contains(u'?'))
        ADD_FAILURE() << "a test server route must be a path starting with / and without a query: "
                      << path.toStdString();
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (sameName(key, name))
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray& name) const
{
    return std::any_of(
        headers.begin(), headers.end(), [&](const auto& header) { return sameName(header.first, name); });
}

Response Response::text(QByteArray body, int status, QByteArray type)
{
    Response response;
    response.status = status;
    response.body = std::move(body);
    response.headers.append({ "Content-Type", std::move(type) });
    return response;
}

Response Response::json(QByteArray body, int status)
{
    return text(std::move(body), status, "application/json");
}

Response Response::fromFile(QString path, QByteArray type)
{
    Response response;
    response.file = std::move(path);
    response.headers.append({ "Content-Type", std::move(type) });
    return response;
}

Response Response::redirect(const QUrl& location, int status)
{
    Response response;
    response.status = status;
    response.headers.append({ "Location", location.toEncoded() });
    response.withHeader("Connection", "close"); // keeps request counts exact, see the header
    return response;
}

Response Response::redirect(const QString& location, int status)
{
    return redirect(QUrl(location), status);
}

Response Response::notModified()
{
    Response response;
    response.status = 304;
    return response;
}

Response& Response::withHeader(QByteArray name, QByteArray value)
{
    headers.append({ std::move(name), std::move(value) });
    return *this;
}

TestServer::TestServer()
{
    m_server.setMaxPendingConnections(128);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, &TestServer::accept);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        ADD_FAILURE() << "the test server cannot listen: " << m_server.errorString().toStdString();
}

TestServer::~TestServer()
{
    m_server.close();
    // Connections call back into the server, so they go while it is whole.
    const auto connections = findChildren<detail::ServerConnection*>(Qt::FindDirectChildrenOnly);
    for (detail::ServerConnection* connection : connections)
        delete connection;
}

quint16 TestServer::port() const
{
    return m_server.serverPort();
}

QUrl TestServer::url(const QString& pathAndQuery) const
{
    return QUrl(u"http://127.0.0.1:"_s + QString::number(port()) + pathAndQuery);
}

void TestServer::on(const QString& path, Response response)
{
    on(path, [response = std::move(response)](const RecordedRequest&) { return response; });
}

void TestServer::on(const QString& path, Handler handler)
{
    checkRoute(path);
    m_exact.insert(path, std::move(handler));
}

void TestServer::onPrefix(const QString& prefix, Handler handler)
{
    checkRoute(prefix);
    auto existing = std::find_if(
        m_prefixes.begin(), m_prefixes.end(), [&](const auto& route) { return route.first == prefix; });
    if (existing != m_prefixes.end())
        existing->second = std::move(handler);
    else
        m_prefixes.emplace_back(prefix, std::move(handler));
}

void TestServer::onSequence(const QString& path, QList<Response> responses)
{
    auto next = std::make_shared<qsizetype>(0);
    on(path, [responses = std::move(responses), next](const RecordedRequest&) {
        if (responses.isEmpty())
            return Response::text("Not Found", 404);
        return responses.at(std::min((*next)++, responses.size() - 1));
    });
}

void TestServer::onConditional(const QString& path, QByteArray body, QByteArray etag, QByteArray lastModified)
{
    etag = quotedEtag(std::move(etag));
    on(path,
        [body = std::move(body), etag, lastModified = std::move(lastModified)](
            const RecordedRequest& request) {
            bool fresh = false;
            if (request.hasHeader("if-none-match")) {
                fresh = !etag.isEmpty() && etagListMatches(request.header("if-none-match"), etag);
            } else if (request.hasHeader("if-modified-since") && !lastModified.isEmpty()) {
                const auto since = parseHttpDate(request.header("if-modified-since"));
                const auto modified = parseHttpDate(lastModified);
                fresh = since && modified && *since >= *modified;
            }
            Response response = fresh ? Response::notModified() : Response { .body = body };
            if (!etag.isEmpty())
                response.withHeader("ETag", etag);
            if (!lastModified.isEmpty())
                response.withHeader("Last-Modified", lastModified);
            return response;
        });
}

void TestServer::remove(const QString& path)
{
    m_exact.remove(path);
    std::erase_if(m_prefixes, [&](const auto& route) { return route.first == path; });
}

void TestServer::setLatency(std::chrono::milliseconds latency)
{
    m_latency = latency;
}

QList<RecordedRequest> TestServer::requests() const
{
    return m_requests;
}

QList<RecordedRequest> TestServer::requests(const QString& path) const
{
    QList<RecordedRequest> matching;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(matching),
        [&](const RecordedRequest& request) { return request.path == path; });
    return matching;
}

int TestServer::count(const QString& path) const
{
    return int(std::count_if(m_requests.begin(), m_requests.end(),
        [&](const RecordedRequest& request) { return request.path == path; }));
}

int TestServer::connectionCount() const
{
    return m_connections;
}

int TestServer::maxConcurrent() const
{
    return m_maxConcurrent;
}

int TestServer::activeRequests() const
{
    return m_active;
}

void TestServer::clearRequests()
{
    m_requests.clear();
    m_maxConcurrent = m_active;
}

QByteArray TestServer::httpDate(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), httpDateFormat).toLatin1();
}

std::optional<QDateTime> TestServer::parseHttpDate(const QByteArray& text)
{
    const QString trimmed = QString::fromLatin1(text.trimmed());
    QDateTime time = QLocale::c().toDateTime(trimmed, httpDateFormat);
    if (time.isValid()) {
        time.setTimeSpec(Qt::UTC);
        return time;
    }
    time = QDateTime::fromString(trimmed, Qt::RFC2822Date);
    if (time.isValid())
        return time;
    return std::nullopt;
}

void TestServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection())
        new detail::ServerConnection(*this, socket, ++m_connections);
}

Response TestServer::dispatch(RecordedRequest request)
{
    m_requests.append(request);
    m_maxConcurrent = std::max(m_maxConcurrent, ++m_active);

    // Copied, so a handler may replace its own route while it runs.
    Handler handler = m_exact.value(request.path);
    if (!handler) {
        qsizetype longest = -1;
        for (const auto& [prefix, candidate] : m_prefixes) {
            if (request.path.startsWith(prefix) && prefix.size() > longest) {
                longest = prefix.size();
                handler = candidate;
            }
        }
    }
    if (!handler)
        return Response::text("Not Found", 404);
    try {
        return handler(request);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "a test server handler threw: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "a test server handler threw";
    }
    return Response::text("Internal Server Error", 500);
}

void TestServer::responseFinished()
{
    --m_active;
}

} // namespace corvanta::test
