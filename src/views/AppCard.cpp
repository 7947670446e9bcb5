#include "views/AppCard.h"

#include "model/AppItem.h"
#include "model/Store.h"
#include "views/AppIcon.h"
#include "views/CardDetails.h"
#include "views/Look.h"
#include "views/RowStateView.h"
#include "views/Symbols.h"
#include "views/SystemSettings.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
constexpr int iconSize = 40;
} // namespace

QString versionsLine(const AppItem& item)
{
    const InstalledApp& app = item.app();
    const QString installed = app.version.value_or(app.build.value_or(u"unknown"_s));
    const std::optional<Release>& release = item.release();
    QString line = installed;
    if (release) {
        if (item.status().kind == Status::Kind::update || item.phase().isActive())
            line += u"  →  "_s + release->label();
        line += u"  ·  "_s + label(release->kind);
    }
    return line;
}

AppCard::AppCard(Store& store, AppItem* item, QWidget* parent)
    : QFrame(parent)
    , m_store(store)
    , m_item(item)
    , m_id(item->id())
    , m_icon(new QLabel(this))
    , m_name(new QLabel(this))
    , m_versions(new QLabel(this))
    , m_state(new RowStateView(this))
    , m_disclosure(new QToolButton(this))
{
    setObjectName(u"appCard"_s);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    m_icon->setFixedSize(iconSize, iconSize);
    m_name->setObjectName(u"name"_s);
    m_name->setFont(Look::font(11, QFont::DemiBold));
    m_versions->setObjectName(u"versions"_s);
    m_versions->setProperty("role", u"secondary"_s);
    m_versions->setFont(Look::font(9.5));
    m_disclosure->setObjectName(u"disclosure"_s);
    m_disclosure->setAutoRaise(true);
    m_disclosure->setFocusPolicy(Qt::NoFocus);
    m_disclosure->setCursor(Qt::PointingHandCursor);
    m_disclosure->setIconSize(QSize(14, 14));
    m_disclosure->setToolTip(u"Details"_s);
    m_disclosure->setStyleSheet(u"QToolButton { border: none; background: transparent; padding: 4px; }"_s);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addStretch();
    texts->addWidget(m_name);
    texts->addWidget(m_versions);
    texts->addStretch();

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(m_icon);
    header->addLayout(texts, 1);
    header->addWidget(m_state);
    header->addWidget(m_disclosure);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 10, 10);
    layout->setSpacing(10);
    layout->addLayout(header);

    connect(item, &AppItem::changed, this, &AppCard::sync);
    connect(&AppIcon::shared(), &AppIcon::loaded, this, [this](const QString& path) {
        if (path == m_id && m_item)
            m_icon->setPixmap(AppIcon::shared().of(m_item->app(), iconSize, devicePixelRatioF()));
    });
    connect(&Look::notifier(), &Look::changed, this, &AppCard::sync);
    connect(m_disclosure, &QToolButton::clicked, this, [this] {
        Q_EMIT selectRequested(m_id);
        Q_EMIT toggleRequested(m_id);
    });
    connect(m_state, &RowStateView::controlClicked, this, [this](UpdateControl::Action action) {
        if (!m_item)
            return;
        switch (action) {
        case UpdateControl::Action::update:
            m_store.update(m_item);
            break;
        case UpdateControl::Action::openStore:
            m_store.openStore(m_item);
            break;
        case UpdateControl::Action::openNotes:
            if (const UpdateControl control = UpdateControl::of(*m_item); control.url)
                openLink(*control.url);
            break;
        case UpdateControl::Action::none:
            break;
        }
    });
    connect(
        m_state, &RowStateView::blockedClicked, this, [this] { openLink(SystemSettings::appManagement()); });
    sync();
}

void AppCard::sync()
{
    if (!m_item)
        return;
    const AppItem& item = *m_item;
    // An updated bundle may bring a new icon.
    const std::optional<QString> version
        = item.app().version.has_value() ? item.app().version : item.app().build;
    if (m_shownVersion && *m_shownVersion != version)
        AppIcon::shared().forget(m_id);
    m_shownVersion = version;
    m_name->setText(item.app().name);
    m_versions->setText(versionsLine(item));
    m_icon->setPixmap(AppIcon::shared().of(item.app(), iconSize, devicePixelRatioF()));
    m_state->display(RowState::of(item), UpdateControl::of(item));
    m_disclosure->setIcon(Symbols::pixmap(m_expanded ? u"chevron.down"_s : u"chevron.right"_s, 14,
        Look::colors().secondary, devicePixelRatioF()));
    setAccessibleName(item.app().name + u", "_s + m_state->words());
    if (m_expanded && m_details)
        m_details->display(item, menuEntries());
}

