#include "platform/linux/LinuxDesktop.h"

#include "platform/linux/X11Windows.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Screens and windows exist only in a GUI application; the command line has none.
bool isGui()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

LinuxDesktop::LinuxDesktop(
    std::optional<QDBusConnection> system, std::optional<QDBusConnection> session, QObject* parent)
    : QObject(parent)
    , m_system(std::move(system))
    , m_session(std::move(session))
{
}

LinuxDesktop::~LinuxDesktop() = default;

bool LinuxDesktop::fullScreenAppInFront() const
{
    // Opened on first use: a program without a display never connects.
    if (!m_x11)
        m_x11 = std::make_unique<X11Windows>(qgetenv("DISPLAY"));
    return m_x11->fullScreenAppInFront();
}

QList<Desktop::Window> LinuxDesktop::windows() const
{
    QList<Window> result;
    if (!isGui())
        return result;
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        const Qt::WindowType type = window->type();
        if (type != Qt::Window && type != Qt::Dialog)
            continue; // menus, tooltips and popups aren't windows a user works in
        result << Window { window->title(), window->isVisible(), window->visibility() == QWindow::Minimized,
            !window->flags().testFlag(Qt::WindowStaysOnTopHint) };
    }
    return result;
}

bool LinuxDesktop::active() const
{
    return isGui() && QGuiApplication::applicationState() == Qt::ApplicationActive;
}

QList<Desktop::Screen> LinuxDesktop::screens() const
{
    QList<Screen> result;
    if (!isGui())
        return result;
    const QPoint pointer = QCursor::pos();
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        result << Screen { screen->name(), screen->geometry(), QSize(), screen->geometry().contains(pointer),
            screen == primary };
    }
    return result;
}

void LinuxDesktop::watchWake(std::function<void()> handler)
{
    m_handlers.push_back(std::move(handler));
    subscribe();
}

void LinuxDesktop::subscribe()
{
    if (m_subscribed)
        return;
    m_subscribed = true;
    if (!m_system)
        m_system = QDBusConnection::systemBus();
    if (!m_session)
        m_session = QDBusConnection::sessionBus();
    // Any sender and any path: the screen savers of the desktops differ in both.
    if (m_system->isConnected())
        m_system->connect(QString(), u"/org/freedesktop/login1"_s, u"org.freedesktop.login1.Manager"_s,
            u"PrepareForSleep"_s, this, SLOT(prepareForSleep(bool)));
    if (m_session->isConnected()) {
        for (const QString& interface : { u"org.freedesktop.ScreenSaver"_s, u"org.gnome.ScreenSaver"_s })
            m_session->connect(
                QString(), QString(), interface, u"ActiveChanged"_s, this, SLOT(screenSaverActive(bool)));
    }
}

void LinuxDesktop::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        back();
}

void LinuxDesktop::screenSaverActive(bool active)
{
    if (!active)
        back();
}

void LinuxDesktop::back()
{
    // A copy: a handler may watch again.
    const std::vector<std::function<void()>> handlers = m_handlers;
    for (const std::function<void()>& handler : handlers)
        handler();
}

std::unique_ptr<Desktop> Desktop::create()
{
    return std::make_unique<LinuxDesktop>();
}

} // namespace corvanta
