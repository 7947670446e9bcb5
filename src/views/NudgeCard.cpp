#include "views/NudgeCard.h"

#include "model/AccountNudge.h"
#include "views/Look.h"
#include "views/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

NudgeCard::NudgeCard(Store& store, QWidget* parent)
    : QFrame(parent)
    , m_store(store)
    , m_notNow(new QPushButton(AccountNudge::notNowTitle, this))
    , m_signIn(new QPushButton(AccountNudge::signInTitle, this))
{
    setObjectName(u"banner"_s);
    auto* symbol = new SymbolView(20, this);
    symbol->setSymbol(u"icloud"_s);
    symbol->setColor([] { return Look::colors().accent; });
    auto* title = new QLabel(AccountNudge::title, this);
    title->setFont(Look::font(11, QFont::DemiBold));
    auto* text = new QLabel(AccountNudge::text, this);
    text->setWordWrap(true);
    m_signIn->setProperty("role", u"primary"_s);

    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    words->addWidget(title);
    words->addWidget(text);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 12, 10);
    layout->setSpacing(10);
    layout->addWidget(symbol);
    layout->addLayout(words, 1);
    layout->addWidget(m_notNow);
    layout->addWidget(m_signIn);

    connect(m_notNow, &QPushButton::clicked, this, [this] {
        AccountNudge::notNow(m_store);
        sync();
    });
    connect(m_signIn, &QPushButton::clicked, this, [this] { AccountNudge::signIn(m_store); });
    sync();
}

void NudgeCard::sync()
{
    setVisible(AccountNudge::shouldShow(m_store));
}

} // namespace corvanta
