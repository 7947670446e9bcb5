#include "views/NotchPanel.h"

#include "model/Store.h"
#include "notch/IslandState.h"
#include "notch/UpdateIsland.h"
#include "views/AppIcon.h"
#include "views/Look.h"
#include "views/RowStateView.h"
#include "views/Symbols.h"

#include <cmath>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The panel is the colour of the notch it comes out of, in either theme.
const QColor panelFill(12, 12, 14);
const QColor quiet(245, 245, 247, 150);
constexpr int shownRows = 5;
constexpr int rowHeight = 46;

QString sheet()
{
    return uR"(
QLabel { color: #f5f5f7; background: transparent; }
QLabel[role="secondary"] { color: rgba(245, 245, 247, 150); }
QPushButton { background: rgba(255, 255, 255, 30); color: #f5f5f7; border: 2px solid transparent;
  border-radius: 9px; padding: 4px 12px; min-height: 20px; font-weight: 500; }
QPushButton:hover { background: rgba(255, 255, 255, 46); }
QPushButton:focus { border-color: rgba(47, 140, 255, 200); }
QPushButton[role="primary"] { background: #2f8cff; color: white; font-weight: 600; }
QPushButton[role="primary"]:hover { background: #4a9bff; }
QPushButton[role="primary"]:disabled { background: rgba(47, 140, 255, 90); color: rgba(255, 255, 255, 150); }
QPushButton#dismiss { background: transparent; border-radius: 12px; padding: 0; min-height: 0; }
QPushButton#dismiss:hover { background: rgba(255, 255, 255, 36); }
QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }
QScrollBar:vertical { background: transparent; width: 8px; }
QScrollBar::handle:vertical { background: rgba(255, 255, 255, 60); border-radius: 3px; min-height: 24px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
)"_s;
}

QString phaseWords(const InstallPhase& phase)
{
    switch (phase.kind) {
    case InstallPhase::Kind::queued:
        return u"Queued"_s;
    case InstallPhase::Kind::downloading:
        return u"%1%"_s.arg(int(std::round(phase.fraction * 100)));
    case InstallPhase::Kind::verifying:
        return u"Verifying"_s;
    case InstallPhase::Kind::installing:
        return u"Installing"_s;
    case InstallPhase::Kind::done:
        return u"Updated"_s;
    case InstallPhase::Kind::failed:
        return u"Failed"_s;
    case InstallPhase::Kind::blocked:
        return u"Permission needed"_s;
    case InstallPhase::Kind::idle:
        break;
    }
    return {};
}

QString phaseSymbol(const InstallPhase& phase)
{
    switch (phase.kind) {
    case InstallPhase::Kind::queued:
        return u"clock"_s;
    case InstallPhase::Kind::done:
        return u"checkmark.circle.fill"_s;
    case InstallPhase::Kind::failed:
        return u"xmark.octagon.fill"_s;
    case InstallPhase::Kind::blocked:
        return u"lock.shield.fill"_s;
    default:
        return {};
    }
}

// One app of the panel: icon, name, versions and source, and its phase.
QWidget* islandRow(const IslandRow& row, const Store& store, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    widget->setObjectName(u"islandRow"_s);
    widget->setFixedHeight(rowHeight);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* icon = new QLabel(widget);
    icon->setFixedSize(30, 30);
    if (const AppItem* item = store.item(row.id))
        icon->setPixmap(AppIcon::shared().of(item->app(), 30, widget->devicePixelRatioF()));
    auto* name = new QLabel(row.name, widget);
    name->setObjectName(u"rowName"_s);
    name->setFont(Look::font(10, QFont::DemiBold));
    const QString from = row.installedVersion.isEmpty() ? QString() : row.installedVersion + u"  →  "_s;
    auto* versions = new QLabel(from + row.newVersion + u"  ·  "_s + row.source, widget);
    versions->setObjectName(u"rowVersions"_s);
    versions->setProperty("role", u"secondary"_s);
    versions->setFont(Look::font(9));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addStretch();
    texts->addWidget(name);
    texts->addWidget(versions);
    texts->addStretch();
    layout->addWidget(icon);
    layout->addLayout(texts, 1);

    const QString symbol = phaseSymbol(row.phase);
    if (!symbol.isEmpty()) {
        auto* mark = new SymbolView(14, widget);
        mark->setSymbol(symbol);
        mark->setColor([symbol] { return symbolTint(symbol); });
        layout->addWidget(mark);
    }
    if (row.phase.kind == InstallPhase::Kind::downloading) {
        auto* bar = new ProgressBar(widget);
        bar->setFixedWidth(64);
        bar->setFraction(row.phase.fraction);
        layout->addWidget(bar);
    }
    const QString words = phaseWords(row.phase);
    auto* phase = new QLabel(words, widget);
    phase->setObjectName(u"rowPhase"_s);
    phase->setFont(Look::font(9, QFont::Medium));
    phase->setProperty("role", u"secondary"_s);
    phase->setVisible(!words.isEmpty());
    if (row.phase.kind == InstallPhase::Kind::failed)
        phase->setToolTip(row.phase.reason);
    layout->addWidget(phase);
    return widget;
}

} // namespace

NotchPanel::NotchPanel(Store& store, UpdateIsland& island, QWidget* parent)
    : QWidget(parent,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
            | Qt::NoDropShadowWindowHint)
    , m_store(store)
    , m_island(island)
    , m_title(new QLabel(this))
    , m_subtitle(new QLabel(this))
    , m_rowBox(new QWidget)
    , m_rowLayout(new QVBoxLayout(m_rowBox))
    , m_pages(new QStackedWidget(this))
    , m_updateAll(new QPushButton(IslandState::updateAllButton, this))
    , m_open(new QPushButton(IslandState::openButton, this))
    , m_later(new QPushButton(IslandState::laterButton, this))
    , m_dismiss(new QPushButton(this))
    , m_question(new QLabel(IslandState::question, this))
    , m_keep(new QPushButton(IslandState::keepShowingButton, this))
    , m_onlyMenuBar(new QPushButton(IslandState::onlyMenuBarButton, this))
    , m_motion(this, "geometry")
{
    setObjectName(u"notchPanel"_s);
    setWindowTitle(QString()); // untitled: it never counts as the user working in the app
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(sheet());
    setFixedWidth(panelWidth);

    m_title->setObjectName(u"islandTitle"_s);
    m_title->setFont(Look::font(12, QFont::DemiBold));
    m_subtitle->setObjectName(u"islandSubtitle"_s);
    m_subtitle->setProperty("role", u"secondary"_s);
    m_subtitle->setWordWrap(true);
    m_subtitle->setFont(Look::font(9.5));
    m_dismiss->setObjectName(u"dismiss"_s);
    m_dismiss->setAccessibleName(IslandState::dismissLabel);
    m_dismiss->setToolTip(IslandState::dismissLabel);
    m_dismiss->setFixedSize(24, 24);
    m_dismiss->setIconSize(QSize(11, 11));
    m_dismiss->setIcon(Symbols::pixmap(u"xmark"_s, 11, quiet));
    m_updateAll->setProperty("role", u"primary"_s);
    m_later->setToolTip(IslandState::laterHelp);
    m_keep->setProperty("role", u"primary"_s);
    m_question->setObjectName(u"islandQuestion"_s);
    m_question->setWordWrap(true);
    for (QPushButton* button : { m_updateAll, m_open, m_later, m_dismiss, m_keep, m_onlyMenuBar }) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
    }

    auto* head = new QHBoxLayout;
    head->setSpacing(8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    head->addLayout(texts, 1);
    head->addWidget(m_dismiss, 0, Qt::AlignTop);

    // The list page: rows (five show, more scroll) and the three buttons.
    auto* list = new QWidget(m_pages);
    m_rowLayout->setContentsMargins(0, 0, 4, 0);
    m_rowLayout->setSpacing(4);
    QScrollArea* scroll = m_scroll = new QScrollArea(list);
    scroll->setObjectName(u"islandRows"_s);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_rowBox);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_later);
    buttons->addStretch();
    buttons->addWidget(m_open);
    buttons->addWidget(m_updateAll);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(12);
    listLayout->addWidget(scroll);
    listLayout->addLayout(buttons);

    // The question page.
    auto* ask = new QWidget(m_pages);
    auto* answers = new QHBoxLayout;
    answers->setSpacing(8);
    answers->addStretch();
    answers->addWidget(m_onlyMenuBar);
    answers->addWidget(m_keep);
    auto* askLayout = new QVBoxLayout(ask);
    askLayout->setContentsMargins(0, 4, 0, 0);
    askLayout->setSpacing(14);
    askLayout->addWidget(m_question);
    askLayout->addLayout(answers);
    m_pages->addWidget(list);
    m_pages->addWidget(ask);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 18, 18);
    layout->setSpacing(12);
    layout->addLayout(head);
    layout->addWidget(m_pages);

    m_hold.setSingleShot(true);
    m_hold.setInterval(holdDelay);
    connect(&m_hold, &QTimer::timeout, this, [this] {
        m_held = true;
        openHoldMenu();
    });
    connect(m_later, &QPushButton::pressed, this, [this] {
        m_held = false;
        m_hold.start();
    });
    connect(m_later, &QPushButton::released, this, [this] {
        m_hold.stop();
        if (!m_held)
            m_island.later();
        m_held = false;
    });
    connect(m_updateAll, &QPushButton::clicked, this, [this] { m_island.updateAll(); });
    connect(m_open, &QPushButton::clicked, this, [this] { m_island.openCorvanta(); });
    connect(m_dismiss, &QPushButton::clicked, this, [this] { m_island.dismiss(); });
    connect(m_keep, &QPushButton::clicked, this, [this] { m_island.keepShowing(); });
    connect(m_onlyMenuBar, &QPushButton::clicked, this, [this] { m_island.onlyMenuBar(); });

    m_motion.setDuration(260);
    m_motion.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_motion, &QPropertyAnimation::finished, this, [this] {
        if (!m_state)
            hide();
    });
    connect(&island, &UpdateIsland::presented, this, &NotchPanel::presented);
    connect(&island, &UpdateIsland::closing, this, &NotchPanel::closing);
    connect(&island, &UpdateIsland::closed, this, [this] {
        if (m_motion.state() != QAbstractAnimation::Running)
            hide();
    });
    if (island.state())
        presented();
}

