#include "base/Error.h"
#include "model/LibraryItem.h"
#include "model/Prefs.h"
#include "model/Store.h"

#include <algorithm>

#include <QCollator>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(libraryLog, "corvanta.library", QtInfoMsg)

} // namespace

void Store::initLibrary(const Launch& launch)
{
    m_deviceIDArgument = launch.value(u"--device-id");
    m_sandbox = launch.sandbox();
}

ThisMac& Store::thisMac()
{
    if (!m_thisMac)
        m_thisMac = std::make_unique<ThisMac>(m_deviceIDArgument, prefs().settings());
    return *m_thisMac;
}

void Store::setSyncing(bool syncing)
{
    if (m_syncing == syncing)
        return;
    m_syncing = syncing;
    Q_EMIT syncingChanged();
}

QCoro::Task<> Store::syncLibrary()
{
    QPointer<Store> self(this);
    QCoro::Task<> confirming = refreshEmailConfirmation();
    co_await std::move(confirming);
    if (!self || m_syncing)
        co_return;
    const std::optional<Cloud> cloud = co_await liveCloud(false);
    // Another sync may have started while the token was renewed.
    if (!self || !cloud || m_syncing)
        co_return;

    setSyncing(true);
    std::optional<QString> failure;
    try {
        ThisMac& mac = thisMac();
        // Only --device-id or a hand-edited setting can give such an id.
        if (!Cloud::storable(mac.deviceID()))
            throw Error(u"This Mac's device id \u201c%1\u201d can't name a document in your library. Choose "
                        u"another with --device-id."_s.arg(mac.deviceID()));
        QCoro::Task<std::vector<LibraryApp>> reading = cloud->apps(m_services.net);
        std::vector<LibraryApp> library = co_await std::move(reading);
        if (!self)
            co_return;
        std::vector<Cloud::Installed> installed;
        installed.reserve(std::size_t(m_items.size()));
        for (const AppItem* item : std::as_const(m_items))
            installed.push_back({ item->app(), item->release() });
        Device device { .id = mac.deviceID(),
            .name = mac.name(prefs().deviceName()),
            .model = mac.model(),
            .lastSeen = m_services.clock(),
            .hardware = mac.platformHardwareID() };
        QCoro::Task<int> writing
            = cloud->sync(m_services.net, std::move(device), std::move(installed), std::move(library));
        const int writes = co_await std::move(writing);
        qCDebug(libraryLog) << "The sync sent" << writes << "writes";
        if (!self)
            co_return;
        QCoro::Task<> reloading = reloadLibrary(*cloud);
        co_await std::move(reloading);
    } catch (const Error& error) {
        failure = error.description();
    }
    if (!self)
        co_return;
    setSyncError(failure);
    setSyncing(false);
}

QCoro::Task<> Store::reloadLibrary(Cloud cloud)
{
    QPointer<Store> self(this);
    QCoro::Task<std::vector<LibraryApp>> readingApps = cloud.apps(m_services.net);
    std::vector<LibraryApp> apps = co_await std::move(readingApps);
    QCoro::Task<std::vector<Device>> readingDevices = cloud.devices(m_services.net);
    std::vector<Device> devices = co_await std::move(readingDevices);
    // An account signed out (or switched) meanwhile must not see this one's library.
    if (!self || !m_session || m_session->uid != cloud.session.uid)
        co_return;
    publishLibrary(std::move(apps), std::move(devices));
}

void Store::publishLibrary(std::vector<LibraryApp> apps, std::vector<Device> devices)
{
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(),
        [&](const LibraryApp& a, const LibraryApp& b) { return collator.compare(a.name, b.name) < 0; });
    std::stable_sort(devices.begin(), devices.end(),
        [](const Device& a, const Device& b) { return a.lastSeen > b.lastSeen; });

    QHash<QString, LibraryItem*> shown;
    for (LibraryItem* item : std::as_const(m_library))
        shown.insert(item->id(), item);
    QList<LibraryItem*> rows;
    rows.reserve(qsizetype(apps.size()));
    for (LibraryApp& app : apps) {
        if (LibraryItem* item = shown.take(app.id)) {
            item->setApp(std::move(app));
            rows << item;
        } else {
            rows << new LibraryItem(std::move(app), this);
        }
    }
    m_animation = Motion::spring(m_reduceMotion);
    m_library = rows;
    m_devices = std::move(devices);
    Q_EMIT libraryChanged();
    Q_EMIT devicesChanged();
    for (LibraryItem* gone : std::as_const(shown))
        gone->deleteLater();
}

QCoro::Task<> Store::removeFromLibrary(QList<LibraryItem*> items)
{
    QStringList ids;
    for (const LibraryItem* item : std::as_const(items)) {
        if (item)
            ids << item->id();
    }
    QPointer<Store> self(this);
    const std::optional<Cloud> cloud = co_await liveCloud(false);
    if (!self || !cloud)
        co_return;
    std::optional<QString> failure;
    try {
        QCoro::Task<> removing = cloud->remove(m_services.net, ids);
        co_await std::move(removing);
        if (!self)
            co_return;
        QCoro::Task<> reloading = reloadLibrary(*cloud);
        co_await std::move(reloading);
    } catch (const Error& error) {
        failure = error.description();
    }
    if (self && failure)
        setSyncError(failure);
}

QCoro::Task<> Store::deleteLibrary(Cloud cloud)
{
    QPointer<Store> self(this);
    QCoro::Task<> deleting = cloud.deleteLibrary(m_services.net);
    co_await std::move(deleting);
    if (self)
        publishLibrary({}, {});
}

} // namespace corvanta
