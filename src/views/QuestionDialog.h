#pragma once

#include "model/Prompts.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace corvanta {

// A question or an alert in the window's look: a symbol, the title, the
// text, optional facts with a tick or a cross each, and one or two buttons.
// Return confirms, Escape cancels.
class QuestionDialog : public QDialog {
    Q_OBJECT

public:
    // One checked fact: shown with a tick when `ok`, else a cross.
    struct Fact {
        QString text;
        bool ok = true;
    };

    QuestionDialog(const Question& question, QWidget* parent = nullptr);
    QuestionDialog(const Alert& alert, QWidget* parent = nullptr);

    void setSymbol(const QString& symbol, bool warning);
    void setFacts(const QList<Fact>& facts);

    QLabel* title() const { return m_title; }
    QLabel* text() const { return m_text; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }

    // The facts the package question lists.
    static QList<Fact> facts(const PackageConsent& consent);

private:
    void build(const QString& title, const QString& text);

    QLabel* m_title = nullptr;
    QLabel* m_text = nullptr;
    QWidget* m_symbol = nullptr;
    QVBoxLayout* m_facts = nullptr;
    QPushButton* m_confirm = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace corvanta
