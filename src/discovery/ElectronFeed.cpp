#include "discovery/ElectronFeed.h"

#include "base/FileRead.h"
#include "discovery/Scanner.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QStringView trimmed(QStringView text, QStringView characters)
{
    while (!text.isEmpty() && characters.contains(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && characters.contains(text.back()))
        text.chop(1);
    return text;
}

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85) || c == QChar(0x2028)
        || c == QChar(0x2029);
}

QUrl appendingPath(QUrl url, const QString& path)
{
    QString base = url.path();
    if (!base.endsWith(u'/'))
        base += u'/';
    url.setPath(base + path);
    return url;
}

} // namespace

QMap<QString, QString> ElectronFeed::parseConfig(QStringView text)
{
    QMap<QString, QString> config;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && !isLineBreak(text[end]))
            ++end;
        const QStringView line = text.sliced(start, end - start);
        start = end + 1;
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QStringView key = trimmed(line.first(colon), u" \t");
        const QStringView value = trimmed(trimmed(line.sliced(colon + 1), u" \t"), u" '\"");
        config.insert(key.toString(), value.toString());
    }
    return config;
}

std::optional<QUrl> ElectronFeed::feedURL(const QMap<QString, QString>& config, const QUrl& githubWeb)
{
    const QString provider = config.value(u"provider"_s);
    if (provider == u"generic") {
        const std::optional<QUrl> url = Scanner::parseFeedURL(config.value(u"url"_s));
        if (!url)
            return std::nullopt;
        return appendingPath(*url, u"latest-mac.yml"_s);
    }
    if (provider == u"github") {
        const QString owner = config.value(u"owner"_s);
        const QString repo = config.value(u"repo"_s);
        // An empty owner or repository would name some other page of the site.
        if (owner.isEmpty() || repo.isEmpty())
            return std::nullopt;
        return appendingPath(githubWeb, owner + u'/' + repo + u"/releases/latest/download/latest-mac.yml");
    }
    return std::nullopt;
}

std::optional<QMap<QString, QString>> ElectronFeed::readConfig(const QString& path)
{
    const std::optional<QByteArray> bytes = readSmallFile(path, maxFileSize);
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(*bytes);
    if (decoder.hasError())
        return std::nullopt;
    return parseConfig(text);
}

} // namespace corvanta
