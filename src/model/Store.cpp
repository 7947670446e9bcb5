#include "model/Store.h"

#include "discovery/Scanner.h"
#include "model/Prefs.h"
#include "platform/SecretStore.h"
#include "platform/WebAuthSession.h"
#include "sources/BrewIndex.h"
#include "sources/Verdict.h"

#include <chrono>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QLocale>
#include <QPointer>
#include <QStandardPaths>
#include <QtConcurrentRun>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {

constexpr int revealSlice = 8;
constexpr auto revealPause = 35ms;
constexpr int checkLimit = 8;

QString cacheFolder(const Launch& launch)
{
    if (const std::optional<QString> sandbox = launch.sandbox())
        return QFileInfo(*sandbox).dir().filePath(u"Caches"_s);
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(u"com.brenmoral.corvanta"_s);
}

} // namespace

Store::Store(StoreServices services, const Launch& launch, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_reduceMotion(launch.has(u"--reduce-motion") || m_services.reduceMotion)
{
    if (const std::optional<QString> sandbox = launch.sandbox())
        m_folders = { QUrl::fromLocalFile(*sandbox) };
    else
        m_folders = { QUrl::fromLocalFile(u"/Applications"_s),
            QUrl::fromLocalFile(QDir::home().filePath(u"Applications"_s)) };

    if (const std::optional<QString> mock = launch.value(u"--mock")) {
        m_endpoints = Endpoints::mock(QUrl(*mock));
        // The mock plays GitHub's web pages too, for electron-updater's github provider.
        m_githubWeb = QUrl(*mock);
    }

    m_brew = std::make_unique<BrewIndex>(
        m_services.net, BrewIndex::indexURL(m_endpoints), cacheFolder(launch), m_services.host);
    m_animation = Motion::spring(m_reduceMotion);
    initActions(launch);
    initSchedule(launch);
    initAccount(launch);
    initLibrary(launch);
}

Store::~Store() = default;

Checker Store::checker() const
{
    return Checker(m_services.net, m_endpoints, *m_brew, MacFacts::of(m_services.host));
}

void Store::setFilter(Filter filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    Q_EMIT filterChanged();
}

void Store::setQuery(const QString& query)
{
    if (m_query == query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
}

void Store::setSelection(const std::optional<QString>& id)
{
    if (m_selection == id)
        return;
    m_selection = id;
    Q_EMIT selectionChanged();
}

void Store::setExpanded(const std::optional<QString>& id)
{
    if (m_expanded == id)
        return;
    m_expanded = id;
    Q_EMIT expandedChanged();
}

void Store::setScanning(bool scanning)
{
    if (m_scanning == scanning)
        return;
    m_scanning = scanning;
    Q_EMIT scanningChanged();
}

void Store::setChecked(int checked)
{
    m_checked = checked;
    Q_EMIT progressChanged();
}

void Store::setToCheck(int toCheck)
{
    m_toCheck = toCheck;
    Q_EMIT progressChanged();
}

QCoro::Task<> Store::refresh(bool background, bool everything)
{
    if (m_scanning)
        co_return;
    setScanning(true);
    if (m_checked != 0)
        setChecked(0);

    // The scan touches only its arguments: the folders and the signing service.
    // Named locals throughout: GCC 12 destroys temporaries of a co_await expression twice.
    const QList<QUrl> folders = m_folders;
    const CodeSigning* codeSigning = &m_services.codeSigning;
    const QUrl githubWeb = m_githubWeb;
    const auto scan
        = [folders, codeSigning, githubWeb] { return Scanner::scan(folders, *codeSigning, githubWeb); };
    QFuture<std::vector<InstalledApp>> scanning = QtConcurrent::run(scan);
    std::vector<InstalledApp> scanned = co_await scanning;

    QHash<QString, AppItem*> current;
    for (AppItem* item : std::as_const(m_items)) {
        if (!current.contains(item->id()))
            current.insert(item->id(), item);
    }

    QList<AppItem*> rebuilt;
    rebuilt.reserve(qsizetype(scanned.size()));
    QSet<AppItem*> kept;
    for (InstalledApp& app : scanned) {
        const QString path = app.url.toLocalFile();
        if (AppItem* item = current.value(path); item && !kept.contains(item)) {
            // An install under way keeps its record until it ends.
            if (!item->phase().isActive()) {
                item->setApp(std::move(app));
                if (item->phase().kind != InstallPhase::Kind::idle)
                    item->setPhase(InstallPhase::idle());
            }
            kept.insert(item);
            rebuilt << item;
        } else {
            rebuilt << new AppItem(std::move(app), this);
        }
    }
    const QList<AppItem*> dropped = [&] {
        QList<AppItem*> gone;
        for (AppItem* item : std::as_const(m_items)) {
            if (!kept.contains(item))
                gone << item;
        }
        return gone;
    }();

    m_animation = Motion::spring(m_reduceMotion);
    if (m_items.isEmpty() && !rebuilt.isEmpty() && m_services.revealInSlices) {
        // The first list appears in slices rather than all at once.
        for (qsizetype start = 0; start < rebuilt.size(); start += revealSlice) {
            m_items << rebuilt.mid(start, revealSlice);
            Q_EMIT itemsChanged();
            co_await QCoro::sleepFor(revealPause);
        }
    } else {
        m_items = rebuilt;
        Q_EMIT itemsChanged();
    }
    for (AppItem* item : dropped)
        item->deleteLater();

    std::vector<InstalledApp> toCheck;
    QSet<QString> counting;
    const QStringList& ignoredApps = prefs().ignoredApps();
    for (AppItem* item : std::as_const(m_items)) {
        if (ignoredApps.contains(item->app().bundleID)) {
            item->setStatus(Status::ignored(ignoredAtRefresh));
            continue;
        }
        if (item->phase().isActive())
            continue;
        item->setChecking(true);
        counting.insert(item->id());
        toCheck.push_back(item->app());
    }
    m_counting = counting;
    if (m_toCheck != int(toCheck.size()))
        setToCheck(int(toCheck.size()));

    QPointer<Store> self(this);
    const Checker::Each each = [self](const InstalledApp& app, const std::vector<Attempt>& attempts,
                                   const std::optional<Release>& release) -> QCoro::Task<> {
        if (self)
            self->apply(app.url.toLocalFile(), attempts, release);
        co_return;
    };
    const Checker checking = checker();
    QCoro::Task<std::vector<CheckedApp>> run = checking.checkAll(std::move(toCheck), checkLimit, each);
    co_await std::move(run);
    if (!self)
        co_return;

    m_lastChecked = m_services.clock();
    Q_EMIT lastCheckedChanged();
    setScanning(false);
    announce(background, everything);
    co_await syncLibrary();
}

void Store::apply(const QString& path, std::vector<Attempt> attempts, std::optional<Release> release)
{
    if (m_counting.remove(path))
        setChecked(m_checked + 1);
    AppItem* target = item(path);
    if (!target)
        return;
    target->setAttempts(std::move(attempts));
    target->setRelease(std::move(release));
    m_animation = Motion::spring(m_reduceMotion);
    target->setChecking(false);
    target->setStatus(verdict(*target));
}

QCoro::Task<> Store::check(AppItem* item)
{
    if (!item)
        co_return;
    item->setChecking(true);
    const InstalledApp app = item->app();
    QPointer<Store> self(this);
    const Checker checking = checker();
    QCoro::Task<CheckResult> run = checking.check(app);
    CheckResult result = co_await std::move(run);
    if (self)
        self->apply(app.url.toLocalFile(), std::move(result.attempts), std::move(result.release));
}

void Store::restatus(AppItem* item)
{
    m_animation = Motion::spring(m_reduceMotion);
    item->setStatus(verdict(*item));
}

Status Store::verdict(const AppItem& item) const
{
    return Verdict::status(item.app(), item.release(), item.attempts(), m_services.prefs.ignoredApps(),
        m_services.prefs.ignoredVersions());
}

QList<AppItem*> Store::visible() const
{
    if (!m_services.prefs.hideAppStore())
        return m_items;
    QList<AppItem*> result;
    for (AppItem* item : m_items) {
        if (!item->app().isAppStore)
            result << item;
    }
    return result;
}

namespace {
bool selects(Filter filter, const AppItem& item)
{
    switch (filter) {
    case Filter::all:
        return true;
    case Filter::updates:
        return item.status().kind == Status::Kind::update;
    case Filter::cantVerify:
        return item.status().kind == Status::Kind::cantVerify;
    case Filter::ignored:
        return item.status().kind == Status::Kind::ignored;
    case Filter::library:
        return false;
    }
    return false;
}
} // namespace

int Store::count(Filter filter) const
{
    if (filter == Filter::library)
        return int(m_library.size());
    int n = 0;
    for (AppItem* item : visible()) {
        if (selects(filter, *item))
            ++n;
    }
    return n;
}

QList<AppItem*> Store::shown(Filter filter) const
{
    QList<AppItem*> result;
    for (AppItem* item : visible()) {
        if (!selects(filter, *item))
            continue;
        const std::optional<QString> source
            = item->release() ? std::optional(label(item->release()->kind)) : std::nullopt;
        if (matches(m_query, { item->app().name, item->app().bundleID, source }))
            result << item;
    }
    return result;
}

AppItem* Store::item(const QString& id) const
{
    for (AppItem* item : m_items) {
        if (item->id() == id)
            return item;
    }
    return nullptr;
}

bool Store::matches(const QString& query, const QList<std::optional<QString>>& fields)
{
    qsizetype start = 0;
    qsizetype end = query.size();
    while (start < end && (query[start] == u' ' || query[start] == u'\t'))
        ++start;
    while (end > start && (query[end - 1] == u' ' || query[end - 1] == u'\t'))
        --end;
    if (start == end)
        return true;
    const QLocale locale;
    const QString needle = locale.toLower(query.mid(start, end - start));
    for (const std::optional<QString>& field : fields) {
        if (field && locale.toLower(*field).contains(needle))
            return true;
    }
    return false;
}

} // namespace corvanta
