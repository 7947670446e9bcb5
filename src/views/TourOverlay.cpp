#include "views/TourOverlay.h"

#include "model/Prefs.h"
#include "model/Store.h"
#include "views/AppCard.h"
#include "views/AppList.h"
#include "views/FilterChips.h"
#include "views/HeroView.h"
#include "views/Look.h"
#include "views/MainWindow.h"
#include "views/RowStateView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
constexpr int bubbleWidth = 330;
constexpr int margin = 8; // around the highlighted part
} // namespace

TourOverlay::TourOverlay(MainWindow& window, Store& store)
    : QWidget(window.centralWidget())
    , m_window(window)
    , m_store(store)
    , m_bubble(new QFrame(this))
    , m_count(new QLabel(m_bubble))
    , m_title(new QLabel(m_bubble))
    , m_text(new QLabel(m_bubble))
    , m_back(new QPushButton(u"Back"_s, m_bubble))
    , m_next(new QPushButton(m_bubble))
    , m_skip(new QPushButton(u"Skip Tour"_s, m_bubble))
{
    setObjectName(u"tour"_s);
    setFocusPolicy(Qt::StrongFocus);
    m_marks << Mark { u"Your apps at a glance"_s,
        u"The ring shows how many of your apps are up to date. Check Now asks every source again; Update All "
        u"installs every update that can be verified."_s,
        window.hero() };
    m_marks << Mark { u"Narrow the list"_s,
        u"The chips show the apps with updates, those Corvanta can't verify, the ones you ignore, and your "
        u"library of every computer's apps."_s,
        window.chips() };
    const QList<AppCard*> cards = window.list()->cards();
    AppCard* first = nullptr;
    for (AppCard* card : cards) {
        if (!first)
            first = card;
        if (card->rowState()->button()->isVisible()) {
            first = card;
            break;
        }
    }
    if (first) {
        m_marks << Mark { u"One card per app"_s,
            u"Each card says where the app stands and where its updates come from. Click it, or press "
            u"Return, "
            u"to see what every source said and the release notes."_s,
            first };
        if (first->rowState()->button()->isVisible())
            m_marks << Mark { u"Update in one click"_s,
                u"The update is downloaded and checked before anything changes: size, checksum, signature, "
                u"the same developer, a newer version. The old version goes to the Trash."_s,
                first->rowState()->button() };
    }
    m_marks << Mark { u"Corvanta lives in the menu bar"_s,
        u"Closing this window doesn't quit. The menu-bar icon counts the updates and opens the window again; "
        u"when a background check finds something new, a panel drops from the top of the screen."_s,
        nullptr };

    m_bubble->setObjectName(u"group"_s);
    m_bubble->setFixedWidth(bubbleWidth);
    m_count->setProperty("role", u"secondary"_s);
    m_title->setFont(Look::font(12.5, QFont::DemiBold));
    m_text->setWordWrap(true);
    m_next->setProperty("role", u"primary"_s);
    m_skip->setProperty("role", u"link"_s);
    for (QPushButton* push : { m_back, m_next, m_skip })
        push->setFocusPolicy(Qt::NoFocus); // the keys belong to the overlay
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_skip);
    buttons->addStretch();
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    auto* layout = new QVBoxLayout(m_bubble);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(6);
    layout->addWidget(m_count);
    layout->addWidget(m_title);
    layout->addWidget(m_text);
    layout->addLayout(buttons);

    connect(m_back, &QPushButton::clicked, this, [this] { go(m_step - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { go(m_step + 1); });
    connect(m_skip, &QPushButton::clicked, this, &TourOverlay::end);
    parentWidget()->installEventFilter(this);
    setGeometry(parentWidget()->rect());
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
    go(0);
}

TourOverlay::~TourOverlay()
{
    m_store.setTourStep(std::nullopt);
}

void TourOverlay::go(int step)
{
    if (step >= m_marks.size()) {
        end();
        return;
    }
    m_step = std::max(0, step);
    m_store.setTourStep(m_step);
    const Mark& mark = m_marks[m_step];
    m_count->setText(u"%1 of %2"_s.arg(m_step + 1).arg(m_marks.size()));
    m_title->setText(mark.title);
    m_text->setText(mark.text);
    m_back->setVisible(m_step > 0);
    m_next->setText(m_step + 1 == m_marks.size() ? u"Done"_s : u"Next"_s);
    if (mark.target)
        m_window.list()->ensureWidgetVisible(mark.target, 0, 40);
    place();
}

void TourOverlay::end()
{
    m_store.prefs().setToured(true);
    m_store.setTourStep(std::nullopt);
    Q_EMIT ended();
    hide();
    deleteLater();
}

QRect TourOverlay::hole() const
{
    const QPointer<QWidget>& target = m_marks.value(m_step).target;
    if (!target || !target->isVisible())
        return {};
    const QPoint origin = target->mapTo(parentWidget(), QPoint(0, 0));
    return QRect(origin, target->size()).adjusted(-margin, -margin, margin, margin);
}

void TourOverlay::place()
{
    m_bubble->adjustSize();
    const QRect area = hole();
    QPoint at;
    if (area.isNull()) {
        // The menu-bar icon is above the window's top right.
        at = QPoint(width() - m_bubble->width() - 16, 16);
    } else {
        const int x = std::clamp(area.left(), 12, std::max(12, width() - m_bubble->width() - 12));
        const bool below = area.bottom() + m_bubble->height() + 16 < height();
        at = QPoint(x, below ? area.bottom() + 12 : std::max(12, area.top() - m_bubble->height() - 12));
    }
    m_bubble->move(at);
    update();
}

void TourOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath dim;
    dim.addRect(rect());
    const QRect area = hole();
    if (!area.isNull()) {
        QPainterPath cut;
        cut.addRoundedRect(area, 14, 14);
        dim = dim.subtracted(cut);
    }
    painter.fillPath(dim, QColor(0, 0, 0, Look::colors().dark ? 150 : 110));
    if (!area.isNull()) {
        painter.setPen(QPen(Look::colors().accent, 2));
        painter.drawRoundedRect(area, 14, 14);
    }
}

void TourOverlay::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        go(m_step + 1);
        return;
    case Qt::Key_Left:
        go(m_step - 1);
        return;
    case Qt::Key_Escape:
        end();
        return;
    default:
        event->accept(); // nothing underneath reacts while the tour runs
    }
}

bool TourOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
        place();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvanta
