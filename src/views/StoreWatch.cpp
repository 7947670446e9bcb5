#include "views/StoreWatch.h"

#include "model/Prefs.h"
#include "model/Store.h"

namespace corvanta {

StoreWatch::StoreWatch(Store& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(0);
    connect(&m_coalesce, &QTimer::timeout, this, &StoreWatch::changed);

    connect(&store, &Store::itemsChanged, this, [this] {
        follow();
        Q_EMIT itemsChanged();
        poke();
    });
    for (auto signal : { &Store::filterChanged, &Store::queryChanged, &Store::selectionChanged,
             &Store::expandedChanged, &Store::scanningChanged, &Store::progressChanged,
             &Store::lastCheckedChanged, &Store::updatingAllChanged, &Store::noticeChanged,
             &Store::appManagementChanged, &Store::sessionChanged, &Store::syncErrorChanged,
             &Store::confirmationSentAtChanged, &Store::creatingAccountChanged })
        connect(&store, signal, this, &StoreWatch::poke);
    Prefs& prefs = store.prefs();
    for (auto signal :
        { &Prefs::hideAppStoreChanged, &Prefs::ignoredAppsChanged, &Prefs::ignoredVersionsChanged,
            &Prefs::onboardedChanged, &Prefs::nudgeDismissedChanged, &Prefs::nudgeDismissalsChanged })
        connect(&prefs, signal, this, &StoreWatch::poke);
    follow();
}

void StoreWatch::follow()
{
    for (AppItem* item : m_store.items()) {
        if (m_followed.contains(item))
            continue;
        m_followed.insert(item);
        connect(item, &AppItem::changed, this, &StoreWatch::poke);
        connect(item, &QObject::destroyed, this, [this, item] { m_followed.remove(item); });
    }
}

void StoreWatch::poke()
{
    if (!m_coalesce.isActive())
        m_coalesce.start();
}

} // namespace corvanta
