#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

namespace corvanta {

class AppItem;
class Store;

// Folds every change of the model — the store's own signals, each item's,
// and the preferences that decide what is visible — into one changed()
// per turn of the event loop, so a burst of check results redraws once.
class StoreWatch : public QObject {
    Q_OBJECT

public:
    explicit StoreWatch(Store& store, QObject* parent = nullptr);

    Store& store() const { return m_store; }

Q_SIGNALS:
    void changed();
    // The list itself changed (items added, removed or reordered), before changed().
    void itemsChanged();

private:
    void follow();
    void poke();

    Store& m_store;
    QSet<AppItem*> m_followed;
    QTimer m_coalesce;
};

} // namespace corvanta
