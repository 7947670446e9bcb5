#include "views/FilterChips.h"

#include "model/Store.h"
#include "views/Look.h"
#include "views/StoreWatch.h"
#include "views/Symbols.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
constexpr int chipHeight = 32;
constexpr int symbolSize = 15;
constexpr int padding = 12;
constexpr int gap = 6;
} // namespace

Chip::Chip(Filter filter, QWidget* parent)
    : QAbstractButton(parent)
    , m_filter(filter)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setText(title(filter));
    setObjectName(u"chip-"_s + rawValue(filter));
    setAccessibleName(title(filter));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Chip::setCount(int count)
{
    if (m_count == count)
        return;
    m_count = count;
    setAccessibleName(title(m_filter) + u", "_s + QString::number(count));
    updateGeometry();
    update();
}

QSize Chip::sizeHint() const
{
    const QFontMetrics title(Look::font(10, QFont::Medium));
    const QFontMetrics number(Look::font(9.5, QFont::DemiBold));
    const int countWidth = number.horizontalAdvance(QString::number(m_count)) + 12;
    return { padding + symbolSize + gap + title.horizontalAdvance(text()) + gap + countWidth + padding - 4,
        chipHeight };
}

void Chip::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void Chip::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void Chip::paintEvent(QPaintEvent*)
{
    const Colors& c = Look::colors();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool on = isChecked();
    const QRectF pill = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = pill.height() / 2;

    QColor fill = on ? c.accent : (m_hover ? c.cardHover : c.card);
    painter.setPen(QPen(on ? c.accent : c.border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(pill, radius, radius);
    if (hasFocus()) {
        QColor ring = c.accent;
        ring.setAlpha(on ? 255 : 170);
        painter.setPen(QPen(on ? c.onAccent : ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(
            pill.adjusted(on ? 2 : 0.5, on ? 2 : 0.5, on ? -2 : -0.5, on ? -2 : -0.5), radius, radius);
    }

    const QColor ink = on ? c.onAccent : c.text;
    qreal x = padding;
    const qreal middle = height() / 2.0;
    Symbols::paint(painter, symbol(m_filter), QRectF(x, middle - symbolSize / 2.0, symbolSize, symbolSize),
        on ? c.onAccent : c.secondary);
    x += symbolSize + gap;

    const QFont titleFont = Look::font(10, QFont::Medium);
    painter.setFont(titleFont);
    painter.setPen(ink);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(text());
    painter.drawText(QRectF(x, 0, titleWidth + 2, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    x += titleWidth + gap;

    const QFont numberFont = Look::font(9.5, QFont::DemiBold);
    const QString number = QString::number(m_count);
    const int numberWidth = QFontMetrics(numberFont).horizontalAdvance(number) + 12;
    const QRectF badge(x, middle - 9, numberWidth, 18);
    QColor badgeFill = on ? c.onAccent : c.control;
    badgeFill.setAlpha(on ? 60 : 255);
    painter.setPen(Qt::NoPen);
    painter.setBrush(badgeFill);
    painter.drawRoundedRect(badge, 9, 9);
    painter.setFont(numberFont);
    painter.setPen(on ? c.onAccent : c.secondary);
    painter.drawText(badge, Qt::AlignCenter, number);
}

FilterChips::FilterChips(StoreWatch& watch, QWidget* parent)
    : QWidget(parent)
    , m_watch(watch)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    Store& store = watch.store();
    for (Filter filter : allFilters) {
        auto* chip = new Chip(filter, this);
        group->addButton(chip);
        layout->addWidget(chip);
        m_chips.insert(filter, chip);
        connect(chip, &Chip::clicked, this, [&store, filter] { store.setFilter(filter); });
    }
    layout->addStretch();
    connect(&watch, &StoreWatch::changed, this, &FilterChips::sync);
    sync();
}

void FilterChips::sync()
{
    const Store& store = m_watch.store();
    for (Chip* chip : std::as_const(m_chips)) {
        chip->setCount(store.count(chip->filter()));
        chip->setChecked(chip->filter() == store.filter());
    }
}

} // namespace corvanta