QList<QWidget*> NotchPanel::rows() const
{
    return m_rowBox->findChildren<QWidget*>(u"islandRow"_s, Qt::FindDirectChildrenOnly);
}

void NotchPanel::presented()
{
    m_state = m_island.state();
    if (!m_state)
        return;
    connect(m_state, &IslandState::changed, this, &NotchPanel::sync);
    connect(m_state, &IslandState::rowsChanged, this, &NotchPanel::syncRows);
    syncRows();
    sync();
    adjustSize();
    const QRect target = finalGeometry();
    m_notch = notchGeometry();
    m_state->setIslandRect(target);
    m_motion.stop();
    if (m_store.reduceMotion()) {
        setGeometry(target);
        show();
        return;
    }
    // Out of the notch: from its size to the panel's.
    setGeometry(m_notch);
    show();
    m_motion.setStartValue(m_notch);
    m_motion.setEndValue(target);
    m_motion.start();
}

void NotchPanel::closing()
{
    m_state = nullptr;
    m_hold.stop();
    m_motion.stop();
    if (m_store.reduceMotion() || !isVisible()) {
        hide();
        return;
    }
    // Back into the notch, then gone.
    m_motion.setStartValue(geometry());
    m_motion.setEndValue(
        m_notch.isValid() ? m_notch : QRect(geometry().center().x(), geometry().top(), 1, 1));
    m_motion.start();
}

