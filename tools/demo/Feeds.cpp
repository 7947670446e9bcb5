#include "demo/Feeds.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QXmlStreamWriter>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

QString rfc822(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss '+0000'"_s);
}

QString iso8601(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

void writeEnclosure(QXmlStreamWriter& xml, const AppcastEntry& entry, const Enclosure& enclosure)
{
    xml.writeEmptyElement(u"enclosure"_s);
    xml.writeAttribute(u"url"_s, enclosure.url.toString(QUrl::FullyEncoded));
    if (entry.versionsOnEnclosure) {
        if (entry.build)
            xml.writeAttribute(u"sparkle:version"_s, *entry.build);
        if (entry.shortVersion)
            xml.writeAttribute(u"sparkle:shortVersionString"_s, *entry.shortVersion);
    }
    xml.writeAttribute(u"length"_s, QString::number(enclosure.length));
    xml.writeAttribute(u"type"_s, enclosure.type);
    if (enclosure.os)
        xml.writeAttribute(u"sparkle:os"_s, *enclosure.os);
    if (enclosure.edSignature)
        xml.writeAttribute(u"sparkle:edSignature"_s, *enclosure.edSignature);
}

} // namespace

QByteArray appcast(const QString& title, const QUrl& link, const std::vector<AppcastEntry>& entries)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(u"rss"_s);
    xml.writeAttribute(u"version"_s, u"2.0"_s);
    xml.writeAttribute(u"xmlns:sparkle"_s, u"http://www.andymatuschak.org/xml-namespaces/sparkle"_s);
    xml.writeAttribute(u"xmlns:dc"_s, u"http://purl.org/dc/elements/1.1/"_s);
    xml.writeStartElement(u"channel"_s);
    xml.writeTextElement(u"title"_s, title);
    xml.writeTextElement(u"link"_s, link.toString(QUrl::FullyEncoded));
    xml.writeTextElement(u"language"_s, u"en"_s);
    for (const AppcastEntry& entry : entries) {
        xml.writeStartElement(u"item"_s);
        xml.writeTextElement(u"title"_s, entry.title);
        if (entry.published.isValid())
            xml.writeTextElement(u"pubDate"_s, rfc822(entry.published));
        if (!entry.versionsOnEnclosure) {
            if (entry.build)
                xml.writeTextElement(u"sparkle:version"_s, *entry.build);
            if (entry.shortVersion)
                xml.writeTextElement(u"sparkle:shortVersionString"_s, *entry.shortVersion);
        }
        if (entry.channel)
            xml.writeTextElement(u"sparkle:channel"_s, *entry.channel);
        if (entry.minimumSystem)
            xml.writeTextElement(u"sparkle:minimumSystemVersion"_s, *entry.minimumSystem);
        if (entry.maximumSystem)
            xml.writeTextElement(u"sparkle:maximumSystemVersion"_s, *entry.maximumSystem);
        if (entry.notesLink)
            xml.writeTextElement(
                u"sparkle:releaseNotesLink"_s, entry.notesLink->toString(QUrl::FullyEncoded));
        if (!entry.notesHtml.isEmpty()) {
            xml.writeStartElement(u"description"_s);
            xml.writeCDATA(entry.notesHtml);
            xml.writeEndElement();
        }
        if (entry.enclosure)
            writeEnclosure(xml, entry, *entry.enclosure);
        if (!entry.deltas.empty()) {
            xml.writeStartElement(u"sparkle:deltas"_s);
            for (const Delta& delta : entry.deltas) {
                xml.writeEmptyElement(u"enclosure"_s);
                xml.writeAttribute(u"url"_s, delta.url.toString(QUrl::FullyEncoded));
                if (entry.build)
                    xml.writeAttribute(u"sparkle:version"_s, *entry.build);
                if (entry.shortVersion)
                    xml.writeAttribute(u"sparkle:shortVersionString"_s, *entry.shortVersion);
                xml.writeAttribute(u"sparkle:deltaFrom"_s, delta.fromBuild);
                xml.writeAttribute(u"length"_s, QString::number(delta.length));
                xml.writeAttribute(u"type"_s, u"application/octet-stream"_s);
                if (delta.edSignature)
                    xml.writeAttribute(u"sparkle:edSignature"_s, *delta.edSignature);
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

QByteArray githubRelease(const QUrl& releasesURL, const QString& tag, const QString& body,
    const QUrl& htmlURL, const std::vector<ReleaseAsset>& assets, const QDateTime& published)
{
    const QString api = releasesURL.toString(QUrl::FullyEncoded);
    QJsonArray list;
    qint64 id = 180000000;
    for (const ReleaseAsset& asset : assets) {
        list.append(QJsonObject {
            { u"id"_s, ++id },
            { u"name"_s, asset.name },
            { u"label"_s, QString() },
            { u"content_type"_s, asset.contentType },
            { u"state"_s, u"uploaded"_s },
            { u"size"_s, asset.size },
            { u"digest"_s, asset.sha256 ? QJsonValue(QString(u"sha256:"_s + *asset.sha256)) : QJsonValue() },
            { u"download_count"_s, 0 },
            { u"created_at"_s, iso8601(published) },
            { u"updated_at"_s, iso8601(published) },
            { u"browser_download_url"_s, asset.url.toString(QUrl::FullyEncoded) },
        });
    }
    const QJsonObject release {
        { u"url"_s, QString(api + u"170000000"_s) },
        { u"html_url"_s, htmlURL.toString(QUrl::FullyEncoded) },
        { u"id"_s, 170000000 },
        { u"tag_name"_s, tag },
        { u"target_commitish"_s, u"main"_s },
        { u"name"_s, tag },
        { u"draft"_s, false },
        { u"prerelease"_s, false },
        { u"created_at"_s, iso8601(published) },
        { u"published_at"_s, iso8601(published) },
        { u"assets"_s, list },
        { u"body"_s, body },
    };
    return QJsonDocument(release).toJson(QJsonDocument::Indented);
}

QByteArray latestMacYml(
    const QString& version, const std::vector<ElectronFile>& files, const QDateTime& released)
{
    QString text = u"version: "_s + version + u"\nfiles:\n"_s;
    for (const ElectronFile& file : files) {
        text += u"  - url: "_s + file.url + u"\n    sha512: "_s + file.sha512 + u"\n    size: "_s
            + QString::number(file.size) + u'\n';
    }
    if (!files.empty())
        text += u"path: "_s + files.front().url + u"\nsha512: "_s + files.front().sha512 + u'\n';
    text += u"releaseDate: '"_s + released.toUTC().toString(u"yyyy-MM-ddThh:mm:ss.zzzZ"_s) + u"'\n"_s;
    return text.toUtf8();
}

QJsonObject lookupResult(const QString& bundleID, const QString& name, const QString& version, qint64 trackID,
    const QString& releaseNotes, const QString& seller)
{
    QString slug = name.toLower();
    slug.replace(u' ', u'-');
    return {
        { u"kind"_s, u"mac-software"_s },
        { u"bundleId"_s, bundleID },
        { u"trackId"_s, trackID },
        { u"trackName"_s, name },
        { u"trackViewUrl"_s, u"https://apps.apple.com/us/app/%1/id%2?mt=12"_s.arg(slug).arg(trackID) },
        { u"version"_s, version },
        { u"releaseNotes"_s, releaseNotes },
        { u"sellerName"_s, seller },
        { u"artistName"_s, seller },
        { u"minimumOsVersion"_s, u"12.0"_s },
        { u"price"_s, 0.0 },
        { u"currency"_s, u"USD"_s },
        { u"primaryGenreName"_s, u"Productivity"_s },
    };
}

QByteArray lookupAnswer(const std::vector<QJsonObject>& results)
{
    QJsonArray list;
    for (const QJsonObject& result : results)
        list.append(result);
    return QJsonDocument(QJsonObject { { u"resultCount"_s, list.size() }, { u"results"_s, list } })
        .toJson(QJsonDocument::Indented);
}

} // namespace corvanta::demo
