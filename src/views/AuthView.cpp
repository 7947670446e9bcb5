#include "views/AuthView.h"

#include "model/AccountForm.h"
#include "model/Store.h"
#include "views/Look.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QLineEdit* field(const QString& placeholder, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setPlaceholderText(placeholder);
    edit->setAccessibleName(placeholder);
    edit->setMinimumHeight(34);
    return edit;
}

QLabel* secondary(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setProperty("role", u"secondary"_s);
    label->setWordWrap(true);
    return label;
}

// The prompt that stands for the browser window: closing it cancels.
QDialog* makeWaitingPrompt(QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(AuthView::waitingTitle);
    dialog->setModal(true);
    auto* title = new QLabel(AuthView::waitingTitle, dialog);
    title->setFont(Look::font(13, QFont::DemiBold));
    auto* text = secondary(dialog);
    text->setText(
        u"Finish signing in with Google in your web browser. Corvanta carries on when it's done."_s);
    auto* cancel = new QPushButton(u"Cancel"_s, dialog);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(22, 20, 22, 18);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addLayout(buttons);
    dialog->setFixedWidth(380);
    return dialog;
}

} // namespace

AuthView::AuthView(Store& store, QWidget* parent)
    : QFrame(parent)
    , m_store(store)
    , m_form(new AccountForm(store, this))
    , m_title(new QLabel(this))
    , m_subtitle(secondary(this))
    , m_google(new QPushButton(this))
    , m_name(field(u"Name"_s, this))
    , m_email(field(u"Email"_s, this))
    , m_password(field(u"Password"_s, this))
    , m_hint(secondary(this))
    , m_message(new QLabel(this))
    , m_submit(new QPushButton(this))
    , m_forgot(new QPushButton(u"Forgot password?"_s, this))
    , m_switch(new QPushButton(this))
{
    setObjectName(u"group"_s);
    setFixedWidth(430);
    m_title->setFont(Look::font(16, QFont::DemiBold));
    m_subtitle->setText(u"Your library keeps the app list of every Mac you use, so a new Mac can put all "
                        u"your apps back."_s);
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    m_password->setEchoMode(QLineEdit::Password);
    m_hint->setFont(Look::font(9));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_submit->setProperty("role", u"primary"_s);
    m_submit->setDefault(true);
    m_submit->setMinimumHeight(34);
    m_google->setMinimumHeight(34);
    for (QPushButton* link : { m_forgot, m_switch }) {
        link->setProperty("role", u"link"_s);
        link->setCursor(Qt::PointingHandCursor);
    }

    auto* links = new QHBoxLayout;
    links->addWidget(m_forgot);
    links->addStretch();
    links->addWidget(m_switch);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 24, 26, 20);
    layout->setSpacing(10);
    layout->addWidget(m_title);
    layout->addWidget(m_subtitle);
    layout->addSpacing(4);
    layout->addWidget(m_google);
    auto* orLabel = secondary(this);
    orLabel->setText(u"or with your email"_s);
    orLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(orLabel);
    layout->addWidget(m_name);
    layout->addWidget(m_email);
    layout->addWidget(m_password);
    layout->addWidget(m_hint);
    layout->addWidget(m_message);
    layout->addWidget(m_submit);
    layout->addLayout(links);

    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_form->name = text;
        sync();
    });
    connect(m_email, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_form->email = text.trimmed();
        sync();
    });
    connect(m_password, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_form->password = text;
        sync();
    });
    for (QLineEdit* edit : { m_name, m_email, m_password })
        connect(edit, &QLineEdit::returnPressed, this, &AuthView::submit);
    connect(m_submit, &QPushButton::clicked, this, &AuthView::submit);
    connect(m_google, &QPushButton::clicked, this, &AuthView::signInWithGoogle);
    connect(m_forgot, &QPushButton::clicked, this, &AuthView::forgotPassword);
    connect(m_switch, &QPushButton::clicked, this,
        [this] { m_store.setCreatingAccount(!m_store.creatingAccount()); });
    connect(m_form, &AccountForm::changed, this, &AuthView::sync);
    connect(&store, &Store::creatingAccountChanged, this, &AuthView::sync);
    sync();
}

AuthView::~AuthView()
{
    // A Google sign-in still waiting ends with the form.
    m_form->cancelGoogle();
}

void AuthView::sync()
{
    const bool creating = m_store.creatingAccount();
    const bool busy = m_form->submitting();
    m_title->setText(creating ? createTitle : signInTitle);
    m_google->setText(m_form->googleTitle());
    m_name->setVisible(creating);
    m_hint->setText(AccountForm::passwordHint(m_form->password));
    m_hint->setStyleSheet(m_form->password.size() >= AccountForm::minimumPassword
            ? u"color: %1;"_s.arg(Look::colors().green.name())
            : QString());
    m_message->setVisible(m_form->message().has_value());
    m_message->setText(m_form->message().value_or(QString()));
    m_submit->setText(creating ? u"Create Account"_s : u"Sign In"_s);
    m_submit->setEnabled(m_form->canSubmit());
    m_google->setEnabled(!busy);
    m_forgot->setVisible(!creating);
    m_forgot->setEnabled(!busy);
    m_switch->setText(creating ? u"I have an account"_s : u"Create an account"_s);
    m_switch->setEnabled(!busy);
    for (QLineEdit* edit : { m_name, m_email, m_password })
        edit->setEnabled(!busy);

    if (m_form->waitingForBrowser() && !m_waiting) {
        m_waiting = makeWaitingPrompt(this);
        connect(m_waiting, &QDialog::rejected, m_form, &AccountForm::cancelGoogle);
        m_waiting->open();
    } else if (!m_form->waitingForBrowser() && m_waiting) {
        // Closed by the flow's end, not by the user: no cancellation.
        m_waiting->disconnect(m_form);
        m_waiting->deleteLater();
        m_waiting->hide();
        m_waiting = nullptr;
    }
}

void AuthView::submit()
{
    if (m_form->canSubmit())
        m_form->submit();
}

void AuthView::signInWithGoogle()
{
    m_form->signInWithGoogle();
}

void AuthView::forgotPassword()
{
    m_form->forgotPassword();
}

} // namespace corvanta
