#include "views/WelcomeWindow.h"

#include "model/AccountNudge.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "views/Look.h"
#include "views/Symbols.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QWidget* page(const QString& symbol, const QString& heading, const QString& text, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    auto* icon = new SymbolView(48, widget);
    icon->setSymbol(symbol);
    icon->setColor([] { return Look::colors().accent; });
    auto* title = new QLabel(heading, widget);
    title->setFont(Look::font(18, QFont::DemiBold));
    title->setAlignment(Qt::AlignCenter);
    auto* body = new QLabel(text, widget);
    body->setWordWrap(true);
    body->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    body->setProperty("role", u"secondary"_s);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(10, 4, 10, 0);
    layout->setSpacing(12);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    layout->addWidget(title);
    layout->addWidget(body, 1);
    return widget;
}

} // namespace

WelcomeWindow::WelcomeWindow(Store& store, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_store(store)
    , m_pages(new QStackedWidget(this))
    , m_back(new QPushButton(u"Back"_s, this))
    , m_next(new QPushButton(this))
    , m_tour(new QPushButton(u"Take the Tour"_s, this))
{
    setWindowTitle(title);
    setObjectName(u"Window"_s);
    setFixedSize(560, 420);

    m_pages->addWidget(page(u"arrow.down.circle.fill"_s, title,
        u"Corvanta keeps every app on this computer up to date. It reads each app, asks the places that "
        u"publish its updates, and shows one honest status per app — including when it can't tell."_s,
        m_pages));
    m_pages->addWidget(page(u"checkmark.seal.fill"_s, u"Every update is verified first"_s,
        u"Before anything on disk changes, a download must match its size and checksum, carry a valid "
        u"signature from the same developer as the app you have, and be newer. Only then is it swapped in, "
        u"and the old version goes to the Trash."_s,
        m_pages));
    if (store.cloud()) {
        QWidget* backup = page(u"icloud"_s, AccountNudge::title,
            u"Sign in to keep a list of your apps in your library. On a new computer, Corvanta can put them "
            u"all back in one go."_s,
            m_pages);
        m_signIn = new QPushButton(AccountNudge::signInTitle, backup);
        m_signIn->setProperty("role", u"primary"_s);
        static_cast<QVBoxLayout*>(backup->layout())->addWidget(m_signIn, 0, Qt::AlignHCenter);
        connect(m_signIn, &QPushButton::clicked, this, [this] {
            finish();
            Q_EMIT signInRequested();
        });
        m_pages->addWidget(backup);
    }
    m_pages->addWidget(page(u"square.grid.2x2"_s, u"You're ready"_s,
        u"Corvanta lives in the menu bar and checks on its own. The tour shows where everything is in the "
        u"main window."_s,
        m_pages));

    auto* dots = new QHBoxLayout;
    dots->setSpacing(6);
    for (int i = 0; i < m_pages->count(); ++i) {
        auto* dot = new QWidget(this);
        dot->setFixedSize(8, 8);
        m_dots << dot;
        dots->addWidget(dot);
    }
    m_next->setProperty("role", u"primary"_s);
    m_next->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addStretch();
    buttons->addLayout(dots);
    buttons->addStretch();
    buttons->addWidget(m_tour);
    buttons->addWidget(m_next);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 22);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);

    connect(m_back, &QPushButton::clicked, this, [this] { go(m_pages->currentIndex() - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] {
        if (m_pages->currentIndex() + 1 < m_pages->count())
            go(m_pages->currentIndex() + 1);
        else
            finish();
    });
    connect(m_tour, &QPushButton::clicked, this, [this] {
        finish();
        Q_EMIT tourRequested();
    });
    go(0);
}

void WelcomeWindow::go(int index)
{
    m_pages->setCurrentIndex(std::clamp(index, 0, m_pages->count() - 1));
    const bool last = m_pages->currentIndex() == m_pages->count() - 1;
    m_back->setVisible(m_pages->currentIndex() > 0);
    m_next->setText(last ? u"Get Started"_s : u"Continue"_s);
    m_tour->setVisible(last);
    for (int i = 0; i < m_dots.size(); ++i) {
        const QColor colour = i == m_pages->currentIndex() ? Look::colors().accent : Look::colors().track;
        m_dots[i]->setStyleSheet(u"background: %1; border-radius: 4px;"_s.arg(colour.name()));
    }
}

void WelcomeWindow::finish()
{
    m_store.prefs().setOnboarded(true);
    close();
}

void WelcomeWindow::closeEvent(QCloseEvent* event)
{
    // Closing is as good as finishing: the welcome isn't forced on anyone twice.
    m_store.prefs().setOnboarded(true);
    event->accept();
}

void WelcomeWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Left) {
        go(m_pages->currentIndex() - 1);
        return;
    }
    if (event->key() == Qt::Key_Right) {
        go(m_pages->currentIndex() + 1);
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace corvanta
