#pragma once

#include "model/AppItem.h"
#include "model/UpdateControl.h"

#include <QFrame>
#include <QPointer>

class QLabel;
class QToolButton;

namespace corvanta {

class AppItem;
class CardDetails;
class RowStateView;
class Store;
class SymbolView;

// One app in the list: its icon, name, versions and source, the phase or
// status with the update control, a context menu, and details that open
// under it.
class AppCard : public QFrame {
    Q_OBJECT

public:
    AppCard(Store& store, AppItem* item, QWidget* parent = nullptr);

    AppItem* item() const { return m_item; }
    QString id() const { return m_id; }
    bool expanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    void setSelected(bool selected);
    bool selected() const { return m_selected; }

    // Runs one of the context menu's commands on this card's app.
    void run(MenuEntry::Command command);
    // The context menu as the item's state allows it.
    QList<MenuEntry> menuEntries() const;

    QLabel* nameLabel() const { return m_name; }
    QLabel* versionsLabel() const { return m_versions; }
    RowStateView* rowState() const { return m_state; }
    CardDetails* details() const { return m_details; }

    // Redraws from the item; the list calls it when the item changes.
    void sync();

Q_SIGNALS:
    // The user asked to open or close the details, or to select this card.
    void toggleRequested(const QString& id);
    void selectRequested(const QString& id);
    // Up or Down pressed on the card: move the selection.
    void stepRequested(const QString& id, int step);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void openMenu(const QPoint& at);
    void openLink(const QUrl& url);

    Store& m_store;
    QPointer<AppItem> m_item;
    QString m_id;
    bool m_expanded = false;
    bool m_selected = false;
    std::optional<std::optional<QString>> m_shownVersion;
    QLabel* m_icon;
    QLabel* m_name;
    QLabel* m_versions;
    RowStateView* m_state;
    QToolButton* m_disclosure;
    CardDetails* m_details = nullptr;
};

// "2.3.1 → 2.4.0 · Sparkle": what is installed, what is newest, and where it was found.
QString versionsLine(const AppItem& item);

} // namespace corvanta
