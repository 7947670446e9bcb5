#include "sources/GitHub.h"

#include "sources/CheckError.h"
#include "sources/Net.h"
#include "sources/WebLink.h"

#include <array>
#include <cmath>

#include <QJsonDocument>
#include <QStringView>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

template<std::size_t N> bool containsAny(const QString& name, const std::array<QLatin1StringView, N>& words)
{
    for (QLatin1StringView word : words) {
        if (name.contains(word))
            return true;
    }
    return false;
}

constexpr std::array<QLatin1StringView, 11> otherSystems { "linux"_L1, "windows"_L1, "win32"_L1, "win64"_L1,
    "-win."_L1, "_win."_L1, "-win-"_L1, "src"_L1, "source"_L1, "dsym"_L1, "symbols"_L1 };
constexpr std::array<QLatin1StringView, 4> intelWords { "x86_64"_L1, "x64"_L1, "intel"_L1, "amd64"_L1 };
constexpr std::array<QLatin1StringView, 4> armWords { "arm64"_L1, "aarch64"_L1, "apple-silicon"_L1,
    "applesilicon"_L1 };
constexpr std::array<QLatin1StringView, 3> macWords { "mac"_L1, "darwin"_L1, "osx"_L1 };

// How well an asset name fits; none when it must never be chosen.
std::optional<int> score(const QString& name, bool arm)
{
    if (!name.endsWith(".dmg"_L1) && !name.endsWith(".zip"_L1))
        return std::nullopt;
    if (containsAny(name, otherSystems))
        return std::nullopt;
    // Builds for the other processor family are never chosen; this Mac's
    // own family ranks like a universal build marked for it.
    const auto& native = arm ? armWords : intelWords;
    const auto& foreign = arm ? intelWords : armWords;
    const bool universal = name.contains("universal"_L1);
    int points = universal ? 3 : 0;
    if (!universal && containsAny(name, foreign))
        return std::nullopt;
    if (containsAny(name, native))
        points = universal ? 5 : 2;
    if (containsAny(name, macWords))
        points += 1;
    return points;
}

std::optional<QString> stringField(const QJsonObject& object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

// The tag from its first numeric character on: "v2.1.0" gives "2.1.0".
QString versionOfTag(const QString& tag)
{
    qsizetype at = 0;
    while (at < tag.size()) {
        char32_t code = tag.at(at).unicode();
        qsizetype width = 1;
        if (tag.at(at).isHighSurrogate() && at + 1 < tag.size() && tag.at(at + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(tag.at(at), tag.at(at + 1));
            width = 2;
        }
        if (QChar::isNumber(code))
            return tag.mid(at);
        at += width;
    }
    return {};
}

std::optional<std::int64_t> sizeField(const QJsonObject& asset)
{
    const QJsonValue value = asset.value("size"_L1);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::abs(number) > 9.0e15)
        return std::nullopt;
    return std::int64_t(number);
}

} // namespace

std::optional<QJsonObject> GitHub::macAsset(const QJsonArray& assets, bool arm)
{
    std::optional<QJsonObject> best;
    int bestScore = -1;
    for (const QJsonValue& value : assets) {
        const QJsonObject asset = value.toObject();
        const std::optional<int> points = score(asset.value("name"_L1).toString().toLower(), arm);
        if (points && *points > bestScore) {
            best = asset;
            bestScore = *points;
        }
    }
    return best;
}

Release GitHub::parse(const QByteArray& body, bool arm)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw CheckError::invalidJson(error);
    const QJsonObject object = document.object();
    const std::optional<QString> tag
        = document.isObject() ? stringField(object, "tag_name"_L1) : std::nullopt;
    if (!tag)
        throw CheckError(u"The repository has no published release"_s);
    const QString version = versionOfTag(*tag);
    if (version.isEmpty())
        throw CheckError(u"The release tag \""_s + *tag + u"\" has no version number"_s);

    Release release;
    release.kind = SourceKind::github;
    release.version = version;
    release.notes = stringField(object, "body"_L1);
    release.notesURL = WebLink::web(stringField(object, "html_url"_L1));

    const std::optional<QJsonObject> asset = macAsset(object.value("assets"_L1).toArray(), arm);
    const std::optional<QString> link = asset ? stringField(*asset, "browser_download_url"_L1) : std::nullopt;
    const QUrl url = link ? QUrl(*link) : QUrl();
    if (url.isValid() && !url.isRelative()) {
        Download download { .url = url, .size = sizeField(*asset) };
        const QString digest = asset->value("digest"_L1).toString();
        if (digest.startsWith("sha256:"_L1) && digest.size() > 7)
            download.sha256 = digest.mid(7);
        release.download = download;
    }
    return release;
}

QCoro::Task<Release> GitHub::read(Net& net, QUrl url, bool arm)
{
    const QByteArray body = co_await net.get(url, u"application/vnd.github+json"_s);
    co_return parse(body, arm);
}

} // namespace corvanta
