#include "views/StatusCardView.h"

#include "views/Look.h"
#include "views/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

StatusCardView::StatusCardView(QWidget* parent)
    : QWidget(parent)
    , m_symbol(new SymbolView(26, this))
    , m_title(new QLabel(this))
    , m_message(new QLabel(this))
{
    setObjectName(u"statusCard"_s);
    m_title->setObjectName(u"cardTitle"_s);
    m_title->setFont(Look::font(11, QFont::DemiBold));
    m_message->setObjectName(u"cardMessage"_s);
    m_message->setProperty("role", u"secondary"_s);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_title);
    texts->addWidget(m_message);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(m_symbol, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
}

void StatusCardView::display(const StatusCard& card)
{
    m_card = card;
    m_symbol->setSymbol(card.symbol);
    const Tint tint = card.tint;
    m_symbol->setColor([tint] { return Look::tint(tint); });
    m_title->setText(card.title);
    m_message->setText(card.message);
}

} // namespace corvanta
