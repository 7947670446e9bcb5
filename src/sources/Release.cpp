#include "sources/Release.h"

#include <QJsonValue>

using namespace Qt::StringLiterals;

namespace corvanta {

QString label(SourceKind kind)
{
    switch (kind) {
    case SourceKind::appStore:
        return u"Mac App Store"_s;
    case SourceKind::sparkle:
        return u"Sparkle"_s;
    case SourceKind::homebrew:
        return u"Homebrew cask"_s;
    case SourceKind::github:
        return u"GitHub Releases"_s;
    case SourceKind::electron:
        return u"Electron"_s;
    }
    Q_UNREACHABLE();
}

std::optional<SourceKind> sourceKindFromLabel(QStringView text)
{
    for (SourceKind kind : allSourceKinds) {
        if (label(kind) == text)
            return kind;
    }
    return std::nullopt;
}

bool canInstall(SourceKind kind)
{
    return kind == SourceKind::sparkle || kind == SourceKind::homebrew || kind == SourceKind::github;
}

QString Release::label() const
{
    if (version)
        return *version;
    if (build)
        return *build;
    return u"?"_s;
}

QString Attempt::outcomeName() const
{
    if (std::holds_alternative<Fail>(outcome))
        return u"fail"_s;
    if (std::holds_alternative<Skipped>(outcome))
        return u"skipped"_s;
    return u"pass"_s;
}

std::optional<QString> Attempt::outcomeText() const
{
    if (const auto* failure = std::get_if<Fail>(&outcome))
        return failure->text;
    if (const auto* skipped = std::get_if<Skipped>(&outcome))
        return skipped->text;
    return std::nullopt;
}

namespace {

QJsonValue orNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

QJsonValue orNull(const std::optional<QUrl>& url)
{
    return url ? QJsonValue(url->toString(QUrl::FullyEncoded)) : QJsonValue();
}

} // namespace

QJsonObject toJson(const Release& release)
{
    QJsonValue download;
    if (release.download) {
        const Download& d = *release.download;
        download = QJsonObject {
            { u"url"_s, d.url.toString(QUrl::FullyEncoded) },
            { u"size"_s, d.size ? QJsonValue(qint64(*d.size)) : QJsonValue() },
            { u"sha256"_s, orNull(d.sha256) },
            { u"edSignature"_s, orNull(d.edSignature) },
        };
    }
    return {
        { u"kind"_s, label(release.kind) },
        { u"version"_s, orNull(release.version) },
        { u"build"_s, orNull(release.build) },
        { u"download"_s, download },
        { u"notesURL"_s, orNull(release.notesURL) },
        { u"storeURL"_s, orNull(release.storeURL) },
        { u"ref"_s, orNull(release.ref) },
    };
}

QJsonObject toJson(const Attempt& attempt)
{
    return {
        { u"kind"_s, label(attempt.kind) },
        { u"url"_s, orNull(attempt.url) },
        { u"found"_s, orNull(attempt.found) },
        { u"outcome"_s, attempt.outcomeName() },
        { u"text"_s, orNull(attempt.outcomeText()) },
    };
}

} // namespace corvanta
