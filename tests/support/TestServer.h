#pragma once

#include "demo/HttpServer.h"

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

namespace corvanta::test {

// What to answer, faults on the wire included (see demo::HttpReply).
using Response = demo::HttpReply;

// One request as the server received it.
struct RecordedRequest : demo::HttpRequest {
    QString path; // percent-decoded path of the target, without the query
    QUrlQuery query;
};

using Handler = std::function<Response(const RecordedRequest&)>;

// A scriptable HTTP/1.1 server on 127.0.0.1 with an ephemeral port, served by
// the main thread's event loop (so it answers while a test awaits; use it from
// the main thread only). Handlers can be replaced at any time, even from
// inside a handler; unknown paths answer 404; a handler that throws fails the
// test and answers 500.
class TestServer : public QObject {
public:
    TestServer(); // listening once constructed; fails the test if it cannot

    quint16 port() const { return m_http.port(); }
    // http://127.0.0.1:<port><pathAndQuery>
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // Exact path (percent-decoded, query ignored); wins over any prefix.
    void on(const QString& path, Response response);
    void on(const QString& path, Handler handler);
    // Every path starting with `prefix`; the longest matching prefix wins.
    void onPrefix(const QString& prefix, Handler handler);
    // Serves `body` with ETag and Last-Modified (either may be empty) and
    // answers 304 when If-None-Match names the ETag or, without
    // If-None-Match, when If-Modified-Since is at or after Last-Modified.
    void onConditional(const QString& path, QByteArray body, QByteArray etag, QByteArray lastModified);

    void setLatency(std::chrono::milliseconds latency)
    {
        m_http.setLatency(latency);
    } // added to every response

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requests(const QString& path) const;
    int count(const QString& path) const { return int(requests(path).size()); }
    // Most requests being answered at one moment: received, response not yet
    // fully sent. Used to assert concurrency limits.
    int maxConcurrent() const { return m_maxConcurrent; }
    int activeRequests() const { return m_http.answering(); }
    void clearRequests(); // forgets recorded requests and resets maxConcurrent

private:
    // Records the request and returns what to answer.
    Response dispatch(const demo::HttpRequest& request);

    demo::HttpServer m_http;
    QHash<QString, Handler> m_exact;
    std::vector<std::pair<QString, Handler>> m_prefixes;
    QList<RecordedRequest> m_requests;
    int m_maxConcurrent = 0;
};

} // namespace corvanta::test
