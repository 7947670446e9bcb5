#include "base/Error.h"
#include "discovery/Scanner.h"
#include "install/FileTree.h"
#include "install/Updater.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "model/StorePlatform.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/Workspace.h"
#include "sources/BrewIndex.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QProcess>
#include <QPromise>
#include <QThread>
#include <QTimer>
#include <QtConcurrentRun>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

// The installer's platform services: the ones the composition root passed,
// or the platform's own, made here and kept for the store's lifetime.

namespace {

// A running app gets this many looks, this far apart, to quit before the
// update goes on regardless.
constexpr int quitChecks = 60;
constexpr auto quitInterval = 250ms;
// How long "Updated" shows before the status is decided again.
constexpr auto doneMoment = 1400ms;

template<typename T> T* chosen(T* given, std::unique_ptr<T>& own, std::unique_ptr<T> (*make)())
{
    if (given)
        return given;
    own = make();
    return own.get();
}

QCoro::Task<> timerSleep(std::chrono::milliseconds duration)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

void openWithDesktop(const QUrl& url)
{
#ifdef Q_OS_MACOS
    QProcess::startDetached(u"/usr/bin/open"_s, { url.toString() });
#else
    QProcess::startDetached(u"xdg-open"_s, { url.toString() });
#endif
}

using storeFailures::describe;
using storeFailures::needsPermission;

bool isBusyOrDone(const InstallPhase& phase)
{
    using Kind = InstallPhase::Kind;
    return phase.kind == Kind::downloading || phase.kind == Kind::verifying || phase.kind == Kind::installing
        || phase.kind == Kind::done;
}

// Asks every running instance of the app to quit, then looks up to 60 times,
// a quarter of a second apart, whether any still runs. Shares the workspace
// so the store may go away meanwhile.
QCoro::Task<> quitAndWait(std::shared_ptr<Workspace> workspace,
    std::function<QCoro::Task<>(std::chrono::milliseconds)> sleep, QString bundle)
{
    const QList<RunningProcess> running = workspace->running(bundle);
    for (const RunningProcess& process : running) {
        try {
            workspace->terminate(process.pid);
        } catch (const SystemError&) {
            // Gone meanwhile, or not ours to signal: the looks below tell.
        }
    }
    for (int check = 0; check < quitChecks; ++check) {
        QCoro::Task<> pausing = sleep(quitInterval);
        co_await std::move(pausing);
        if (workspace->running(bundle).isEmpty())
            co_return;
    }
}

// Keeps an item marked as inside update() until the coroutine leaves it.
class UpdatingMark {
public:
    UpdatingMark(QSet<QString>& updating, QPointer<Store> store, QString id)
        : m_updating(&updating)
        , m_store(std::move(store))
        , m_id(std::move(id))
    {
        m_updating->insert(m_id);
    }
    ~UpdatingMark()
    {
        if (m_store)
            m_updating->remove(m_id);
    }
    UpdatingMark(const UpdatingMark&) = delete;
    UpdatingMark& operator=(const UpdatingMark&) = delete;

private:
    QSet<QString>* m_updating;
    QPointer<Store> m_store;
    QString m_id;
};

// The one answer to a package question; unanswered when the store goes, it is "no".
struct PendingAnswer {
    QPromise<bool> promise;
    bool answered = false;

    void give(bool ok)
    {
        if (answered)
            return;
        answered = true;
        promise.addResult(ok);
        promise.finish();
    }
    ~PendingAnswer() { give(false); }
};

} // namespace

