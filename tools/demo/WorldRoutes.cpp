#include "demo/WorldRoutes.h"

#include "demo/TicketRoute.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

HttpReply text(int status, const QByteArray& body)
{
    return HttpReply::text(body, status);
}

HttpReply json(int status, const QJsonObject& object)
{
    return HttpReply::text(
        QJsonDocument(object).toJson(QJsonDocument::Compact), status, "application/json; charset=utf-8");
}

HttpReply notFound()
{
    return text(404, "Not Found\n");
}

QByteArray contentType(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"json")
        return "application/json; charset=utf-8";
    if (suffix == u"xml")
        return "application/xml; charset=utf-8";
    if (suffix == u"yml" || suffix == u"yaml")
        return "text/yaml; charset=utf-8";
    if (suffix == u"html")
        return "text/html; charset=utf-8";
    if (suffix == u"zip")
        return "application/zip";
    if (suffix == u"dmg")
        return "application/x-apple-diskimage";
    return "application/octet-stream";
}

bool isDownload(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"zip" || suffix == u"dmg" || suffix == u"pkg" || suffix == u"delta";
}

// A path below `documents`, or none when a segment would climb out of it or
// name something hidden.
std::optional<QString> resolve(const QString& documents, const QString& path)
{
    const QStringList segments = path.split(u'/', Qt::SkipEmptyParts);
    if (segments.isEmpty())
        return std::nullopt;
    for (const QString& segment : segments) {
        if (segment.startsWith(u'.') || segment.contains(u'\\') || segment.contains(QChar(0)))
            return std::nullopt;
    }
    return documents + u'/' + segments.join(u'/');
}

// A file with its validators, or 304 when the client's copy is current.
HttpReply serveFile(const QString& file, const HttpRequest& request)
{
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable())
        return notFound();
    const QDateTime modified = info.lastModified().toUTC();
    const QByteArray tag = '"' + QByteArray::number(info.size(), 16) + '-'
        + QByteArray::number(modified.toMSecsSinceEpoch(), 16) + '"';
    const QByteArray lastModified = httpDate(modified);

    HttpReply reply;
    reply.headers.emplace_back("ETag", tag);
    reply.headers.emplace_back("Last-Modified", lastModified);
    const QByteArray ifNoneMatch = request.header("If-None-Match");
    bool current = false;
    if (!ifNoneMatch.isEmpty()) {
        for (const QByteArray& candidate : ifNoneMatch.split(',')) {
            const QByteArray trimmed = candidate.trimmed();
            current = current || trimmed == "*" || trimmed == tag || trimmed == "W/" + tag;
        }
    } else if (const auto since = parseHttpDate(request.header("If-Modified-Since"))) {
        current = modified.toSecsSinceEpoch() <= since->toSecsSinceEpoch();
    }
    if (current) {
        reply.status = 304;
        return reply;
    }
    reply.status = 200;
    reply.file = file;
    reply.headers.emplace_back("Content-Type", contentType(file));
    if (isDownload(file))
        reply.headers.emplace_back(
            "Content-Disposition", "attachment; filename=\"" + info.fileName().toUtf8() + '"');
    return reply;
}

HttpReply lookup(const QString& documents, const QUrlQuery& query, const HttpRequest& request)
{
    const QString bundleID = query.queryItemValue(u"bundleId"_s, QUrl::FullyDecoded);
    if (!bundleID.isEmpty() && !bundleID.contains(u'/')) {
        if (const auto file = resolve(documents, u"lookup/"_s + bundleID + u".json"_s);
            file && QFileInfo(*file).isFile())
            return serveFile(*file, request);
    }
    // What the real service says about an app it doesn't sell.
    return json(200, { { u"resultCount"_s, 0 }, { u"results"_s, QJsonArray() } });
}

} // namespace

namespace WorldRoutes {

HttpReply answer(const QString& documents, const HttpRequest& request)
{
    if (request.method == "POST" && request.target == "/tickets")
        return TicketRoute::answer(documents, request);
    if (request.method != "GET" && request.method != "HEAD") {
        HttpReply reply = text(405, "Only GET and HEAD are served here.\n");
        reply.headers.emplace_back("Allow", "GET, HEAD");
        return reply;
    }
    const QUrl url = QUrl::fromEncoded(request.target, QUrl::StrictMode);
    if (!url.isValid() || !request.target.startsWith('/'))
        return text(400, "Bad Request\n");
    const QString path = url.path(QUrl::FullyDecoded);
    const QStringList segments = path.split(u'/', Qt::SkipEmptyParts);

    if (segments == QStringList { u"lookup"_s })
        return lookup(documents, QUrlQuery(url), request);
    if (segments.isEmpty())
        return text(200,
            "The update services of a Corvanta demo world:\n"
            "  /lookup?bundleId=ID&country=CC\n  /api/cask.json\n  /cask/TOKEN\n"
            "  /repos/OWNER/REPO/releases/latest\n  /feeds/…, /electron/…, /downloads/…\n");

    QString file = path;
    if (segments.size() == 2 && segments[0] == u"cask" && !segments[1].endsWith(u".json"))
        file = u"cask/"_s + segments[1] + u".json"_s;
    else if (segments.size() == 5 && segments[0] == u"repos" && segments[3] == u"releases"
        && segments[4] == u"latest")
        file = segments.mid(0, 4).join(u'/') + u"/latest.json"_s;

    const std::optional<QString> resolved = resolve(documents, file);
    // A link inside the documents must not lead out of them either.
    const QString real = resolved ? QFileInfo(*resolved).canonicalFilePath() : QString();
    if (!resolved || (!real.isEmpty() && !real.startsWith(QDir(documents).canonicalPath() + u'/')))
        return notFound();
    HttpReply reply = serveFile(*resolved, request);
    if (reply.status == 404 && segments.value(0) == u"repos")
        return json(404,
            { { u"message"_s, u"Not Found"_s },
                { u"documentation_url"_s, u"https://docs.github.com/rest/releases/releases"_s } });
    return reply;
}

} // namespace WorldRoutes

} // namespace corvanta::demo
