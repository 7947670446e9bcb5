#include "views/SetupWindow.h"

#include "platform/Permissions.h"
#include "views/Look.h"
#include "views/Symbols.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QPushButton* makeButton(const QString& title, QWidget* parent, bool primary = false)
{
    auto* push = new QPushButton(title, parent);
    push->setMinimumHeight(32);
    if (primary) {
        push->setProperty("role", u"primary"_s);
        push->setDefault(true);
    }
    return push;
}

} // namespace

SetupWindow::SetupWindow(Setup& setup, const Permissions& permissions, SetupStep step, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_model(setup, permissions, step)
    , m_cards(new QStackedWidget(this))
    , m_error(new QLabel(this))
{
    setWindowTitle(title);
    setObjectName(u"Window"_s);
    setFixedWidth(520);

    auto* move = makeButton(u"Move to Applications"_s, this, true);
    auto* keep = makeButton(u"Keep It Here"_s, this);
    m_cards->addWidget(card(u"arrow.down.app"_s, u"Move Corvanta to Applications"_s,
        u"Corvanta replaces other apps, so it belongs in an applications folder: /opt for everyone on this "
        u"computer, or the Applications folder in your home folder if only you may write there."_s,
        { keep, move }));

    auto* checkAgain = makeButton(u"Check Again"_s, this, true);
    auto* skip = makeButton(u"Continue Without It"_s, this);
    m_cards->addWidget(
        card(u"lock.shield.fill"_s, u"Let Corvanta see other windows"_s, QString(), { skip, checkAgain }));

    auto* later = makeButton(u"Not Now"_s, this);
    auto* atLogin = makeButton(u"Open at Login"_s, this, true);
    m_cards->addWidget(card(u"clock"_s, u"Open Corvanta at login?"_s,
        u"It starts quietly in the background, checks your apps on its schedule and tells you when updates "
        u"arrive."_s,
        { later, atLogin }));

    auto* done = makeButton(u"Done"_s, this, true);
    m_cards->addWidget(card(u"checkmark.seal.fill"_s, u"You're all set"_s,
        u"Corvanta keeps an eye on your apps from the menu bar. Close this window whenever you like."_s,
        { done }));

    m_error->setWordWrap(true);
    m_error->setStyleSheet(u"color: %1;"_s.arg(Look::colors().red.name()));
    auto* dots = new QHBoxLayout;
    dots->addStretch();
    for (int i = 0; i < m_cards->count(); ++i) {
        auto* dot = new QWidget(this);
        dot->setFixedSize(8, 8);
        m_dots << dot;
        dots->addWidget(dot);
    }
    dots->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 24, 26, 20);
    layout->setSpacing(12);
    layout->addWidget(m_cards);
    layout->addWidget(m_error);
    layout->addLayout(dots);

    connect(move, &QPushButton::clicked, this,
        [this] { m_model.move(Setup::bundleOf(QCoreApplication::applicationFilePath())); });
    connect(keep, &QPushButton::clicked, &m_model, &SetupModel::skipMove);
    connect(checkAgain, &QPushButton::clicked, &m_model, &SetupModel::requestPermission);
    connect(skip, &QPushButton::clicked, &m_model, &SetupModel::advance);
    connect(later, &QPushButton::clicked, this, [this] { m_model.answerLogin(false); });
    connect(atLogin, &QPushButton::clicked, this, [this] { m_model.answerLogin(true); });
    connect(done, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_model, &SetupModel::moved, this, [&setup](const QString& bundle) { setup.relaunch(bundle); });
    connect(&m_model, &SetupModel::changed, this, &SetupWindow::sync);
    m_model.start();
    sync();
}

QWidget* SetupWindow::card(
    const QString& symbol, const QString& heading, const QString& text, const QList<QPushButton*>& buttons)
{
    auto* page = new QWidget(m_cards);
    auto* icon = new SymbolView(40, page);
    icon->setSymbol(symbol);
    icon->setColor([] { return Look::colors().accent; });
    auto* title = new QLabel(heading, page);
    title->setFont(Look::font(16, QFont::DemiBold));
    auto* body = new QLabel(text, page);
    body->setWordWrap(true);
    body->setProperty("role", u"secondary"_s);
    body->setMinimumHeight(QFontMetrics(body->font()).lineSpacing() * 4);
    body->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (text.isEmpty())
        m_permissionText = body;
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* push : buttons) {
        push->setParent(page);
        row->addWidget(push);
    }
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(icon);
    layout->addWidget(title);
    layout->addWidget(body);
    layout->addStretch();
    layout->addLayout(row);
    return page;
}

QPushButton* SetupWindow::button(const QString& title) const
{
    for (QPushButton* push : m_cards->currentWidget()->findChildren<QPushButton*>()) {
        if (push->text() == title)
            return push;
    }
    return nullptr;
}

void SetupWindow::sync()
{
    const int index = static_cast<int>(m_model.step());
    m_cards->setCurrentIndex(index);
    m_error->setVisible(m_model.error().has_value());
    m_error->setText(m_model.error().value_or(QString()));
    m_permissionText->setText(m_model.trusted()
            ? u"This desktop lets Corvanta see the other windows on the screen, so its alerts stay out of "
              u"the way of what you're doing."_s
            : u"Corvanta looks at the other windows on the screen so its alerts stay out of the way. This "
              u"desktop doesn't say whether it may; it carries on without it."_s);
    for (int i = 0; i < m_dots.size(); ++i) {
        const QColor colour = i == index ? Look::colors().accent : Look::colors().track;
        m_dots[i]->setStyleSheet(u"background: %1; border-radius: 4px;"_s.arg(colour.name()));
    }
}

} // namespace corvanta
