#include "model/Restore.h"

#include "base/Error.h"
#include "sources/Appcast.h"
#include "sources/BrewIndex.h"
#include "sources/GitHub.h"
#include "sources/WebLink.h"

#include <cerrno>

#include <QDir>
#include <QLoggingCategory>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::Restore {

namespace {

Q_LOGGING_CATEGORY(restoreLog, "corvanta.restore", QtInfoMsg)

QCoro::Task<std::optional<Cask>> findCask(LibraryApp app, BrewIndex& brew)
{
    try {
        if (app.caskToken) {
            QCoro::Task<std::optional<Cask>> named = brew.caskNamed(*app.caskToken);
            if (std::optional<Cask> cask = co_await std::move(named))
                co_return cask;
        }
        QCoro::Task<std::optional<Cask>> matching = brew.cask(app.id, app.name + u".app"_s);
        co_return co_await std::move(matching);
    } catch (const Error& error) {
        qCInfo(restoreLog) << "No cask for" << app.id << ":" << error.description();
    }
    co_return std::nullopt;
}

bool downloadable(const Release& release)
{
    return release.download.has_value();
}

} // namespace

QString caskGoneReason(const QString& token)
{
    return u"Its Homebrew cask ("_s + token
        + u") isn't available any more, and there's no other download Corvanta can verify."_s;
}

std::optional<Release> caskCandidate(const Cask& cask)
{
    if (!cask.url)
        return std::nullopt;
    Release release;
    release.kind = SourceKind::homebrew;
    release.ref = cask.token;
    const QString version = cask.version.section(u',', 0, 0);
    if (!version.isEmpty())
        release.version = version;
    release.notesURL = WebLink::web(cask.homepage);
    Download download { .url = *cask.url };
    if (cask.sha256 && *cask.sha256 != u"no_check")
        download.sha256 = cask.sha256;
    download.package = cask.pkg;
    release.download = download;
    return release;
}

QCoro::Task<Route> route(LibraryApp app, Sources sources)
{
    if (const std::optional<QUrl> link = WebLink::store(app.storeURL))
        co_return Route { Route::Store { *link } };

    QList<Release> candidates;
    QCoro::Task<std::optional<Cask>> finding = findCask(app, sources.brew);
    const std::optional<Cask> cask = co_await std::move(finding);
    std::optional<Release> caskRelease;
    if (cask) {
        caskRelease = caskCandidate(*cask);
        if (caskRelease)
            candidates << *caskRelease;
    }

    if (const std::optional<QUrl> feed = WebLink::web(app.feedURL)) {
        try {
            QCoro::Task<Release> reading
                = Appcast::sparkle(sources.net, *feed, sources.checker.facts().system);
            Release release = co_await std::move(reading);
            if (downloadable(release))
                candidates << release;
        } catch (const Error& error) {
            qCInfo(restoreLog) << "No appcast release for" << app.id << ":" << error.description();
        }
    }

    const std::optional<QString> repo = app.githubRepo ? app.githubRepo
        : cask                                         ? cask->githubRepo()
                                                       : std::nullopt;
    if (repo) {
        const QUrl url
            = appendPath(sources.checker.endpoints().github, u"repos/"_s + *repo + u"/releases/latest"_s);
        try {
            QCoro::Task<Release> reading
                = GitHub::read(sources.net, url, sources.checker.facts().appleSilicon);
            Release release = co_await std::move(reading);
            if (downloadable(release))
                candidates << release;
        } catch (const Error& error) {
            qCInfo(restoreLog) << "No GitHub release for" << app.id << ":" << error.description();
        }
    }

    if (!candidates.isEmpty())
        co_return Route { Route::Install { candidates } };

    QString reason = nothingFoundReason;
    if (app.source == label(SourceKind::electron))
        reason = electronReason;
    else if (app.caskToken && !cask)
        reason = caskGoneReason(*app.caskToken);
    co_return Route { Route::Manual { website(app, cask, caskRelease, sources), reason } };
}

QUrl website(const LibraryApp& app, const std::optional<Cask>& cask, const std::optional<Release>& release,
    const Sources& sites)
{
    if (const std::optional<QUrl> page = WebLink::web(app.homepage))
        return *page;
    if (cask) {
        if (const std::optional<QUrl> page = WebLink::web(cask->homepage))
            return *page;
    }
    if (release && release->kind == SourceKind::homebrew && release->notesURL
        && WebLink::web(release->notesURL->toString()))
        return *release->notesURL;
    const std::optional<QString> repo = app.githubRepo ? app.githubRepo
        : cask                                         ? cask->githubRepo()
                                                       : std::nullopt;
    if (repo) {
        if (const std::optional<QUrl> page = WebLink::web(appendPath(sites.githubWeb, *repo).toString()))
            return *page;
    }
    // Fully encoded, so a "+" in a name stays a plus.
    QUrl search = sites.search;
    search.setQuery(u"q="_s + QString::fromLatin1(QUrl::toPercentEncoding(app.name + u" mac download"_s)),
        QUrl::StrictMode);
    return search;
}

bool mayWrite(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

Folder folder(const QString& primary, const QString& fallback, const Writable& writable)
{
    if (writable(primary))
        return { primary, false };
    if (!QDir().mkpath(fallback)) {
        const int code = errno ? errno : EACCES;
        throw SystemError(u"Couldn't create the folder %1."_s.arg(fallback), code);
    }
    return { fallback, true };
}

} // namespace corvanta::Restore
