#pragma once

#include "platform/Desktop.h"

#include <optional>
#include <vector>

#include <QDBusConnection>
#include <QObject>

namespace corvanta {

// The desktop as Qt sees it: screens and this application's windows while a
// GUI application runs (none otherwise). Linux screens have no notch, and no
// portable window-manager query tells a full-screen app or a window in the
// notch area apart, so those two answer no. Unlock and wake come over D-Bus:
// the login manager's PrepareForSleep(false) on the system bus and the screen
// saver's ActiveChanged(false) on the session bus, when they exist.
class LinuxDesktop : public QObject, public Desktop {
    Q_OBJECT

public:
    // The buses to listen on; none means the machine's own, reached only once
    // something watches for wake.
    explicit LinuxDesktop(std::optional<QDBusConnection> system = std::nullopt,
        std::optional<QDBusConnection> session = std::nullopt, QObject* parent = nullptr);

    QList<Window> windows() const override;
    bool active() const override;
    bool fullScreenAppInFront() const override { return false; }
    QList<Screen> screens() const override;
    bool occupied(const QRect&) const override { return false; }
    void watchWake(std::function<void()> handler) override;

private Q_SLOTS:
    void prepareForSleep(bool sleeping);
    void screenSaverActive(bool active);

private:
    void subscribe();
    void back();

    std::optional<QDBusConnection> m_system;
    std::optional<QDBusConnection> m_session;
    bool m_subscribed = false;
    std::vector<std::function<void()>> m_handlers;
};

} // namespace corvanta
