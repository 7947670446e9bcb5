#include "sources/Appcast.h"

#include "discovery/Version.h"
#include "sources/CheckError.h"
#include "sources/Net.h"
#include "sources/WebLink.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// A decimal 64-bit integer with an optional sign; anything else is no length.
std::optional<std::int64_t> decimal(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype start = (text[0] == u'+' || text[0] == u'-') ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(value) : std::nullopt;
}

// An attribute's value, or none when it is missing.
std::optional<QString> attribute(const QXmlStreamAttributes& attributes, const QString& name)
{
    if (!attributes.hasAttribute(name))
        return std::nullopt;
    return attributes.value(name).toString();
}

// A version attribute, where an empty value says nothing.
std::optional<QString> versionAttribute(const QXmlStreamAttributes& attributes, const QString& name)
{
    std::optional<QString> value = attribute(attributes, name);
    if (value && value->isEmpty())
        return std::nullopt;
    return value;
}

} // namespace

std::vector<AppcastItem> AppcastParser::parse(const QByteArray& xml)
{
    AppcastParser parser;
    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            parser.elementStarted(reader.qualifiedName(), reader.attributes());
            break;
        case QXmlStreamReader::Characters:
            // CDATA sections arrive here too, already decoded.
            parser.characters(reader.text());
            break;
        case QXmlStreamReader::EndElement:
            parser.elementEnded(reader.qualifiedName());
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        const QString why = reader.errorString().isEmpty() ? u"unknown error"_s : reader.errorString();
        throw CheckError(u"The appcast isn't valid XML ("_s + why + u')');
    }
    return std::move(parser.m_items);
}

void AppcastParser::elementStarted(QStringView name, const QXmlStreamAttributes& attributes)
{
    m_text.clear();
    if (name == u"item") {
        m_item = AppcastItem {};
    } else if (name == u"sparkle:deltas") {
        ++m_deltas;
    } else if (name == u"enclosure") {
        // Delta updates patch one particular old version; only full ones are offered.
        if (m_deltas > 0 || !m_item)
            return;
        m_item->enclosureURL = attribute(attributes, u"url"_s);
        const std::optional<QString> length = attribute(attributes, u"length"_s);
        m_item->length = length ? decimal(*length) : std::nullopt;
        m_item->edSignature = attribute(attributes, u"sparkle:edSignature"_s);
        m_item->os = attribute(attributes, u"sparkle:os"_s);
        if (!m_item->build)
            m_item->build = versionAttribute(attributes, u"sparkle:version"_s);
        if (!m_item->shortVersion)
            m_item->shortVersion = versionAttribute(attributes, u"sparkle:shortVersionString"_s);
    }
}

void AppcastParser::characters(QStringView text)
{
    m_text += text;
}

void AppcastParser::elementEnded(QStringView name)
{
    const QString text = m_text.trimmed();
    m_text.clear();
    if (name == u"item") {
        if (m_item)
            m_items.push_back(std::move(*m_item));
        m_item.reset();
        return;
    }
    if (name == u"sparkle:deltas") {
        --m_deltas;
        return;
    }
    if (!m_item || m_deltas != 0 || text.isEmpty())
        return;
    // Element values win over whatever an enclosure's attributes said.
    if (name == u"sparkle:version")
        m_item->build = text;
    else if (name == u"sparkle:shortVersionString")
        m_item->shortVersion = text;
    else if (name == u"sparkle:channel")
        m_item->channel = text;
    else if (name == u"sparkle:minimumSystemVersion")
        m_item->minOS = text;
    else if (name == u"sparkle:maximumSystemVersion")
        m_item->maxOS = text;
    else if (name == u"sparkle:releaseNotesLink")
        m_item->notesLink = text;
    else if (name == u"description")
        m_item->description = text;
}