void AppCard::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    if (expanded && !m_details) {
        m_details = new CardDetails(this);
        layout()->addWidget(m_details);
        connect(m_details, &CardDetails::command, this, &AppCard::run);
        connect(m_details, &CardDetails::openLink, this, &AppCard::openLink);
    }
    if (m_details)
        m_details->setVisible(expanded);
    sync();
}

void AppCard::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

QList<MenuEntry> AppCard::menuEntries() const
{
    return m_item ? contextMenu(*m_item, m_store.prefs()) : QList<MenuEntry>();
}

void AppCard::openLink(const QUrl& url)
{
    if (url.isValid())
        m_store.services().openURL(url);
}

void AppCard::run(MenuEntry::Command command)
{
    if (!m_item)
        return;
    AppItem* item = m_item;
    using Command = MenuEntry::Command;
    switch (command) {
    case Command::update:
        m_store.update(item);
        break;
    case Command::openStore:
        m_store.openStore(item);
        break;
    case Command::skipVersion:
        m_store.ignoreVersion(item);
        break;
    case Command::ignore:
        m_store.ignore(item);
        break;
    case Command::unignore:
        m_store.unignore(item->app().bundleID);
        break;
    case Command::checkAgain:
        m_store.check(item);
        break;
    case Command::showInFinder:
        openLink(QUrl::fromLocalFile(QFileInfo(item->id()).absolutePath()));
        break;
    case Command::moveToTrash:
        m_store.setRemoving(item);
        break;
    }
}

void AppCard::openMenu(const QPoint& at)
{
    Q_EMIT selectRequested(m_id);
    QMenu menu(this);
    menu.setObjectName(u"cardMenu"_s);
    for (const MenuEntry& entry : menuEntries()) {
        if (entry.command == MenuEntry::Command::showInFinder
            || entry.command == MenuEntry::Command::checkAgain)
            menu.addSeparator();
        QAction* action = menu.addAction(entry.title);
        const MenuEntry::Command command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] { run(command); });
    }
    menu.exec(at);
}

void AppCard::contextMenuEvent(QContextMenuEvent* event)
{
    openMenu(event->globalPos());
}

void AppCard::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        // Only the row toggles; clicks inside the open details stay there.
        if (!m_details || !m_details->isVisible() || event->position().y() < m_details->geometry().top())
            Q_EMIT toggleRequested(m_id);
    }
    QFrame::mousePressEvent(event);
}

void AppCard::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        Q_EMIT stepRequested(m_id, -1);
        return;
    case Qt::Key_Down:
        Q_EMIT stepRequested(m_id, 1);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        Q_EMIT toggleRequested(m_id);
        return;
    case Qt::Key_Left:
        if (m_expanded)
            Q_EMIT toggleRequested(m_id);
        return;
    case Qt::Key_Right:
        if (!m_expanded)
            Q_EMIT toggleRequested(m_id);
        return;
    case Qt::Key_Menu:
        openMenu(mapToGlobal(QPoint(width() / 2, 30)));
        return;
    default:
        break;
    }
    if (event->key() == Qt::Key_F10 && event->modifiers() & Qt::ShiftModifier) {
        openMenu(mapToGlobal(QPoint(width() / 2, 30)));
        return;
    }
    QFrame::keyPressEvent(event);
}

void AppCard::focusInEvent(QFocusEvent* event)
{
    Q_EMIT selectRequested(m_id);
    QFrame::focusInEvent(event);
}

void AppCard::paintEvent(QPaintEvent*)
{
    const Colors& c = Look::colors();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    const bool hover = underMouse();
    painter.setBrush(hover && !m_expanded ? c.cardHover : c.card);
    if (m_selected && hasFocus()) {
        QColor ring = c.accent;
        ring.setAlpha(200);
        painter.setPen(QPen(ring, 2));
    } else {
        painter.setPen(QPen(m_selected ? Look::mix(c.border, c.accent, 0.45) : c.border, 1));
    }
    painter.drawRoundedRect(box, 14, 14);
}

} // namespace corvanta
