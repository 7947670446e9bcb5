#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <optional>
#include <vector>

#include <QDBusConnection>
#include <QObject>

namespace corvanta {

class X11Windows;

// The desktop as Qt sees it: screens and this application's windows while a
// GUI application runs (none otherwise). A full-screen app in front is what
// an X11 window manager says of the active window; Wayland tells no program
// about others' windows, so there it answers no. Linux screens have no notch,
// so no window is ever in the notch area. Unlock and wake come over D-Bus:
// the login manager's PrepareForSleep(false) on the system bus and the screen
// saver's ActiveChanged(false) on the session bus, when they exist.
class LinuxDesktop : public QObject, public Desktop {
    Q_OBJECT

public:
    // The buses to listen on; none means the machine's own, reached only once
    // something watches for wake.
    explicit LinuxDesktop(std::optional<QDBusConnection> system = std::nullopt,
        std::optional<QDBusConnection> session = std::nullopt, QObject* parent = nullptr);
    ~LinuxDesktop() override;

    QList<Window> windows() const override;
    bool active() const override;
    bool fullScreenAppInFront() const override;
    QList<Screen> screens() const override;
    bool occupied(const QRect&) const override { return false; }
    void watchWake(std::function<void()> handler) override;

private Q_SLOTS:
    void prepareForSleep(bool sleeping);
    void screenSaverActive(bool active);

private:
    void subscribe();
    void back();

    mutable std::unique_ptr<X11Windows> m_x11;
    std::optional<QDBusConnection> m_system;
    std::optional<QDBusConnection> m_session;
    bool m_subscribed = false;
    std::vector<std::function<void()>> m_handlers;
};

} // namespace corvanta