QRect NotchPanel::finalGeometry() const
{
    const QRect screen = m_state ? m_state->screen().frame : QRect(0, 0, 1440, 900);
    const int height = sizeHint().height();
    return QRect(screen.center().x() - panelWidth / 2 + 1, screen.top(), panelWidth, height);
}

bool NotchPanel::foldWindow(QWidget* window)
{
    if (m_store.reduceMotion() || !window->isVisible() || window->isMinimized() || !window->screen())
        return true;
    if (window->property("folding").toBool())
        return false; // already on its way
    const QRect from = window->geometry();
    const QRect screen = window->screen()->geometry();
    auto* fold = new QPropertyAnimation(window, "geometry", window);
    fold->setDuration(220);
    fold->setEasingCurve(QEasingCurve::InCubic);
    fold->setStartValue(from);
    fold->setEndValue(QRect(screen.center().x() - 90, screen.top(), 180, 24));
    window->setProperty("folding", true);
    connect(fold, &QPropertyAnimation::finished, window, [window, from] {
        window->hide();
        window->setGeometry(from);
        window->setProperty("folding", false);
    });
    fold->start(QAbstractAnimation::DeleteWhenStopped);
    return false;
}

QRect NotchPanel::notchGeometry() const
{
    if (!m_state)
        return {};
    return UpdateIsland::notchArea(m_state->screen(), m_state->notch());
}

