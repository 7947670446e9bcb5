#include "support/TestServer.h"

#include <algorithm>
#include <exception>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

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

// Routes match decoded paths alone; a query or a relative path would never match.
void checkRoute(const QString& path)
{
    if (!path.startsWith(u'/') || path.contains(u'?'))
        ADD_FAILURE() << "a test server route must be a path starting with / and without a query: "
                      << path.toStdString();
}

} // namespace

TestServer::TestServer()
{
    m_http.setHandler([this](const demo::HttpRequest& request) { return dispatch(request); });
    if (!m_http.listen())
        ADD_FAILURE() << "the test server cannot listen: " << m_http.errorString().toStdString();
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
                const auto since = demo::parseHttpDate(request.header("if-modified-since"));
                const auto modified = demo::parseHttpDate(lastModified);
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

QList<RecordedRequest> TestServer::requests(const QString& path) const
{
    QList<RecordedRequest> matching;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(matching),
        [&](const RecordedRequest& request) { return request.path == path; });
    return matching;
}

void TestServer::clearRequests()
{
    m_requests.clear();
    m_maxConcurrent = m_http.answering();
}

Response TestServer::dispatch(const demo::HttpRequest& received)
{
    RecordedRequest request { received };
    const QUrl url = QUrl::fromEncoded("http://localhost" + request.target);
    request.path = url.path(QUrl::FullyDecoded);
    request.query = QUrlQuery(url);
    m_requests.append(request);
    // The server counts this request as being answered already.
    m_maxConcurrent = std::max(m_maxConcurrent, m_http.answering());

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

} // namespace corvanta::test
