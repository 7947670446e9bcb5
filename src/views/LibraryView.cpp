#include "views/LibraryView.h"

#include "model/LibraryItem.h"
#include "model/Store.h"
#include "views/AppIcon.h"
#include "views/Look.h"
#include "views/QuestionDialog.h"
#include "views/StoreWatch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString phaseText(const InstallPhase& phase)
{
    switch (phase.kind) {
    case InstallPhase::Kind::queued:
        return u"Waiting to install"_s;
    case InstallPhase::Kind::downloading:
        return u"Downloading… %1%"_s.arg(qRound(phase.fraction * 100));
    case InstallPhase::Kind::verifying:
        return u"Verifying…"_s;
    case InstallPhase::Kind::installing:
        return u"Installing…"_s;
    case InstallPhase::Kind::done:
        return u"Installed"_s;
    case InstallPhase::Kind::failed:
        return phase.reason.isEmpty() ? u"Couldn't install it."_s : phase.reason;
    default:
        return {};
    }
}

QString routeText(const LibraryItem& item)
{
    if (item.note())
        return *item.note();
    const std::optional<Route>& route = item.route();
    if (!route)
        return {};
    if (const Route::Install* install = route->install())
        return install->candidates.isEmpty()
            ? QString()
            : u"Installs from "_s + install->candidates.front().label() + u'.';
    if (route->store())
        return u"Comes from the Mac App Store."_s;
    return route->manual()->reason;
}

} // namespace

LibraryRow::LibraryRow(Store& store, LibraryItem* item, QWidget* parent)
    : QFrame(parent)
    , m_store(store)
    , m_item(item)
    , m_tick(new QCheckBox(this))
    , m_icon(new QLabel(this))
    , m_name(new QLabel(this))
    , m_detail(new QLabel(this))
    , m_state(new QLabel(this))
    , m_page(new QPushButton(this))
{
    setObjectName(u"card"_s);
    m_tick->setAccessibleName(u"Include %1"_s.arg(item->app().name));
    m_icon->setFixedSize(36, 36);
    m_icon->setPixmap(AppIcon::placeholder(item->app().name, item->id(), 36, devicePixelRatioF()));
    m_name->setFont(Look::font(11, QFont::DemiBold));
    for (QLabel* label : { m_detail, m_state }) {
        label->setProperty("role", u"secondary"_s);
        label->setWordWrap(true);
    }
    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    words->addWidget(m_name);
    words->addWidget(m_detail);
    words->addWidget(m_state);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(12);
    layout->addWidget(m_tick);
    layout->addWidget(m_icon);
    layout->addLayout(words, 1);
    layout->addWidget(m_page);

    connect(m_tick, &QCheckBox::toggled, this, [this](bool on) {
        if (m_item)
            m_item->setSelected(on);
    });
    connect(m_page, &QPushButton::clicked, this, [this] {
        if (m_item && m_item->website())
            m_store.services().openURL(*m_item->website());
    });
    connect(item, &LibraryItem::changed, this, &LibraryRow::sync);
    sync();
}

void LibraryRow::sync()
{
    if (!m_item)
        return;
    const LibraryItem& item = *m_item;
    m_name->setText(item.app().name);
    const QStringList macs = item.onDevices(m_store.devices());
    QString detail;
    if (!macs.isEmpty()) {
        detail = u"On "_s + QLocale().createSeparatedList(macs);
    } else if (const std::optional<LibraryItem::Sighting> seen = item.lastSeen(m_store.devices())) {
        detail = u"Last seen on %1, %2"_s.arg(
            seen->mac, QLocale().toString(seen->seen.date(), QLocale::ShortFormat));
    }
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
    const QString state
        = item.phase().kind == InstallPhase::Kind::idle ? routeText(item) : phaseText(item.phase());
    m_state->setText(state);
    m_state->setVisible(!state.isEmpty());
    const std::optional<Route>& route = item.route();
    m_page->setVisible(route && route->needsUser() && item.website());
    m_page->setText(route && route->store() ? u"Open in App Store"_s : u"Open Website"_s);
    m_tick->setChecked(item.selected());
    m_tick->setEnabled(!m_store.restoring());
}

