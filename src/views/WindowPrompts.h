#pragma once

#include "model/Prompts.h"

#include <functional>

class QWidget;

namespace corvanta {

class Store;

// The window's answers to the model's questions: each question is a dialog
// over the main window (or on its own when the window is closed), answered
// once by its buttons; a dialog closed any other way cancels.
class WindowPrompts : public Prompts {
public:
    // `parent` gives the window dialogs belong to, or null.
    WindowPrompts(Store& store, std::function<QWidget*()> parent);

    QCoro::Task<bool> ask(Question question) override;
    void tell(Alert alert) override;

private:
    Store& m_store;
    std::function<QWidget*()> m_parent;
};

} // namespace corvanta
