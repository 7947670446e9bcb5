#include "views/QuestionDialog.h"

#include "views/Look.h"
#include "views/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

QuestionDialog::QuestionDialog(const Question& question, QWidget* parent)
    : QDialog(parent)
{
    build(question.title, question.text);
    m_confirm->setText(question.confirm);
    m_cancel->setText(question.cancel);
}

QuestionDialog::QuestionDialog(const Alert& alert, QWidget* parent)
    : QDialog(parent)
{
    build(alert.title, alert.text);
    setSymbol(u"exclamationmark.triangle.fill"_s, true);
    m_confirm->setText(u"OK"_s);
    m_cancel->hide();
}

void QuestionDialog::build(const QString& title, const QString& text)
{
    setObjectName(u"question"_s);
    setWindowTitle(title);
    setMinimumWidth(440);
    setMaximumWidth(560);

    auto* symbol = new SymbolView(40, this);
    symbol->setSymbol(u"arrow.down.app"_s);
    symbol->setColor([] { return Look::colors().accent; });
    m_symbol = symbol;
    m_title = new QLabel(title, this);
    m_title->setObjectName(u"questionTitle"_s);
    m_title->setFont(Look::font(12.5, QFont::DemiBold));
    m_title->setWordWrap(true);
    m_text = new QLabel(text, this);
    m_text->setObjectName(u"questionText"_s);
    m_text->setWordWrap(true);
    m_text->setProperty("role", u"secondary"_s);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_facts = new QVBoxLayout;
    m_facts->setSpacing(6);

    m_confirm = new QPushButton(this);
    m_confirm->setObjectName(u"confirm"_s);
    m_confirm->setProperty("role", u"primary"_s);
    m_confirm->setDefault(true);
    m_confirm->setAutoDefault(true);
    m_confirm->setMinimumWidth(96);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(u"cancel"_s);
    m_cancel->setMinimumWidth(84);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(m_title);
    texts->addWidget(m_text);
    texts->addLayout(m_facts);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(m_symbol, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 18);
    layout->setSpacing(18);
    layout->addLayout(top);
    layout->addLayout(buttons);

    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void QuestionDialog::setSymbol(const QString& symbol, bool warning)
{
    auto* view = static_cast<SymbolView*>(m_symbol);
    view->setSymbol(symbol);
    view->setColor([warning] { return warning ? Look::colors().orange : Look::colors().accent; });
}

void QuestionDialog::setFacts(const QList<Fact>& facts)
{
    for (const Fact& fact : facts) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* mark = new SymbolView(15, this);
        mark->setSymbol(fact.ok ? u"checkmark.circle.fill"_s : u"xmark.octagon.fill"_s);
        const bool ok = fact.ok;
        mark->setColor([ok] { return ok ? Look::colors().green : Look::colors().orange; });
        auto* text = new QLabel(fact.text, this);
        text->setObjectName(u"fact"_s);
        text->setWordWrap(true);
        row->addWidget(mark, 0, Qt::AlignTop);
        row->addWidget(text, 1);
        m_facts->addLayout(row);
    }
}

QList<QuestionDialog::Fact> QuestionDialog::facts(const PackageConsent& consent)
{
    QList<Fact> list;
    list.append({ u"Signed by "_s + consent.signer + u" (team "_s + consent.team + u")"_s, true });
    list.append(
        { consent.notarized ? u"Notarized by Apple"_s : u"Not notarized by Apple"_s, consent.notarized });
    if (consent.sameTeam)
        list.append({ u"Same developer as on your other Mac"_s, true });
    list.append({ consent.checksum ? u"Matches the checksum its source published"_s
                                   : u"Its source published no checksum"_s,
        consent.checksum });
    return list;
}

} // namespace corvanta