void Store::initActions(const Launch& launch)
{
    m_platform = std::make_shared<Platform>();
    Platform& platform = *m_platform;
    platform.ditto = chosen(m_services.ditto, platform.ownDitto, &Ditto::create);
    platform.rename = chosen(m_services.rename, platform.ownRename, &Rename::create);
    platform.trash = chosen(m_services.trash, platform.ownTrash, &Trash::create);
    platform.workspace = chosen(m_services.workspace, platform.ownWorkspace, &Workspace::create);
    platform.diskImages = chosen(m_services.diskImages, platform.ownDiskImages, &DiskImages::create);
    platform.permissions = chosen(m_services.permissions, platform.ownPermissions, &Permissions::create);
    if (!m_services.sleep)
        m_services.sleep = &timerSleep;
    if (!m_services.openURL)
        m_services.openURL = &openWithDesktop;

    if (const std::optional<QString> sandbox = launch.sandbox()) {
        m_sandboxed = true;
        const QDir beside = QFileInfo(*sandbox).dir();
        m_userLibrary = beside.filePath(u"Library"_s);
        m_trashFolder = beside.filePath(u"Trash"_s);
    } else {
        m_userLibrary = QDir::home().filePath(u"Library"_s);
        m_appManagement = platform.permissions->appManagement();
    }
}

// ---- state ------------------------------------------------------------------

void Store::setUpdatingAll(bool updatingAll)
{
    if (m_updatingAll == updatingAll)
        return;
    m_updatingAll = updatingAll;
    Q_EMIT updatingAllChanged();
}

void Store::setAppManagement(Permissions::State state)
{
    if (m_appManagement == state)
        return;
    m_appManagement = state;
    Q_EMIT appManagementChanged();
}

void Store::setNotice(const std::optional<QString>& notice)
{
    if (m_notice == notice)
        return;
    m_notice = notice;
    Q_EMIT noticeChanged();
}

void Store::setRemoving(AppItem* item)
{
    if (m_removing == item)
        return;
    m_removing = item;
    Q_EMIT removingChanged();
}

void Store::setPhase(AppItem* item, InstallPhase phase, Animation animation)
{
    if (item->phase() == phase)
        return;
    m_animation = animation;
    item->setPhase(std::move(phase));
}

void Store::probeAppManagement()
{
    setAppManagement(m_platform->permissions->appManagement());
}

void Store::removeItem(AppItem* item)
{
    if (!m_items.removeOne(item))
        return;
    m_animation = Motion::spring(m_reduceMotion);
    if (m_removing == item)
        setRemoving(nullptr);
    Q_EMIT itemsChanged();
    item->deleteLater();
}

QList<AppItem*> Store::installable() const
{
    QList<AppItem*> result;
    for (AppItem* item : visible()) {
        if (item->status().kind == Status::Kind::update && item->app().canInstall(item->release()))
            result << item;
    }
    return result;
}

QCoro::Task<bool> Store::ask(Question question)
{
    if (!m_prompts)
        co_return false;
    QCoro::Task<bool> asking = m_prompts->ask(std::move(question));
    co_return co_await std::move(asking);
}

QCoro::Task<> Store::pause(std::chrono::milliseconds duration)
{
    QCoro::Task<> pausing = m_services.sleep(duration);
    co_await std::move(pausing);
}

// ---- updating ---------------------------------------------------------------

