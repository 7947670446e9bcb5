#include "views/WindowPrompts.h"

#include "model/Store.h"
#include "views/QuestionDialog.h"

#include <memory>

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QPointer>
#include <QPromise>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// One answer, given once; a dialog that goes away unanswered says no.
struct Answer {
    QPromise<bool> promise;
    bool given = false;

    void give(bool ok)
    {
        if (given)
            return;
        given = true;
        promise.addResult(ok);
        promise.finish();
    }
    ~Answer() { give(false); }
};

QWidget* visibleParent(const std::function<QWidget*()>& parent)
{
    QWidget* window = parent ? parent() : nullptr;
    return window && window->isVisible() ? window : nullptr;
}

} // namespace

WindowPrompts::WindowPrompts(Store& store, std::function<QWidget*()> parent)
    : m_store(store)
    , m_parent(std::move(parent))
{
}

QCoro::Task<bool> WindowPrompts::ask(Question question)
{
    auto* dialog = new QuestionDialog(question, visibleParent(m_parent));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (question.title.startsWith(u"Quit "_s))
        dialog->setSymbol(u"exclamationmark.triangle.fill"_s, true);
    // The package question lists what was checked, from the request itself.
    if (const auto& pending = m_store.packageConsent();
        pending && Question::packageConsent(pending->request) == question) {
        dialog->setSymbol(u"lock.shield.fill"_s, true);
        dialog->setFacts(QuestionDialog::facts(pending->request));
    }
    const auto answer = std::make_shared<Answer>();
    answer->promise.start();
    QFuture<bool> answered = answer->promise.future();
    QObject::connect(dialog, &QDialog::finished, dialog,
        [answer](int result) { answer->give(result == QDialog::Accepted); });
    QObject::connect(dialog, &QObject::destroyed, dialog, [answer] { answer->give(false); });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
    co_return co_await answered;
}

void WindowPrompts::tell(Alert alert)
{
    auto* dialog = new QuestionDialog(alert, visibleParent(m_parent));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

} // namespace corvanta