LibraryView::LibraryView(StoreWatch& watch, QWidget* parent)
    : QWidget(parent)
    , m_watch(watch)
    , m_mac(new QComboBox(this))
    , m_scroll(new QScrollArea(this))
    , m_emptyTitle(new QLabel(this))
    , m_emptyText(new QLabel(this))
    , m_action(new QLabel(this))
    , m_restore(new QPushButton(u"Restore"_s, this))
    , m_remove(new QPushButton(u"Remove from Library…"_s, this))
{
    Store& store = watch.store();
    auto* tabs = new QHBoxLayout;
    tabs->setSpacing(8);
    for (const LibraryTab tab : allLibraryTabs) {
        auto* chip = new QPushButton(title(tab), this);
        chip->setProperty("role", u"chip"_s);
        chip->setCheckable(true);
        chip->setCursor(Qt::PointingHandCursor);
        connect(chip, &QPushButton::clicked, this, [&store, tab] { store.setLibraryTab(tab); });
        m_tabs.insert(tab, chip);
        tabs->addWidget(chip);
    }
    tabs->addStretch();
    m_mac->setAccessibleName(u"Mac"_s);
    m_mac->setMinimumWidth(170);
    tabs->addWidget(m_mac);

    auto* content = new QWidget(m_scroll);
    m_list = new QVBoxLayout(content);
    m_list->setContentsMargins(0, 0, 6, 0);
    m_list->setSpacing(8);
    m_list->addStretch();
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);

    m_emptyTitle->setFont(Look::font(14, QFont::DemiBold));
    m_emptyTitle->setAlignment(Qt::AlignCenter);
    m_emptyText->setProperty("role", u"secondary"_s);
    m_emptyText->setAlignment(Qt::AlignCenter);
    m_emptyText->setWordWrap(true);
    m_action->setProperty("role", u"secondary"_s);
    m_restore->setProperty("role", u"primary"_s);
    auto* bar = new QHBoxLayout;
    bar->addWidget(m_action, 1);
    bar->addWidget(m_remove);
    bar->addWidget(m_restore);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addLayout(tabs);
    layout->addWidget(m_emptyTitle);
    layout->addWidget(m_emptyText);
    layout->addWidget(m_scroll, 1);
    layout->addLayout(bar);

    connect(m_mac, &QComboBox::activated, this, &LibraryView::sync);
    connect(m_restore, &QPushButton::clicked, this, [this, &store] { store.restore(ticked()); });
    connect(m_remove, &QPushButton::clicked, this, &LibraryView::confirmRemoval);
    for (auto signal : { &Store::libraryChanged, &Store::devicesChanged, &Store::syncingChanged,
             &Store::restoringChanged, &Store::libraryTabChanged })
        connect(&store, signal, this, &LibraryView::sync);
    connect(&watch, &StoreWatch::changed, this, &LibraryView::sync);
    sync();
}

QList<LibraryRow*> LibraryView::rows() const
{
    QList<LibraryRow*> shown;
    for (int i = 0; i < m_list->count(); ++i) {
        if (auto* row = qobject_cast<LibraryRow*>(m_list->itemAt(i)->widget()))
            shown << row;
    }
    return shown;
}

QList<LibraryItem*> LibraryView::ticked() const
{
    QList<LibraryItem*> items;
    for (LibraryRow* row : rows()) {
        if (row->item() && row->item()->selected())
            items << row->item();
    }
    return items;
}

