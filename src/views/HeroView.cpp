#include "views/HeroView.h"

#include "model/Store.h"
#include "views/HealthRing.h"
#include "views/Look.h"
#include "views/StoreWatch.h"
#include "views/Symbols.h"
#include "views/text/Hero.h"

#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

HeroView::HeroView(StoreWatch& watch, QWidget* parent)
    : QFrame(parent)
    , m_watch(watch)
    , m_ring(new HealthRing(watch.store().reduceMotion(), this))
    , m_headline(new QLabel(this))
    , m_summary(new QLabel(this))
    , m_check(new QPushButton(this))
    , m_updateAll(new QPushButton(u"Update All"_s, this))
{
    setObjectName(u"hero"_s);
    m_headline->setObjectName(u"headline"_s);
    m_headline->setFont(Look::font(19, QFont::DemiBold));
    m_summary->setObjectName(u"summary"_s);
    m_summary->setProperty("role", u"secondary"_s);
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_check->setObjectName(u"check"_s);
    m_check->setToolTip(u"Check every app for updates (Ctrl+R)"_s);
    m_updateAll->setObjectName(u"updateAll"_s);
    m_updateAll->setProperty("role", u"primary"_s);
    m_updateAll->setToolTip(u"Update every app Corvanta can install, one at a time (Ctrl+Shift+U)"_s);
    for (QPushButton* button : { m_check, m_updateAll }) {
        button->setMinimumHeight(32);
        button->setCursor(Qt::PointingHandCursor);
    }

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addStretch();
    texts->addWidget(m_headline);
    texts->addWidget(m_summary);
    texts->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_check);
    buttons->addWidget(m_updateAll);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 18, 22, 18);
    layout->setSpacing(18);
    layout->addWidget(m_ring);
    layout->addLayout(texts, 1);
    layout->addLayout(buttons);

    Store& store = watch.store();
    connect(m_check, &QPushButton::clicked, this, [&store] { store.refresh(false, false); });
    connect(m_updateAll, &QPushButton::clicked, this, [&store] { store.updateAll(); });
    connect(&watch, &StoreWatch::changed, this, &HeroView::sync);
    connect(&Look::notifier(), &Look::changed, this, &HeroView::sync);
    sync();
}

void HeroView::sync()
{
    const Store& store = m_watch.store();
    const HeroFacts facts = HeroFacts::of(store);
    m_headline->setText(Hero::headline(facts));
    m_summary->setText(Hero::summary(facts));

    if (facts.scanning) {
        const double done = facts.toCheck > 0 ? double(facts.checked) / facts.toCheck : 0;
        m_ring->setValue(HealthRing::Mode::progress, done, u"%1%"_s.arg(int(std::round(done * 100))));
        m_check->setText(facts.toCheck > 0 ? u"Checking %1 of %2…"_s.arg(facts.checked).arg(facts.toCheck)
                                           : u"Scanning…"_s);
    } else {
        const double share = facts.visible > 0 ? double(facts.upToDate) / facts.visible : 0;
        m_ring->setValue(HealthRing::Mode::health, share,
            facts.visible > 0 ? u"%1%"_s.arg(int(std::floor(share * 100))) : u"–"_s);
        m_check->setText(u"Check Now"_s);
    }
    m_check->setEnabled(!facts.scanning);
    m_check->setIcon(Symbols::pixmap(
        u"arrow.clockwise"_s, 16, facts.scanning ? Look::colors().tertiary : Look::colors().text));
    m_updateAll->setEnabled(!store.updatingAll() && !store.installable().isEmpty());
    m_updateAll->setIcon(Symbols::pixmap(u"arrow.down.circle"_s, 16, Look::colors().onAccent));
}

} // namespace corvanta
