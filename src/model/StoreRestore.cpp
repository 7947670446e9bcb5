#include "model/Store.h"

#include "base/Error.h"
#include "codesign/TrustAnchors.h"
#include "install/Updater.h"
#include "model/LibraryItem.h"
#include "model/Restore.h"
#include "model/StorePlatform.h"
#include "package/PackageConsent.h"
#include "package/PackageTools.h"
#include "package/PortableGatekeeper.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/Workspace.h"
#include "sources/BrewIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

using namespace Qt::StringLiterals;

namespace corvanta {

// The package checks and tools a restore uses: the composition root's, or
// this program's own, made on first use and kept.
struct Store::RestoreTools {
    std::unique_ptr<Gatekeeper> ownGatekeeper;
    std::optional<PackageTools> ownPackageTools;
    const Gatekeeper* gatekeeper = nullptr;
    const PackageTools* packageTools = nullptr;
};

namespace {

using storeFailures::describe;
using storeFailures::needsPermission;

QCoro::Task<bool> askConsent(QPointer<Store> store, PackageConsent consent)
{
    if (!store)
        co_return false;
    co_return co_await store->askPackageConsent(std::move(consent));
}

} // namespace

void Store::setRestoring(bool restoring)
{
    if (m_restoring == restoring)
        return;
    m_restoring = restoring;
    Q_EMIT restoringChanged();
}

void Store::setLibraryTab(LibraryTab tab)
{
    if (m_libraryTab == tab)
        return;
    m_libraryTab = tab;
    Q_EMIT libraryTabChanged();
}

QCoro::Task<Route> Store::route(LibraryItem* item)
{
    if (item->route())
        co_return *item->route();
    QPointer<LibraryItem> alive(item);
    QCoro::Task<Route> finding
        = Restore::route(item->app(), { m_services.net, *m_brew, checker(), m_githubWeb });
    Route found = co_await std::move(finding);
    // Another look-up may have finished first; the first answer stays.
    if (alive && !alive->route())
        alive->setRoute(found);
    co_return alive && alive->route() ? *alive->route() : found;
}

QCoro::Task<> Store::restore(QList<LibraryItem*> items)
{
    if (m_restoring)
        co_return;
    setRestoring(true);
    QPointer<Store> self(this);

    const QString primary = m_sandbox.value_or(u"/Applications"_s);
    const QString fallback = m_sandbox ? QFileInfo(*m_sandbox).dir().filePath(u"HomeApplications"_s)
                                       : QDir::home().filePath(u"Applications"_s);
    Restore::Folder folder;
    try {
        folder = Restore::folder(
            primary, fallback, m_services.mayWrite ? m_services.mayWrite : &Restore::mayWrite);
    } catch (const Error& error) {
        setNotice(u"Couldn't prepare a folder to install into: "_s + error.description());
        setRestoring(false);
        co_return;
    }
    QStringList notices;
    if (folder.fellBack) {
        notices << u"This account can't add apps to /Applications (it isn't an administrator), so Corvanta "
                   u"installs them in your own Applications folder ("_s
                + folder.path + u")."_s;
        setNotice(notices.join(u' '));
    }

    QList<QPointer<LibraryItem>> queue;
    for (LibraryItem* item : std::as_const(items)) {
        item->setPhase(InstallPhase::queued());
        queue << QPointer<LibraryItem>(item);
    }

    int needUser = 0;
    for (const QPointer<LibraryItem>& item : std::as_const(queue)) {
        if (!self)
            co_return;
        if (!item)
            continue;
        QCoro::Task<Route> finding = route(item);
        const Route way = co_await std::move(finding);
        if (!self)
            co_return;
        if (!item)
            continue;
        if (const Route::Install* install = way.install()) {
            QCoro::Task<> installing = restoreOne(item, install->candidates, folder.path);
            co_await std::move(installing);
        } else {
            ++needUser;
            item->setPhase(InstallPhase::idle());
            if (const Route::Manual* manual = way.manual())
                item->setNote(manual->reason);
        }
    }
    if (!self)
        co_return;

    if (needUser > 0) {
        notices << QString::number(needUser) + u" app"_s + (needUser == 1 ? u" needs"_s : u"s need"_s)
                + u" installing from the App Store or its website. See Get It Yourself."_s;
        setNotice(notices.join(u' '));
    }
    setRestoring(false);
    QCoro::Task<> refreshing = refresh(true, false);
    co_await std::move(refreshing);
}

QCoro::Task<> Store::restoreOne(LibraryItem* item, QList<Release> candidates, QString folder)
{
    QPointer<Store> self(this);
    QPointer<LibraryItem> row(item);
    if (!m_restoreTools) {
        m_restoreTools = std::make_shared<RestoreTools>();
        RestoreTools& tools = *m_restoreTools;
        tools.gatekeeper = m_services.gatekeeper;
        if (!tools.gatekeeper) {
            tools.ownGatekeeper = portableGatekeeper(
                gatekeeperSettings(codesign::TrustAnchors::defaultFolder(), std::nullopt));
            tools.gatekeeper = tools.ownGatekeeper.get();
        }
        tools.packageTools = m_services.packageTools;
        if (!tools.packageTools) {
            tools.ownPackageTools = PackageTools::forThisProgram(m_sandbox);
            tools.packageTools = &*tools.ownPackageTools;
        }
    }
    // Kept alive by this coroutine, as the updater must outlive its tasks.
    const std::shared_ptr<RestoreTools> tools = m_restoreTools;
    const std::shared_ptr<Platform> platform = m_platform;
    const Updater::Services services { m_services.net, *platform->ditto, *platform->rename, *platform->trash,
        *platform->workspace, *platform->diskImages, m_services.codeSigning, tools->gatekeeper,
        tools->packageTools };

    item->setNote(std::nullopt);
    item->setPhase(InstallPhase::downloading(0));
    const auto live = std::make_shared<bool>(true);
    const auto store = [row, live](const InstallPhase& now) {
        if (*live && row)
            row->setPhase(now);
    };
    const PhaseCallback phase = [store](const InstallPhase& now) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            store(now);
        else
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [store, now] { store(now); }, Qt::QueuedConnection);
    };
    const ConsentCallback consent
        = [self](PackageConsent request) { return askConsent(self, std::move(request)); };

    std::exception_ptr failure;
    FirstInstall installed;
    try {
        const Updater updater(services, folder, m_trashFolder);
        QCoro::Task<FirstInstall> installing = updater.installFirst(item->app(), candidates, consent, phase);
        installed = co_await std::move(installing);
    } catch (...) {
        failure = std::current_exception();
    }
    *live = false;
    if (!self || !row)
        co_return;
    if (failure) {
        const QString description = describe(failure);
        row->setNote(description);
        row->setPhase(needsPermission(failure) ? InstallPhase::blocked() : InstallPhase::failed(description));
        co_return;
    }
    row->setTeam(installed.team);
    row->setNote(installed.note);
    row->setPhase(InstallPhase::done());
}

} // namespace corvanta
