#include "sources/Checker.h"

#include "base/Error.h"
#include "sources/AppStore.h"
#include "sources/Appcast.h"
#include "sources/BrewIndex.h"
#include "sources/Cask.h"
#include "sources/Electron.h"
#include "sources/GitHub.h"
#include "sources/Net.h"

#include <coroutine>
#include <deque>
#include <exception>
#include <memory>

#include <QException>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The sentence an attempt records for whatever a reader threw.
QString describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error& e) {
        return e.description();
    } catch (const QUnhandledException& e) {
        // Off-thread work wraps what it threw; the inner error is the one that speaks.
        return e.exception() ? describe(e.exception()) : u"unknown error"_s;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return u"unknown error"_s;
    }
}

QString absolute(const QUrl& url)
{
    return url.toString(QUrl::FullyEncoded);
}

// The bundle's file name ("Example.app"), whether or not its URL ends in a slash.
QString bundleFileName(const QUrl& url)
{
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    return path.section(u'/', -1);
}

// Collects one attempt per source and the release that ends the check.
struct Record {
    CheckResult result;

    void pass(SourceKind kind, const QUrl& url, Release release)
    {
        result.attempts.push_back(
            { .kind = kind, .url = absolute(url), .found = release.label(), .outcome = Attempt::Pass {} });
        result.release = std::move(release);
    }
    void fail(SourceKind kind, const QUrl& url, std::exception_ptr error)
    {
        result.attempts.push_back(
            { .kind = kind, .url = absolute(url), .outcome = Attempt::Fail { describe(error) } });
    }
    void skip(SourceKind kind, std::optional<QUrl> url, QString why)
    {
        result.attempts.push_back({ .kind = kind,
            .url = url ? std::optional(absolute(*url)) : std::nullopt,
            .outcome = Attempt::Skipped { std::move(why) } });
    }
};

// Results of checkAll's children in the order they finish, and the parent
// waiting for the next one.
struct Pool {
    std::deque<CheckedApp> finished;
    std::coroutine_handle<> waiting;
};

struct NextFinished {
    Pool& pool;
    bool await_ready() const noexcept { return !pool.finished.empty(); }
    void await_suspend(std::coroutine_handle<> parent) noexcept { pool.waiting = parent; }
    void await_resume() const noexcept { }
};

QCoro::Task<> child(Checker checker, InstalledApp app, std::shared_ptr<Pool> pool)
{
    CheckResult result = co_await checker.check(app);
    pool->finished.push_back({ std::move(app), std::move(result.attempts), std::move(result.release) });
    if (std::coroutine_handle<> parent = std::exchange(pool->waiting, {}))
        parent.resume();
}

} // namespace

MacFacts MacFacts::of(const HostInfo& host, const QLocale& locale)
{
    return { host.isAppleSilicon(), host.systemVersion(), regionOf(locale) };
}

QString MacFacts::regionOf(const QLocale& locale)
{
    const QString code = locale.territory() == QLocale::AnyTerritory
        ? QString()
        : QLocale::territoryToCode(locale.territory());
    return code.isEmpty() ? u"US"_s : code;
}

Checker::Checker(Net& net, Endpoints endpoints, BrewIndex& brew, MacFacts facts)
    : m_net(&net)
    , m_endpoints(std::move(endpoints))
    , m_brew(&brew)
    , m_facts(std::move(facts))
{
}

QUrl Checker::lookupURL(const InstalledApp& app) const
{
    QUrl url = appendPath(m_endpoints.itunes, u"lookup"_s);
    QUrlQuery query;
    query.addQueryItem(u"bundleId"_s, app.bundleID);
    query.addQueryItem(u"country"_s, m_facts.region);
    url.setQuery(query);
    return url;
}

QCoro::Task<CheckResult> Checker::check(InstalledApp app) const
{
    return run(*this, std::move(app));
}

