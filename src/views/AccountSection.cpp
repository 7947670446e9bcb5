#include "views/AccountSection.h"

#include "base/Error.h"
#include "model/Store.h"
#include "views/QuestionDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

const Question deleteQuestion { u"Delete your account?"_s,
    u"Your account and the app list of every Mac in your library are deleted for good. The apps on your Macs "
    u"stay as they are."_s,
    u"Delete Account"_s, u"Cancel"_s };

} // namespace

AccountSection::AccountSection(Store& store, QWidget* parent)
    : QFrame(parent)
    , m_store(store)
    , m_name(new QLabel(this))
    , m_email(new QLabel(this))
    , m_failure(new QLabel(this))
    , m_signOut(new QPushButton(u"Sign Out"_s, this))
    , m_delete(new QPushButton(u"Delete Account"_s, this))
    , m_signIn(new QPushButton(u"Sign In…"_s, this))
{
    setObjectName(u"group"_s);
    m_delete->setProperty("role", u"danger"_s);
    m_failure->setWordWrap(true);
    m_failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel* label : { m_name, m_email })
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_signIn);
    buttons->addWidget(m_signOut);
    buttons->addWidget(m_delete);
    buttons->addStretch();
    auto* form = new QFormLayout(this);
    form->setContentsMargins(16, 14, 16, 14);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(10);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow(u"Name"_s, m_name);
    form->addRow(u"Email"_s, m_email);
    form->addRow(QString(), buttons);
    form->addRow(QString(), m_failure);
    for (QWidget* label : { form->labelForField(m_name), form->labelForField(m_email) })
        label->setMinimumWidth(118);

    connect(m_signOut, &QPushButton::clicked, this, [this] { m_store.signOut(); });
    connect(m_delete, &QPushButton::clicked, this, &AccountSection::deleteAccount);
    connect(m_signIn, &QPushButton::clicked, this, &AccountSection::signInRequested);
    connect(&store, &Store::sessionChanged, this, &AccountSection::sync);
    sync();
}

void AccountSection::sync()
{
    const std::optional<Session>& session = m_store.session();
    m_name->setText(session ? session->name.value_or(u"—"_s) : u"Not signed in"_s);
    m_email->setText(session ? session->email : QString());
    m_email->setVisible(session.has_value());
    if (QWidget* label = static_cast<QFormLayout*>(layout())->labelForField(m_email))
        label->setVisible(session.has_value());
    m_signIn->setVisible(!session);
    m_signOut->setVisible(session.has_value());
    m_delete->setVisible(session.has_value());
    m_signOut->setEnabled(!m_deleting);
    m_delete->setEnabled(!m_deleting);
    m_failure->setVisible(!m_failure->text().isEmpty());
}

void AccountSection::deleteAccount()
{
    auto* dialog = new QuestionDialog(deleteQuestion, window());
    dialog->setSymbol(u"trash"_s, true);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this] {
        m_deleting = true;
        m_failure->clear();
        sync();
        [](QPointer<AccountSection> section, Store& store) -> QCoro::Task<> {
            QString failure;
            try {
                QCoro::Task<> deleting = store.deleteAccount();
                co_await std::move(deleting);
            } catch (const Error& error) {
                failure = error.description();
            }
            if (!section)
                co_return;
            section->m_deleting = false;
            section->m_failure->setText(failure);
            section->sync();
        }(QPointer<AccountSection>(this), m_store);
    });
    dialog->open();
}

} // namespace corvanta
