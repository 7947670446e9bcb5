#include "sources/Cask.h"

#include "discovery/GitHub.h"
#include "sources/CheckError.h"
#include "sources/WebLink.h"

#include <array>
#include <utility>

#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvanta {

Release Cask::release() const
{
    if (version == u"latest")
        throw CheckError(u"The cask is unversioned (version :latest), so it can't say what's newest"_s);

    Release release;
    release.kind = SourceKind::homebrew;
    // "1.2.3,4567": the parts after the comma are download details, not the version.
    const QString shown = version.section(u',', 0, 0);
    if (!shown.isEmpty())
        release.version = shown;
    release.notesURL = WebLink::web(homepage);

    const bool viaPackage = pkg || (url && QFileInfo(url->path()).suffix().toLower() == u"pkg");
    if (url && !viaPackage) {
        Download download;
        download.url = *url;
        if (sha256 && *sha256 != u"no_check")
            download.sha256 = sha256;
        release.download = download;
    }
    return release;
}

std::optional<QString> Cask::githubRepo() const
{
    if (homepage) {
        if (std::optional<QString> found = repo(*homepage))
            return found;
    }
    if (url)
        return repo(url->toString(QUrl::FullyEncoded));
    return std::nullopt;
}

std::optional<QString> Cask::repo(const QString& text)
{
    // Built per call: the GitHub host is configuration, not a constant.
    const QRegularExpression pattern(QRegularExpression::escape(githubWeb.host()) + u"/[^/]+/[^/#?]+"_s);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QStringList pieces = match.captured().split(u'/', Qt::SkipEmptyParts);
    if (pieces.size() < 3)
        return std::nullopt;
    QString name = pieces[2];
    if (name.endsWith(u".git"))
        name.chop(4);
    if (name.isEmpty())
        return std::nullopt;
    return pieces[1] + u'/' + name;
}

std::optional<QString> Cask::variationKey(bool arm, int macOS)
{
    static const std::array<std::pair<int, QStringView>, 7> codenames { {
        { 11, u"big_sur" },
        { 12, u"monterey" },
        { 13, u"ventura" },
        { 14, u"sonoma" },
        { 15, u"sequoia" },
        { 26, u"tahoe" },
        { 27, u"golden_gate" },
    } };
    std::optional<QStringView> codename;
    for (const auto& [major, name] : codenames) {
        if (major == macOS)
            codename = name;
    }
    // A system newer than any we know builds like the newest we know.
    if (!codename && macOS > codenames.back().first)
        codename = codenames.back().second;
    if (!codename)
        return std::nullopt;
    return arm ? u"arm64_"_s + *codename : codename->toString();
}

} // namespace corvanta
