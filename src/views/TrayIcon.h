#pragma once

#include "views/text/StatusItem.h"

#include <memory>

#include <QImage>
#include <QObject>

class QMenu;
class QSystemTrayIcon;

namespace corvanta {

class Store;

// The menu-bar icon: the count of updates on a badge, its tooltip, the
// right-click menu ("Open Corvanta", "Check Now", "Settings…", "Quit
// Corvanta") and the left click's decision, carried out with the platform's
// tray. It follows the preference and the count without polling.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(Store& store, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Starts following the model and the preference.
    void start();

    // The icon is in the menu bar (made, whether or not the desktop has a tray to show it).
    bool exists() const { return m_tray != nullptr; }
    int shownCount() const { return m_status.shownCount(); }
    QString toolTip() const;
    QString accessibleLabel() const { return m_accessible; }
    QImage image() const { return m_image; }
    QMenu* menu() const { return m_menu.get(); }
    StatusItem& status() { return m_status; }

    // A click on the icon, as the tray reports it.
    void click(StatusItem::Button button);

Q_SIGNALS:
    void openMainWindow();
    void openSettings();
    void quit();

private:
    void apply(const StatusItem::Change& change);

    Store& m_store;
    StatusItem m_status;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QString m_accessible;
    QImage m_image;
};

} // namespace corvanta