void NotchPanel::sync()
{
    if (!m_state)
        return;
    m_title->setText(m_state->title());
    m_subtitle->setText(m_state->subtitle());
    const bool asking = m_state->askingToStop();
    m_pages->setCurrentIndex(asking ? 1 : 0);
    m_subtitle->setVisible(!asking);
    bool installable = false;
    bool running = m_store.updatingAll();
    for (const QString& id : m_state->ids()) {
        if (const AppItem* item = m_store.item(id)) {
            installable = installable
                || (item->status().kind == Status::Kind::update && item->app().canInstall(item->release())
                    && !item->phase().isActive() && item->phase().kind != InstallPhase::Kind::done);
            running = running || item->phase().isActive();
        }
    }
    m_updateAll->setEnabled(installable && !running);
}

void NotchPanel::syncRows()
{
    if (!m_state)
        return;
    for (QWidget* row : rows()) {
        row->hide();
        row->setParent(nullptr);
        row->deleteLater();
    }
    const QList<IslandRow> rows = m_state->rows();
    for (const IslandRow& row : rows)
        m_rowLayout->addWidget(islandRow(row, m_store, m_rowBox));
    const int visible = std::min<int>(int(rows.size()), shownRows);
    m_scroll->setFixedHeight(visible * rowHeight + std::max(0, visible - 1) * m_rowLayout->spacing());
    sync();
    if (isVisible() && m_motion.state() != QAbstractAnimation::Running) {
        adjustSize();
        const QRect target = finalGeometry();
        setGeometry(target);
        m_state->setIslandRect(target);
    }
}

void NotchPanel::openHoldMenu()
{
    QMenu menu(this);
    menu.setObjectName(u"holdMenu"_s);
    for (const UpdateIsland::HoldItem& item : UpdateIsland::holdMenu()) {
        if (item.entry == UpdateIsland::HoldEntry::skipTheseVersions)
            menu.addSeparator();
        QAction* action = menu.addAction(item.title);
        const UpdateIsland::HoldEntry entry = item.entry;
        connect(action, &QAction::triggered, this, [this, entry] { m_island.hold(entry); });
    }
    menu.exec(m_later->mapToGlobal(QPoint(0, m_later->height() + 4)));
}

void NotchPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Square at the top, where it meets the edge of the screen; round below.
    const QRectF box(rect());
    const qreal radius = std::min<qreal>(24, box.height() / 2);
    QPainterPath shape;
    shape.moveTo(box.topLeft());
    shape.lineTo(box.topRight());
    shape.lineTo(box.right(), box.bottom() - radius);
    shape.quadTo(box.bottomRight(), QPointF(box.right() - radius, box.bottom()));
    shape.lineTo(box.left() + radius, box.bottom());
    shape.quadTo(box.bottomLeft(), QPointF(box.left(), box.bottom() - radius));
    shape.closeSubpath();
    painter.fillPath(shape, panelFill);
    painter.setPen(QPen(QColor(255, 255, 255, 22), 1));
    painter.drawPath(shape);
}

void NotchPanel::enterEvent(QEnterEvent* event)
{
    m_island.setHovering(true);
    QWidget::enterEvent(event);
}

void NotchPanel::leaveEvent(QEvent* event)
{
    m_island.setHovering(false);
    QWidget::leaveEvent(event);
}

void NotchPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        m_island.dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace corvanta