bool Appcast::runsOn(const AppcastItem& item, const Version& system)
{
    // Items on a named channel (betas, nightlies) are for those who opted in.
    if (item.channel)
        return false;
    if (item.os && !item.os->isEmpty() && *item.os != u"macos")
        return false;
    if (!item.build && !item.shortVersion)
        return false;
    if (const std::optional<Version> minimum = Version::parse(item.minOS); minimum && system < *minimum)
        return false;
    if (const std::optional<Version> maximum = Version::parse(item.maxOS); maximum && *maximum < system)
        return false;
    return true;
}

bool Appcast::isNewer(const AppcastItem& candidate, const AppcastItem& best)
{
    const std::optional<Version> candidateBuild = Version::parse(candidate.build);
    const std::optional<Version> bestBuild = Version::parse(best.build);
    if (candidateBuild && bestBuild && *candidateBuild != *bestBuild)
        return *bestBuild < *candidateBuild;
    const Version zero = *Version::parse(u"0"_s);
    const Version candidateShort = Version::parse(candidate.shortVersion).value_or(zero);
    const Version bestShort = Version::parse(best.shortVersion).value_or(zero);
    return bestShort < candidateShort;
}

Release Appcast::release(
    const std::vector<AppcastItem>& items, const QUrl& feedURL, const SystemVersion& system)
{
    const QString systemText = system.text();
    const std::optional<Version> systemVersion = Version::parse(systemText);
    const AppcastItem* best = nullptr;
    for (const AppcastItem& item : items) {
        if (!runsOn(item, *systemVersion))
            continue;
        // On a tie the earlier item stays.
        if (!best || isNewer(item, *best))
            best = &item;
    }
    if (!best) {
        if (items.empty())
            throw CheckError(u"The appcast lists no releases"_s);
        throw CheckError(u"No release in the appcast runs on macOS "_s + systemText);
    }

    Release release;
    release.kind = SourceKind::sparkle;
    release.version = best->shortVersion;
    release.build = best->build;
    if (best->description)
        release.notes = plainText(*best->description);
    release.notesURL = WebLink::web(best->notesLink, feedURL);
    if (best->enclosureURL && !best->enclosureURL->isEmpty()) {
        const QUrl relative(*best->enclosureURL);
        if (relative.isValid()) {
            Download download;
            download.url = feedURL.resolved(relative);
            download.size = best->length;
            download.edSignature = best->edSignature;
            release.download = download;
        }
    }
    return release;
}

Release Appcast::read(const QByteArray& xml, const QUrl& feedURL, const SystemVersion& system)
{
    return release(AppcastParser::parse(xml), feedURL, system);
}

QCoro::Task<Release> Appcast::sparkle(Net& net, QUrl feedURL, SystemVersion system)
{
    const QByteArray body = co_await net.get(feedURL);
    co_return read(body, feedURL, system);
}

QString Appcast::plainText(const QString& html)
{
    static const QRegularExpression blockEnd(u"(?i)<br\\s*/?>|</p>|</h[1-6]>|</div>"_s);
    static const QRegularExpression listItem(u"(?i)<li[^>]*>"_s);
    static const QRegularExpression tag(u"<[^>]+>"_s);
    static const QRegularExpression blankLines(u"\\n[ \\t]*\\n+"_s);

    QString text = html;
    text.replace(blockEnd, u"\n"_s);
    text.replace(listItem, u"\n\u2022 "_s);
    text.remove(tag);
    text.replace(u"&nbsp;"_s, u" "_s);
    text.replace(u"&lt;"_s, u"<"_s);
    text.replace(u"&gt;"_s, u">"_s);
    text.replace(u"&quot;"_s, u"\""_s);
    text.replace(u"&#39;"_s, u"'"_s);
    // Last, so "&amp;lt;" stays the literal text "&lt;".
    text.replace(u"&amp;"_s, u"&"_s);
    text.replace(blankLines, u"\n"_s);
    return text.trimmed();
}

} // namespace corvanta