QCoro::Task<> Store::update(AppItem* target)
{
    QPointer<AppItem> item(target);
    if (!item || !item->release())
        co_return;
    if (item->release()->kind == SourceKind::appStore) {
        openStore(item);
        co_return;
    }
    if (!item->app().canInstall(item->release()))
        co_return;
    // Busy, or just updated; and one update of an app at a time, even while
    // an earlier one still waits for the app to quit.
    if (isBusyOrDone(item->phase()) || m_updating.contains(item->id()))
        co_return;

    QPointer<Store> self(this);
    const UpdatingMark mark(m_updating, self, item->id());
    const InstalledApp app = item->app();
    const Release release = *item->release();
    const QString bundle = app.url.toLocalFile();
    const std::shared_ptr<Platform> platform = m_platform;

    if (!platform->workspace->running(bundle).isEmpty()) {
        const Question question = Question::quitToUpdate(app, release);
        QCoro::Task<bool> asking = ask(question);
        const bool quit = co_await std::move(asking);
        if (!self || !item)
            co_return;
        if (!quit) {
            setPhase(item, InstallPhase::idle(), Motion::spring(m_reduceMotion));
            co_return;
        }
        QCoro::Task<> quitting = quitAndWait(
            std::shared_ptr<Workspace>(platform, platform->workspace), m_services.sleep, bundle);
        co_await std::move(quitting);
        if (!self || !item)
            co_return;
    }

    const Updater::Services services { m_services.net, *platform->ditto, *platform->rename, *platform->trash,
        *platform->workspace, *platform->diskImages, m_services.codeSigning };
    std::exception_ptr failure;
    std::optional<Updater> updater;
    try {
        updater.emplace(services, app.folder.toLocalFile(), m_trashFolder);
    } catch (...) {
        failure = std::current_exception();
    }

    QStringList log;
    if (!failure) {
        setPhase(item, InstallPhase::downloading(0), Motion::spring(m_reduceMotion));
        // Phases reach the item on the main thread, and only while this
        // install runs: one that arrives late must not overwrite the outcome.
        const auto live = std::make_shared<bool>(true);
        const bool reduceMotion = m_reduceMotion;
        const auto store = [self, item, live, reduceMotion](const InstallPhase& now) {
            if (*live && self && item)
                self->setPhase(item, now, Motion::spring(reduceMotion));
        };
        const PhaseCallback phase = [store](const InstallPhase& now) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                store(now);
            else
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [store, now] { store(now); }, Qt::QueuedConnection);
        };
        try {
            QCoro::Task<QStringList> installing = updater->install(app, release, phase);
            log = co_await std::move(installing);
        } catch (...) {
            failure = std::current_exception();
        }
        *live = false;
    }
    if (!self || !item)
        co_return;

    if (failure) {
        const QString description = describe(failure);
        item->setInstallLog({ u"Update failed: "_s + description, app.name + u" was left untouched."_s });
        const bool permission = needsPermission(failure);
        setPhase(item, permission ? InstallPhase::blocked() : InstallPhase::failed(description),
            Motion::spring(m_reduceMotion));
        if (permission)
            probeAppManagement();
        co_return;
    }

    item->setInstallLog(log);
    const CodeSigning* codeSigning = &m_services.codeSigning;
    const QUrl githubWeb = m_githubWeb;
    const auto reread = [app, codeSigning, githubWeb] {
        return Scanner::read(app.url, app.folder, *codeSigning, githubWeb);
    };
    QFuture<std::optional<InstalledApp>> reading = QtConcurrent::run(reread);
    const std::optional<InstalledApp> fresh = co_await reading;
    if (!self || !item)
        co_return;
    if (fresh)
        item->setApp(*fresh);
    setPhase(item, InstallPhase::done(), Animation { Animation::Kind::spring, 0.4, 0.6 });

    QCoro::Task<> showing = pause(doneMoment);
    co_await std::move(showing);
    if (self && item)
        restatus(item);
}

QCoro::Task<> Store::updateAll(std::optional<QList<AppItem*>> only)
{
    if (m_updatingAll)
        co_return;
    const QList<AppItem*> chosenItems = only ? *only : installable();
    if (chosenItems.isEmpty())
        co_return;
    setUpdatingAll(true);

    QList<QPointer<AppItem>> queue;
    for (AppItem* item : chosenItems) {
        setPhase(item, InstallPhase::queued(), Motion::spring(m_reduceMotion));
        queue << QPointer<AppItem>(item);
    }

    QPointer<Store> self(this);
    for (const QPointer<AppItem>& item : std::as_const(queue)) {
        if (!self)
            co_return;
        if (!m_updatingAll)
            break;
        // Taken out of the queue meanwhile, or started by hand.
        if (!item || item->phase().kind != InstallPhase::Kind::queued)
            continue;
        QCoro::Task<> updating = update(item);
        co_await std::move(updating);
        if (!self)
            co_return;
        // An update that stopped before it began leaves the item queued,
        // which no refresh would clear.
        if (item && item->phase().kind == InstallPhase::Kind::queued)
            setPhase(item, InstallPhase::idle(), Motion::spring(m_reduceMotion));
    }
    for (const QPointer<AppItem>& item : std::as_const(queue)) {
        if (item && item->phase().kind == InstallPhase::Kind::queued)
            setPhase(item, InstallPhase::idle(), Motion::spring(m_reduceMotion));
    }
    setUpdatingAll(false);

    // Permission arrived while this run went on: its blocked items go now.
    if (m_retryAfterRun) {
        m_retryAfterRun = false;
        QCoro::Task<> retrying = retryBlocked();
        co_await std::move(retrying);
    }
}

