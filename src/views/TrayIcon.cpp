#include "views/TrayIcon.h"

#include "model/Store.h"
#include "views/Brand.h"
#include "views/text/MenuIcon.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

namespace corvanta {

TrayIcon::TrayIcon(Store& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_status(store)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(u"trayMenu"_s);
    for (const StatusItem::MenuEntry& entry : StatusItem::menu()) {
        if (entry.command == StatusItem::Command::separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(entry.title);
        if (!entry.key.isEmpty())
            action->setShortcut(QKeySequence(u"Ctrl+"_s + entry.key.toUpper()));
        switch (entry.command) {
        case StatusItem::Command::openCorvanta:
            connect(action, &QAction::triggered, this, &TrayIcon::openMainWindow);
            break;
        case StatusItem::Command::checkNow:
            connect(action, &QAction::triggered, this, [this] { m_status.checkNow(); });
            break;
        case StatusItem::Command::settings:
            connect(action, &QAction::triggered, this, &TrayIcon::openSettings);
            break;
        case StatusItem::Command::quit:
            connect(action, &QAction::triggered, this, &TrayIcon::quit);
            break;
        case StatusItem::Command::separator:
            break;
        }
    }
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::start()
{
    m_status.start([this](const StatusItem::Change& change) { apply(change); });
}

QString TrayIcon::toolTip() const
{
    return m_tray ? m_tray->toolTip() : QString();
}

void TrayIcon::apply(const StatusItem::Change& change)
{
    if (change.remove) {
        m_tray.reset();
        return;
    }
    if (change.create && !m_tray) {
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setContextMenu(m_menu.get());
        connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // The platform opens the context menu by itself on a right click.
                if (reason == QSystemTrayIcon::Trigger)
                    click(StatusItem::Button::left);
            });
    }
    if (change.count && m_tray) {
        const qreal ratio
            = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->devicePixelRatio() : 2;
        m_image = MenuIcon::image(
            *change.count, Brand::icon(int(MenuIcon::iconSize * std::max(ratio, 2.0))), std::max(ratio, 2.0));
        m_tray->setIcon(QIcon(QPixmap::fromImage(m_image)));
        m_tray->setToolTip(StatusItem::toolTip(*change.count));
        m_accessible = StatusItem::accessibilityLabel(*change.count);
    }
    if (change.create && m_tray)
        m_tray->show();
}

void TrayIcon::click(StatusItem::Button button)
{
    switch (m_status.clicked(button)) {
    case StatusItem::Click::menu:
        m_menu->popup(QCursor::pos());
        break;
    case StatusItem::Click::openMainWindow:
        Q_EMIT openMainWindow();
        break;
    case StatusItem::Click::closedPanel:
    case StatusItem::Click::openedPanel:
        break; // the notch panel did it
    }
}

} // namespace corvanta
