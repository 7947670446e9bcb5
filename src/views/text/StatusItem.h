#pragma once

#include <functional>
#include <optional>

#include <QList>
#include <QObject>
#include <QString>

namespace corvanta {

class Store;

// The menu-bar icon's decisions, for the tray widget to carry out: whether
// the icon exists, the count it shows with its texts, and what a click does.
// The tray draws MenuIcon::image(count) and owns the platform's status item.
class StatusItem : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(Store& store, QObject* parent = nullptr);

    // What one sync asks of the tray.
    struct Change {
        // Make the status item: autosave name "corvanta", a variable length,
        // visible, clicked() for left and right mouse-up.
        bool create = false;
        // Take it out of the menu bar.
        bool remove = false;
        // Show this count: MenuIcon::image(count), accessibilityLabel(count), toolTip(count).
        std::optional<int> count;

        bool empty() const { return !create && !remove && !count; }
        friend bool operator==(const Change&, const Change&) = default;
    };

    // The icon shown or not, with `count` updates; updates shownCount().
    Change sync(bool show, int count);
    // The count on the icon; -1 while hidden.
    int shownCount() const { return m_shownCount; }
    bool exists() const { return m_exists; }

    // Syncs with Prefs::showMenuBar and the number of visible updates now and
    // again whenever either changes; `apply` carries out each change.
    void start(std::function<void(const Change&)> apply);

    enum class Button { left, right };
    // What a click did, or leaves to the tray.
    enum class Click {
        menu, // the tray opens menu()
        closedPanel, // the notch panel was up and is closed
        openedPanel, // the notch panel opens with the pending updates
        openMainWindow, // nothing pending: the tray shows the main window (UpdateIsland's drop)
    };
    // Left: closes the notch panel when it is up, else opens it on the
    // pending updates, else leaves the main window to the tray. Right: the menu.
    Click clicked(Button button);
    // The same decision as a pure function of what it depends on.
    static Click decide(Button button, bool panelShowing, int pending);

    enum class Command { openCorvanta, checkNow, settings, separator, quit };
    struct MenuEntry {
        Command command;
        QString title; // empty for the separator
        QString key; // key equivalent, or empty
        friend bool operator==(const MenuEntry&, const MenuEntry&) = default;
    };
    // The right-click menu, in order.
    static QList<MenuEntry> menu();
    // "Check Now": a refresh as the user asks for it (never announced).
    void checkNow();

    // "Corvanta, 3 updates"
    static QString accessibilityLabel(int count);
    // "Corvanta: 1 update", or "Corvanta" with none.
    static QString toolTip(int count);

    static inline const QString autosaveName = QStringLiteral("corvanta");
    // The status item's position, which the tray needs present before it makes the item.
    static inline const QString positionKey = QStringLiteral("NSStatusItem Preferred Position corvanta");

private:
    void resync();
    void resyncLater();
    void connectItems();
    void watchItems();

    Store& m_store;
    std::function<void(const Change&)> m_apply;
    bool m_exists = false;
    int m_shownCount = -1;
    bool m_resyncQueued = false;
};

} // namespace corvanta
