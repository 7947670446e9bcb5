#pragma once

#include "package/PackageConsent.h"

#include <optional>

#include <QCoro/QCoroTask>
#include <QString>
#include <QTextStream>

namespace corvanta {

struct InstalledApp;
struct Release;

// A question with a button that goes ahead and one that cancels.
struct Question {
    QString title;
    QString text;
    QString confirm;
    QString cancel;

    // Before an update replaces a running app.
    static Question quitToUpdate(const InstalledApp& app, const std::optional<Release>& release);
    // Before a running app is removed.
    static Question quitToRemove(const InstalledApp& app);
    // Before an installer package runs with administrator rights.
    static Question packageConsent(const PackageConsent& consent);

    friend bool operator==(const Question&, const Question&) = default;
};

// A message the user acknowledges.
struct Alert {
    QString title;
    QString text;

    // A removal that failed, with the error's sentence.
    static Alert removalFailed(const QString& name, const QString& description);

    friend bool operator==(const Alert&, const Alert&) = default;
};

// Where the model's questions go: the window answers with dialogs, the
// command line on the terminal, tests by script. Used on the main thread.
class Prompts {
public:
    virtual ~Prompts() = default;

    // True when the user chose the confirming button.
    virtual QCoro::Task<bool> ask(Question question) = 0;
    virtual void tell(Alert alert) = 0;
};

// Answers every question alike (--yes, --no) and writes what it was asked
// and told to `out`.
class FixedPrompts : public Prompts {
public:
    FixedPrompts(bool answer, QTextStream& out)
        : m_answer(answer)
        , m_out(out)
    {
    }
    QCoro::Task<bool> ask(Question question) override;
    void tell(Alert alert) override;

private:
    bool m_answer;
    QTextStream& m_out;
};

// Asks on a terminal: the question, then a line read from `in`; "y" or
// "yes" (any case) confirms, anything else cancels.
class TerminalPrompts : public Prompts {
public:
    TerminalPrompts(QTextStream& in, QTextStream& out)
        : m_in(in)
        , m_out(out)
    {
    }
    QCoro::Task<bool> ask(Question question) override;
    void tell(Alert alert) override;

private:
    QTextStream& m_in;
    QTextStream& m_out;
};

} // namespace corvanta