void LibraryView::sync()
{
    Store& store = m_watch.store();
    for (auto it = m_tabs.cbegin(); it != m_tabs.cend(); ++it)
        it.value()->setChecked(it.key() == store.libraryTab());

    // The choice of Mac survives a new list of Macs when that Mac is still in it.
    const QString chosen = m_mac->currentData().toString();
    m_mac->clear();
    m_mac->addItem(u"All Macs"_s, QString());
    for (const Device& device : store.devices())
        m_mac->addItem(device.name, device.id);
    m_mac->setCurrentIndex(std::max(0, m_mac->findData(chosen)));

    LibraryScope scope;
    for (const AppItem* item : store.items())
        scope.onThisMac.insert(item->app().bundleID);
    scope.query = store.query().trimmed();
    if (const QString mac = m_mac->currentData().toString(); !mac.isEmpty())
        scope.mac = mac;
    const QList<LibraryItem*> shown = corvanta::rows(store.libraryTab(), store.library(), scope);

    // Rows keep their widgets across reloads, as their items keep their identity.
    QHash<QString, LibraryRow*> kept;
    kept.reserve(shown.size());
    for (LibraryRow* row : rows())
        m_list->removeWidget(row);
    for (LibraryItem* item : shown) {
        LibraryRow* row = m_rows.take(item->id());
        if (!row || row->item() != item) {
            delete row;
            row = new LibraryRow(store, item, m_scroll->widget());
        }
        row->sync();
        m_list->insertWidget(m_list->count() - 1, row);
        row->show();
        kept.insert(item->id(), row);
    }
    qDeleteAll(m_rows);
    m_rows = kept;

    QString title;
    QString text;
    if (store.library().isEmpty()) {
        if (store.syncing()) {
            title = u"Loading your library…"_s;
        } else {
            title = u"Your library is empty"_s;
            text = u"Apps appear here after Corvanta checks this Mac while you're signed in."_s;
        }
    } else if (shown.isEmpty()) {
        switch (store.libraryTab()) {
        case LibraryTab::missing:
            title = u"Every app in your library is on this Mac."_s;
            break;
        case LibraryTab::yours:
            title = u"Nothing to do by hand"_s;
            text = u"App Store apps, and apps Corvanta can't find a verified download for, land here with a "
                   u"button to their page."_s;
            break;
        case LibraryTab::removed:
            text = u"Apps you delete from every Mac stay here, so you can install them again later."_s;
            break;
        case LibraryTab::all:
            title = u"No apps match “%1”."_s.arg(scope.query);
            break;
        }
    }
    m_emptyTitle->setText(title);
    m_emptyTitle->setVisible(!title.isEmpty());
    m_emptyText->setText(text);
    m_emptyText->setVisible(!text.isEmpty());
    m_scroll->setVisible(!shown.isEmpty());

    const bool anyTicked = !ticked().isEmpty();
    m_action->setText(store.restoring() ? runningText : idleText);
    m_restore->setEnabled(anyTicked && !store.restoring());
    m_remove->setEnabled(anyTicked && !store.restoring());
}

QString LibraryView::removalTitle(const QList<LibraryItem*>& items)
{
    if (items.size() == 1)
        return u"Remove "_s + items.front()->app().name + u" from your Library?"_s;
    return u"Remove %1 apps from your Library?"_s.arg(items.size());
}

QString LibraryView::removalText(const QList<LibraryItem*>& items)
{
    const bool somewhere = std::any_of(
        items.cbegin(), items.cend(), [](const LibraryItem* item) { return !item->removedEverywhere(); });
    if (items.size() == 1) {
        const QString name = items.front()->app().name;
        QString text = name + u" won't be listed for your other Macs any more, so you can't reinstall "_s
            + name + u" from here. Nothing is uninstalled."_s;
        if (somewhere)
            text += u" It's still on one of your Macs, so that Mac adds it back the next time it syncs."_s;
        return text;
    }
    QString text
        = u"They won't be listed for your other Macs any more, so you can't reinstall them from here. "
          u"Nothing is uninstalled."_s;
    if (somewhere)
        text
            += u" Some are still on one of your Macs, so those Macs add them back the next time they sync."_s;
    return text;
}

void LibraryView::confirmRemoval()
{
    const QList<LibraryItem*> items = ticked();
    if (items.isEmpty())
        return;
    auto* dialog = new QuestionDialog(
        Question { removalTitle(items), removalText(items), u"Remove"_s, u"Cancel"_s }, window());
    dialog->setSymbol(u"trash"_s, true);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    Store& store = m_watch.store();
    connect(dialog, &QDialog::accepted, this, [&store, items] { store.removeFromLibrary(items); });
    dialog->open();
}

} // namespace corvanta
