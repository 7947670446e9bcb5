#pragma once

#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

namespace corvanta::demo {

// One HTTP request as the server read it.
struct HttpRequest {
    QByteArray method; // "GET"
    QByteArray target; // "/lookup?bundleId=…", as sent
    QByteArray version; // "HTTP/1.1"
    QMap<QByteArray, QByteArray> headers; // names in lower case

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
};

// What to answer: a status, headers, and a body in memory or a file to stream.
struct HttpReply {
    int status = 200;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString file; // streamed from disk when set
    qint64 length = 0; // of the body or the file

    QByteArray header(const QByteArray& name) const;
};

// The update services of a demo world, played from the files under
// `documents`, at the paths the readers use:
//   lookup?bundleId=…&country=…            lookup/<bundleId>.json, or no results
//   cask/<token>                           cask/<token>.json
//   repos/<owner>/<repo>/releases/latest   repos/<owner>/<repo>/releases/latest.json
//   anything else                          the file at that path (api/cask.json, feeds, downloads)
// Files carry Content-Length, ETag and Last-Modified and answer conditional
// requests with 304; downloads carry Content-Disposition. Paths never leave
// `documents`.
namespace WorldRoutes {

HttpReply answer(const QString& documents, const HttpRequest& request);

// "Sun, 06 Dec 2026 20:20:21 GMT"
QByteArray httpDate(const QDateTime& time);
// None for anything but the format above.
std::optional<QDateTime> parseHttpDate(const QByteArray& text);

QByteArray reasonPhrase(int status);

} // namespace WorldRoutes

} // namespace corvanta::demo
