#include "sources/Electron.h"

#include "sources/CheckError.h"
#include "sources/Net.h"

#include <QList>
#include <QRegularExpression>

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

std::optional<std::int64_t> decimal(const QString& text)
{
    static const QRegularExpression pattern(u"^[+-]?[0-9]+$"_s);
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(number) : std::nullopt;
}

} // namespace

std::optional<QString> Electron::value(QStringView line, QStringView key)
{
    line = trimmed(line, u" \t");
    if (line.startsWith(u"- "))
        line = line.sliced(2);
    if (!line.startsWith(key) || !line.sliced(key.size()).startsWith(u':'))
        return std::nullopt;
    // An empty value ("version:" opening a nested block) holds nothing usable.
    const QStringView rest = trimmed(line.sliced(key.size() + 1), u" \t'\"");
    if (rest.isEmpty())
        return std::nullopt;
    return rest.toString();
}

Release Electron::parse(const QByteArray& body, const QUrl& feedURL)
{
    static const QRegularExpression lineBreak(u"\r\n|\r|\n"_s);
    const QStringList lines = QString::fromUtf8(body).split(lineBreak);

    std::optional<QString> version;
    std::optional<QString> url;
    std::optional<QString> size;
    for (const QString& line : lines) {
        if (!version && !line.startsWith(u' '))
            version = value(line, u"version");
        if (!url)
            url = value(line, u"url");
        if (!size)
            size = value(line, u"size");
    }
    if (!version)
        throw CheckError(u"latest-mac.yml has no version"_s);

    Release release;
    release.kind = SourceKind::electron;
    release.version = version;
    if (url) {
        const QUrl relative(*url);
        const QUrl absolute = relative.isValid() ? feedURL.resolved(relative) : QUrl();
        if (absolute.isValid() && !absolute.isRelative())
            release.download = Download { .url = absolute, .size = size ? decimal(*size) : std::nullopt };
    }
    return release;
}

QCoro::Task<Release> Electron::read(Net& net, QUrl feedURL)
{
    const QByteArray body = co_await net.get(feedURL);
    co_return parse(body, feedURL);
}

} // namespace corvanta
