#pragma once

#include "model/LibraryItem.h"
#include "model/LibraryTab.h"

#include <QFrame>
#include <QHash>
#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace corvanta {

class Store;
class StoreWatch;

// One app of the library: a tick, its icon and name, the Macs it's on or
// when it was last seen, and its route, phase or note; "Get It Yourself"
// rows carry a button to their page.
class LibraryRow : public QFrame {
    Q_OBJECT

public:
    LibraryRow(Store& store, LibraryItem* item, QWidget* parent = nullptr);

    LibraryItem* item() const { return m_item; }
    QCheckBox* tick() const { return m_tick; }
    QLabel* detail() const { return m_detail; }
    QLabel* state() const { return m_state; }
    QPushButton* pageButton() const { return m_page; }

    void sync();

private:
    Store& m_store;
    QPointer<LibraryItem> m_item;
    QCheckBox* m_tick;
    QLabel* m_icon;
    QLabel* m_name;
    QLabel* m_detail;
    QLabel* m_state;
    QPushButton* m_page;
};

// The signed-in library: its tabs, the choice of Mac, the rows of the tab
// (narrowed by the window's search), and the action bar that restores the
// ticked rows one at a time or removes them from the library.
class LibraryView : public QWidget {
    Q_OBJECT

public:
    explicit LibraryView(StoreWatch& watch, QWidget* parent = nullptr);

    static inline const QString idleText
        = QStringLiteral("Installs one app at a time. App Store apps open in the App Store instead.");
    static inline const QString runningText = QStringLiteral("Installing one app at a time…");

    QPushButton* tab(LibraryTab tab) const { return m_tabs.value(tab); }
    QComboBox* macChooser() const { return m_mac; }
    QList<LibraryRow*> rows() const;
    QLabel* emptyTitle() const { return m_emptyTitle; }
    QLabel* emptyText() const { return m_emptyText; }
    QLabel* actionText() const { return m_action; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* removeButton() const { return m_remove; }

    // "Remove from Library…": the question for these rows, as the confirmation asks it.
    static QString removalTitle(const QList<LibraryItem*>& items);
    static QString removalText(const QList<LibraryItem*>& items);

    void sync();

private:
    QList<LibraryItem*> ticked() const;
    void confirmRemoval();

    StoreWatch& m_watch;
    QHash<LibraryTab, QPushButton*> m_tabs;
    QComboBox* m_mac;
    QScrollArea* m_scroll;
    QVBoxLayout* m_list;
    QHash<QString, LibraryRow*> m_rows;
    QLabel* m_emptyTitle;
    QLabel* m_emptyText;
    QLabel* m_action;
    QPushButton* m_restore;
    QPushButton* m_remove;
};

} // namespace corvanta
