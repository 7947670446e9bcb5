#include "views/AppList.h"

#include "model/Store.h"
#include "views/AppCard.h"
#include "views/Look.h"
#include "views/StoreWatch.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

AppList::AppList(StoreWatch& watch, QWidget* parent)
    : QScrollArea(parent)
    , m_watch(watch)
    , m_content(new QWidget)
    , m_layout(new QVBoxLayout(m_content))
    , m_empty(new QLabel(m_content))
{
    setObjectName(u"appList"_s);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    m_content->setObjectName(u"appListContent"_s);
    m_layout->setContentsMargins(0, 2, 6, 16);
    m_layout->setSpacing(8);
    m_empty->setObjectName(u"emptyState"_s);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    m_empty->setProperty("role", u"secondary"_s);
    m_empty->setFont(Look::font(11));
    m_empty->setMinimumHeight(160);
    m_layout->addWidget(m_empty);
    m_layout->addStretch();
    setWidget(m_content);
    verticalScrollBar()->setSingleStep(24);

    connect(&watch, &StoreWatch::changed, this, &AppList::sync);
    sync();
}

QList<AppCard*> AppList::cards() const
{
    return m_order;
}

QString AppList::emptyText() const
{
    const Store& store = m_watch.store();
    if (store.visible().isEmpty())
        return store.scanning() ? u"Looking through your Applications folders…"_s
                                : u"No apps found in your Applications folders."_s;
    if (!store.query().trimmed().isEmpty())
        return u"No apps match “%1”."_s.arg(store.query().trimmed());
    switch (store.filter()) {
    case Filter::updates:
        return u"No updates right now."_s;
    case Filter::cantVerify:
        return u"Every app could be checked."_s;
    case Filter::ignored:
        return u"You're not ignoring any apps."_s;
    default:
        return u"Nothing to show."_s;
    }
}

void AppList::sync()
{
    Store& store = m_watch.store();
    const QList<AppItem*> shown = store.shown(store.filter());

    // Cards of items that left the model go; their item objects are gone or going.
    QSet<QString> present;
    for (const AppItem* item : store.items())
        present.insert(item->id());
    for (auto it = m_cards.begin(); it != m_cards.end();) {
        AppCard* card = *it;
        if (!present.contains(it.key()) || !card->item() || !store.items().contains(card->item())) {
            m_order.removeOne(card);
            card->hide();
            card->deleteLater();
            it = m_cards.erase(it);
        } else {
            ++it;
        }
    }

    QList<AppCard*> order;
    for (AppItem* item : shown) {
        AppCard* card = m_cards.value(item->id());
        if (!card) {
            card = new AppCard(store, item, m_content);
            m_cards.insert(item->id(), card);
            connect(card, &AppCard::toggleRequested, this, &AppList::toggle);
            connect(card, &AppCard::selectRequested, this, &AppList::select);
            connect(card, &AppCard::stepRequested, this, &AppList::step);
            reveal(card);
        }
        order << card;
    }

    if (order != m_order) {
        // Lay the shown cards out in list order; the others wait hidden.
        for (AppCard* card : std::as_const(m_order))
            m_layout->removeWidget(card);
        for (qsizetype index = 0; index < order.size(); ++index)
            m_layout->insertWidget(int(index), order[index]);
        const QSet<AppCard*> showing(order.begin(), order.end());
        for (AppCard* card : std::as_const(m_cards)) {
            if (!showing.contains(card)) {
                m_layout->removeWidget(card);
                card->hide();
            }
        }
        for (AppCard* card : std::as_const(order))
            card->show();
        m_order = order;
    }

    for (AppCard* card : std::as_const(m_order)) {
        card->setExpanded(store.expanded() == card->id());
        card->setSelected(store.selection() == card->id());
    }
    m_empty->setVisible(m_order.isEmpty());
    if (m_order.isEmpty())
        m_empty->setText(emptyText());
}

void AppList::reveal(AppCard* card)
{
    if (m_watch.store().reduceMotion())
        return;
    auto* fade = new QGraphicsOpacityEffect(card);
    fade->setOpacity(0);
    card->setGraphicsEffect(fade);
    auto* motion = new QPropertyAnimation(fade, "opacity", card);
    motion->setDuration(220);
    motion->setStartValue(0.0);
    motion->setEndValue(1.0);
    motion->setEasingCurve(QEasingCurve::OutCubic);
    // The effect costs a render pass per frame; it goes once the card is in.
    connect(motion, &QPropertyAnimation::finished, card, [card] { card->setGraphicsEffect(nullptr); });
    motion->start(QAbstractAnimation::DeleteWhenStopped);
}

void AppList::toggle(const QString& id)
{
    Store& store = m_watch.store();
    store.setExpanded(store.expanded() == id ? std::nullopt : std::optional<QString>(id));
}

void AppList::select(const QString& id)
{
    m_watch.store().setSelection(id);
}

void AppList::step(const QString& id, int by)
{
    const qsizetype at = m_order.indexOf(m_cards.value(id));
    if (at < 0)
        return;
    const qsizetype next = std::clamp<qsizetype>(at + by, 0, m_order.size() - 1);
    AppCard* card = m_order[next];
    select(card->id());
    card->setFocus(Qt::TabFocusReason);
    ensureWidgetVisible(card, 0, 12);
}

void AppList::focusFirst()
{
    if (m_order.isEmpty())
        return;
    AppCard* card = m_order.front();
    select(card->id());
    card->setFocus(Qt::TabFocusReason);
}

} // namespace corvanta
