#include "sources/Release.h"

#include "sources/Endpoints.h"

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

QUrl appendPath(const QUrl& base, const QString& path)
{
    QUrl url = base;
    QString basePath = url.path();
    if (!basePath.endsWith(u'/'))
        basePath += u'/';
    url.setPath(basePath + path);
    return url;
}

} // namespace corvanta