QCoro::Task<CheckResult> Checker::run(Checker self, InstalledApp app)
{
    Net& net = *self.m_net;
    Record record;

    if (app.isAppStore) {
        const QUrl url = self.lookupURL(app);
        try {
            Release release = co_await AppStore::read(net, app.bundleID, url);
            record.pass(SourceKind::appStore, url, std::move(release));
            co_return std::move(record.result);
        } catch (...) {
            record.fail(SourceKind::appStore, url, std::current_exception());
        }
    } else {
        record.skip(SourceKind::appStore, std::nullopt, u"No App Store receipt"_s);
    }

    if (app.feedURL) {
        const QUrl url = *app.feedURL;
        try {
            Release release = co_await Appcast::sparkle(net, url, self.m_facts.system);
            release.ref = absolute(url);
            record.pass(SourceKind::sparkle, url, std::move(release));
            co_return std::move(record.result);
        } catch (...) {
            record.fail(SourceKind::sparkle, url, std::current_exception());
        }
    } else {
        record.skip(SourceKind::sparkle, std::nullopt, u"No SUFeedURL in Info.plist"_s);
    }

    const QString fileName = bundleFileName(app.url);
    const QUrl indexURL = appendPath(self.m_endpoints.brew, u"api/cask.json"_s);
    std::optional<Cask> cask;
    bool lookedUp = false;
    try {
        cask = co_await self.m_brew->cask(app.bundleID, fileName);
        lookedUp = true;
    } catch (...) {
        record.fail(SourceKind::homebrew, indexURL, std::current_exception());
    }
    if (lookedUp && !cask) {
        record.skip(SourceKind::homebrew, indexURL, u"No cask installs "_s + fileName);
    } else if (cask) {
        const QUrl url = appendPath(self.m_endpoints.brew, u"cask/"_s + cask->token);
        try {
            Release release = cask->release();
            release.ref = cask->token;
            record.pass(SourceKind::homebrew, url, std::move(release));
            co_return std::move(record.result);
        } catch (...) {
            // The cask may still name a GitHub repository.
            record.fail(SourceKind::homebrew, url, std::current_exception());
        }
    }

    if (const std::optional<QString> repo = cask ? cask->githubRepo() : std::nullopt) {
        const QUrl url = appendPath(self.m_endpoints.github, u"repos/"_s + *repo + u"/releases/latest"_s);
        try {
            Release release = co_await GitHub::read(net, url, self.m_facts.appleSilicon);
            release.ref = *repo;
            record.pass(SourceKind::github, url, std::move(release));
            co_return std::move(record.result);
        } catch (...) {
            record.fail(SourceKind::github, url, std::current_exception());
        }
    } else {
        record.skip(SourceKind::github, std::nullopt, u"No GitHub repository known"_s);
    }

    if (app.electronFeed) {
        const QUrl url = *app.electronFeed;
        try {
            Release release = co_await Electron::read(net, url);
            record.pass(SourceKind::electron, url, std::move(release));
            co_return std::move(record.result);
        } catch (...) {
            record.fail(SourceKind::electron, url, std::current_exception());
        }
    } else {
        record.skip(SourceKind::electron, std::nullopt, u"No electron-updater config (app-update.yml)"_s);
    }

    co_return std::move(record.result);
}

QCoro::Task<std::vector<CheckedApp>> Checker::checkAll(
    std::vector<InstalledApp> apps, int limit, Each each) const
{
    std::vector<CheckedApp> results;
    if (limit < 1 || apps.empty())
        co_return results;

    // Children are detached: each finishes on its own and leaves its result
    // in the pool, which outlives this coroutine if it has to.
    const Checker self = *this;
    auto pool = std::make_shared<Pool>();
    std::size_t next = 0;
    std::size_t running = 0;
    auto startNext = [&] {
        ++running;
        child(self, apps[next++], pool);
    };
    while (next < apps.size() && running < std::size_t(limit))
        startNext();

    while (running > 0) {
        co_await NextFinished { *pool };
        CheckedApp done = std::move(pool->finished.front());
        pool->finished.pop_front();
        --running;
        results.push_back(std::move(done));
        if (each) {
            const CheckedApp& last = results.back();
            co_await each(last.app, last.attempts, last.release);
        }
        if (next < apps.size())
            startNext();
    }
    co_return results;
}

} // namespace corvanta