QCoro::Task<> Store::retryBlocked()
{
    QList<AppItem*> blocked;
    for (AppItem* item : std::as_const(m_items)) {
        if (item->phase().kind == InstallPhase::Kind::blocked)
            blocked << item;
    }
    if (blocked.isEmpty())
        co_return;
    // A run under way can't take more items; they follow when it ends.
    if (m_updatingAll) {
        m_retryAfterRun = true;
        co_return;
    }
    for (AppItem* item : std::as_const(blocked))
        setPhase(item, InstallPhase::queued(), Motion::spring(m_reduceMotion));
    const std::optional<QList<AppItem*>> only = blocked;
    QCoro::Task<> running = updateAll(only);
    co_await std::move(running);
}

QCoro::Task<> Store::refreshPermissions()
{
    const Permissions::State before = m_appManagement;
    QPointer<Store> self(this);
    const std::shared_ptr<Platform> platform = m_platform;
    if (!m_sandboxed)
        setAppManagement(platform->permissions->appManagement());

    Permissions::Notifications notifications = Permissions::Notifications::notDetermined;
    if (!m_sandboxed) {
        QCoro::Task<Permissions::Notifications> reading = platform->permissions->notifications();
        notifications = co_await std::move(reading);
        if (!self)
            co_return;
    }
    if (m_notifications != notifications) {
        m_notifications = notifications;
        Q_EMIT notificationsChanged();
    }

    if (before != Permissions::State::granted && m_appManagement == Permissions::State::granted) {
        QCoro::Task<> retrying = retryBlocked();
        co_await std::move(retrying);
    }
}

// ---- ignoring -----------------------------------------------------------------

void Store::ignore(AppItem* item)
{
    const QString id = item->app().bundleID;
    QStringList ignored = prefs().ignoredApps();
    if (!ignored.contains(id)) {
        ignored << id;
        prefs().setIgnoredApps(ignored);
    }
    // Ignoring goes by bundle identifier, so every copy of the app follows.
    for (AppItem* each : std::as_const(m_items)) {
        if (each->app().bundleID == id)
            restatus(each);
    }
}

void Store::ignoreVersion(AppItem* item)
{
    if (!item->release())
        return;
    const QString id = item->app().bundleID;
    QMap<QString, QString> skipped = prefs().ignoredVersions();
    skipped.insert(id, item->release()->label());
    prefs().setIgnoredVersions(skipped);
    for (AppItem* each : std::as_const(m_items)) {
        if (each->app().bundleID == id)
            restatus(each);
    }
}

void Store::unignore(const QString& bundleID)
{
    QStringList ignored = prefs().ignoredApps();
    if (ignored.removeAll(bundleID) > 0)
        prefs().setIgnoredApps(ignored);
    QMap<QString, QString> skipped = prefs().ignoredVersions();
    if (skipped.remove(bundleID) > 0)
        prefs().setIgnoredVersions(skipped);
    for (AppItem* item : std::as_const(m_items)) {
        if (item->app().bundleID != bundleID)
            continue;
        // Ignored before its first check, it has nothing to decide from.
        if (item->attempts().empty())
            check(item); // runs by itself
        else
            restatus(item);
    }
}

void Store::openStore(AppItem* item)
{
    if (item->release() && item->release()->storeURL)
        m_services.openURL(*item->release()->storeURL);
}

QCoro::Task<bool> Store::askPackageConsent(PackageConsent consent)
{
    const auto pending = std::make_shared<PendingAnswer>();
    pending->promise.start();
    QFuture<bool> answered = pending->promise.future();

    QPointer<Store> self(this);
    const std::function<void(bool)> answer = [self, pending](bool ok) {
        if (pending->answered)
            return;
        if (self && self->m_packageConsent) {
            self->m_packageConsent.reset();
            Q_EMIT self->packageConsentChanged();
        }
        pending->give(ok);
    };
    m_packageConsent = PackageQuestion { consent, answer };
    Q_EMIT packageConsentChanged();
    if (m_prompts) {
        const Question question = Question::packageConsent(consent);
        QCoro::Task<bool> asking = m_prompts->ask(question);
        const bool ok = co_await std::move(asking);
        answer(ok);
    }
    co_return co_await answered;
}

