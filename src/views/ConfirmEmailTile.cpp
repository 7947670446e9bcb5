#include "views/ConfirmEmailTile.h"

#include "account/Account.h"
#include "base/Error.h"
#include "model/Store.h"
#include "views/Look.h"
#include "views/Symbols.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

ConfirmEmailTile::ConfirmEmailTile(Store& store, QWidget* parent)
    : QFrame(parent)
    , m_store(store)
    , m_text(new QLabel(this))
    , m_resend(new QPushButton(this))
    , m_confirmed(new QPushButton(u"I've Confirmed"_s, this))
{
    setObjectName(u"banner"_s);
    auto* symbol = new SymbolView(18, this);
    symbol->setSymbol(u"envelope"_s);
    symbol->setColor([] { return Look::colors().accent; });
    auto* heading = new QLabel(title, this);
    heading->setFont(Look::font(11, QFont::DemiBold));
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_confirmed->setProperty("role", u"primary"_s);

    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    words->addWidget(heading);
    words->addWidget(m_text);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 11, 12, 11);
    layout->setSpacing(10);
    layout->addWidget(symbol, 0, Qt::AlignTop);
    layout->addLayout(words, 1);
    layout->addWidget(m_resend);
    layout->addWidget(m_confirmed);

    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ConfirmEmailTile::sync);
    connect(m_resend, &QPushButton::clicked, this, &ConfirmEmailTile::resend);
    connect(m_confirmed, &QPushButton::clicked, this, &ConfirmEmailTile::checkConfirmed);
    // Coming back from the mail app is when the link was most likely opened.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && wanted(m_store))
            m_store.refreshEmailConfirmation();
    });
    sync();
}

bool ConfirmEmailTile::wanted(const Store& store)
{
    const std::optional<Session>& session = store.session();
    return session && session->provider == Auth::PasswordProviderID && session->emailVerified != true;
}

void ConfirmEmailTile::sync()
{
    const bool shown = wanted(m_store);
    setVisible(shown);
    if (!shown) {
        m_said.clear();
        m_tick.stop();
        return;
    }
    const QString email = m_store.session()->email;
    m_text->setText(m_said.isEmpty() ? u"We sent a link to "_s + email
                + u". Confirming it makes sure your backup belongs to an inbox you own."_s
                                     : m_said);
    const int wait = m_store.confirmationWait(m_store.services().clock());
    m_resend->setText(wait > 0 ? u"Resend in %1s"_s.arg(wait) : u"Resend"_s);
    m_resend->setEnabled(wait == 0);
    if (wait > 0 && !m_tick.isActive())
        m_tick.start();
    else if (wait == 0)
        m_tick.stop();
}

void ConfirmEmailTile::resend()
{
    QPointer<ConfirmEmailTile> self(this);
    const QString email = m_store.session() ? m_store.session()->email : QString();
    [](QPointer<ConfirmEmailTile> tile, Store& store, QString address) -> QCoro::Task<> {
        QString said = u"Sent again to "_s + address + u". It can take a minute to arrive."_s;
        try {
            QCoro::Task<> sending = store.resendEmailConfirmation();
            co_await std::move(sending);
        } catch (const Error& error) {
            said = error.description();
        }
        if (tile) {
            tile->m_said = said;
            tile->sync();
        }
    }(self, m_store, email);
    sync();
}

void ConfirmEmailTile::checkConfirmed()
{
    QPointer<ConfirmEmailTile> self(this);
    m_confirmed->setEnabled(false);
    [](QPointer<ConfirmEmailTile> tile, Store& store) -> QCoro::Task<> {
        co_await store.refreshEmailConfirmation();
        if (!tile)
            co_return;
        tile->m_confirmed->setEnabled(true);
        if (wanted(store))
            tile->m_said = u"Not confirmed yet. Open the link in the email from Corvanta, then try again."_s;
        tile->sync();
    }(self, m_store);
}

} // namespace corvanta
