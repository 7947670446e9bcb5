#include "views/text/StatusItem.h"

#include "model/Prefs.h"
#include "model/Store.h"
#include "notch/UpdateIsland.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString updates(int count)
{
    return QString::number(count) + (count == 1 ? u" update"_s : u" updates"_s);
}

} // namespace

StatusItem::StatusItem(Store& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
}

StatusItem::Change StatusItem::sync(bool show, int count)
{
    Change change;
    if (!show) {
        change.remove = m_exists;
        m_exists = false;
        m_shownCount = -1;
        return change;
    }
    if (!m_exists) {
        QSettings& settings = m_store.prefs().settings();
        if (!settings.contains(positionKey))
            settings.setValue(positionKey, 0);
        change.create = true;
        m_exists = true;
    }
    if (count != m_shownCount) {
        m_shownCount = count;
        change.count = count;
    }
    return change;
}

void StatusItem::start(std::function<void(const Change&)> apply)
{
    m_apply = std::move(apply);
    const Prefs& prefs = m_store.prefs();
    connect(&prefs, &Prefs::showMenuBarChanged, this, &StatusItem::resyncLater, Qt::UniqueConnection);
    connect(&prefs, &Prefs::hideAppStoreChanged, this, &StatusItem::resyncLater, Qt::UniqueConnection);
    connect(&m_store, &Store::itemsChanged, this, &StatusItem::watchItems, Qt::UniqueConnection);
    connectItems();
    resync();
}

void StatusItem::connectItems()
{
    for (AppItem* item : m_store.items())
        connect(item, &AppItem::changed, this, &StatusItem::resyncLater, Qt::UniqueConnection);
}

void StatusItem::watchItems()
{
    connectItems();
    resyncLater();
}

void StatusItem::resync()
{
    m_resyncQueued = false;
    const Change change = sync(m_store.prefs().showMenuBar(), m_store.count(Filter::updates));
    if (!change.empty() && m_apply)
        m_apply(change);
}

// Many changes in one turn of the event loop make one sync.
void StatusItem::resyncLater()
{
    if (m_resyncQueued)
        return;
    m_resyncQueued = true;
    QMetaObject::invokeMethod(this, &StatusItem::resync, Qt::QueuedConnection);
}

StatusItem::Click StatusItem::decide(Button button, bool panelShowing, int pending)
{
    if (button == Button::right)
        return Click::menu;
    if (panelShowing)
        return Click::closedPanel;
    return pending > 0 ? Click::openedPanel : Click::openMainWindow;
}

StatusItem::Click StatusItem::clicked(Button button)
{
    UpdateIsland& island = m_store.island();
    const Click click = decide(button, island.state() != nullptr, m_store.count(Filter::updates));
    if (click == Click::closedPanel)
        island.detach();
    else if (click == Click::openedPanel)
        island.show(false, false);
    return click;
}

QList<StatusItem::MenuEntry> StatusItem::menu()
{
    return {
        { Command::openCorvanta, u"Open Corvanta"_s, {} },
        { Command::checkNow, u"Check Now"_s, {} },
        { Command::settings, u"Settings\u2026"_s, {} },
        { Command::separator, {}, {} },
        { Command::quit, u"Quit Corvanta"_s, u"q"_s },
    };
}

void StatusItem::checkNow()
{
    QCoro::Task<> refreshing = m_store.refresh(false, false);
    Q_UNUSED(refreshing); // runs by itself
}

QString StatusItem::accessibilityLabel(int count)
{
    return u"Corvanta, "_s + updates(count);
}

QString StatusItem::toolTip(int count)
{
    return count > 0 ? u"Corvanta: "_s + updates(count) : u"Corvanta"_s;
}

} // namespace corvanta
