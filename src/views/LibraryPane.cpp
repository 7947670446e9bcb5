#include "views/LibraryPane.h"

#include "model/Store.h"
#include "views/AuthView.h"
#include "views/ConfirmEmailTile.h"
#include "views/LibraryView.h"
#include "views/Look.h"
#include "views/StoreWatch.h"

#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

LibraryPane::LibraryPane(StoreWatch& watch, QWidget* parent)
    : QScrollArea(parent)
    , m_watch(watch)
    , m_title(new QLabel)
    , m_text(new QLabel)
    , m_confirm(new ConfirmEmailTile(watch.store()))
{
    setObjectName(u"library"_s);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    m_layout = new QVBoxLayout(content);
    m_layout->setContentsMargins(0, 4, 6, 16);
    m_layout->setSpacing(12);
    m_title->setFont(Look::font(15, QFont::DemiBold));
    m_title->setAlignment(Qt::AlignCenter);
    m_text->setProperty("role", u"secondary"_s);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(m_confirm);
    m_layout->addSpacing(24);
    m_layout->addWidget(m_title);
    m_layout->addWidget(m_text);
    m_layout->addStretch();
    setWidget(content);

    connect(&watch, &StoreWatch::changed, this, &LibraryPane::sync);
    sync();
}

void LibraryPane::sync()
{
    Store& store = m_watch.store();
    const bool signedOut = store.cloud() && !store.session();
    if (signedOut && !m_auth) {
        m_auth = new AuthView(store, widget());
        m_layout->insertWidget(1, m_auth, 0, Qt::AlignHCenter);
    } else if (!signedOut && m_auth) {
        m_auth->deleteLater();
        m_auth = nullptr;
    }
    const bool signedIn = store.cloud() && store.session();
    if (signedIn && !m_library) {
        m_library = new LibraryView(m_watch, widget());
        m_layout->insertWidget(m_layout->indexOf(m_text) + 1, m_library, 1);
    } else if (!signedIn && m_library) {
        m_library->deleteLater();
        m_library = nullptr;
    }
    m_confirm->sync();

    QString title;
    QString text;
    if (!store.cloud()) {
        title = notSetUpTitle;
        text = notSetUpText;
    } else if (store.syncError()) {
        text = *store.syncError();
    }
    m_title->setVisible(!title.isEmpty());
    m_title->setText(title);
    m_text->setVisible(!text.isEmpty());
    m_text->setText(text);
}

} // namespace corvanta