// ---- removing -----------------------------------------------------------------

QCoro::Task<QStringList> Store::caskZap(InstalledApp app)
{
    try {
        // The bundle's URL may end in a slash; its file name is the last component.
        const QString fileName = QFileInfo(QDir::cleanPath(app.url.toLocalFile())).fileName();
        QCoro::Task<std::optional<Cask>> finding = m_brew->cask(app.bundleID, fileName);
        const std::optional<Cask> cask = co_await std::move(finding);
        if (cask)
            co_return cask->zap;
    } catch (...) {
        // Without the cask index there are no zap paths; the rest still counts.
    }
    co_return {};
}

QCoro::Task<std::vector<Leftover>> Store::leftovers(InstalledApp app)
{
    QPointer<Store> self(this);
    QCoro::Task<QStringList> zapping = caskZap(app);
    const QStringList zap = co_await std::move(zapping);
    if (!self)
        co_return {};
    QSet<QString> installed;
    for (const AppItem* item : std::as_const(m_items))
        installed.insert(item->app().bundleID);
    const QString library = m_userLibrary;
    const auto search
        = [app, library, zap, installed] { return Leftovers::find(app, library, zap, installed); };
    QFuture<std::vector<Leftover>> searching = QtConcurrent::run(search);
    co_return co_await searching;
}

QCoro::Task<> Store::uninstall(AppItem* target, std::vector<Leftover> data, bool permanently)
{
    QPointer<AppItem> item(target);
    if (!item)
        co_return;
    QPointer<Store> self(this);
    const InstalledApp app = item->app();
    const QString bundle = app.url.toLocalFile();
    const std::shared_ptr<Platform> platform = m_platform;

    if (!platform->workspace->running(bundle).isEmpty()) {
        const Question question = Question::quitToRemove(app);
        QCoro::Task<bool> asking = ask(question);
        const bool quit = co_await std::move(asking);
        if (!self || !item || !quit)
            co_return;
        QCoro::Task<> quitting = quitAndWait(
            std::shared_ptr<Workspace>(platform, platform->workspace), m_services.sleep, bundle);
        co_await std::move(quitting);
        if (!self || !item)
            co_return;
    }

    // The installer finds the leftovers again and takes nothing else; it
    // needs the same zap paths as the prompt had.
    QStringList zap;
    if (!data.empty()) {
        QCoro::Task<QStringList> zapping = caskZap(app);
        zap = co_await std::move(zapping);
        if (!self || !item)
            co_return;
    }
    QList<QUrl> urls;
    for (const Leftover& leftover : data)
        urls << leftover.url;
    const Updater::Services services { m_services.net, *platform->ditto, *platform->rename, *platform->trash,
        *platform->workspace, *platform->diskImages, m_services.codeSigning };
    const QString library = m_userLibrary;
    const bool sandboxed = m_sandboxed;
    std::exception_ptr failure;
    QStringList removed;
    try {
        const Updater updater(services, app.folder.toLocalFile(), m_trashFolder);
        const auto removing = [updater, app, urls, library, zap, permanently, sandboxed] {
            return updater.uninstall(app, urls, library, zap, permanently, sandboxed);
        };
        QCoro::Task<QStringList> work = Updater::blocking(removing);
        removed = co_await std::move(work);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (!failure) {
        if (item)
            removeItem(item);
        const qsizetype count = removed.size() - 1;
        QString notice = app.name;
        if (count > 0)
            notice += u" and "_s + QString::number(count) + u" data item"_s + (count == 1 ? u""_s : u"s"_s);
        notice += permanently ? u" deleted permanently."_s : u" moved to the Trash."_s;
        setNotice(notice);
        co_return;
    }
    if (needsPermission(failure))
        probeAppManagement();
    if (m_prompts)
        m_prompts->tell(Alert::removalFailed(app.name, describe(failure)));
    if (item && !files::exists(bundle))
        removeItem(item);
}

} // namespace corvanta
