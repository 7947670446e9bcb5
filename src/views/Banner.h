#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace corvanta {

class SymbolView;

// A calm strip above the list: a symbol, one sentence, an optional action
// and a close button.
class Banner : public QFrame {
    Q_OBJECT

public:
    enum class Tone { info, warning };

    Banner(Tone tone, const QString& symbol, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    // Shows the action button with `title`; empty hides it.
    void setAction(const QString& title);
    void setClosable(bool closable);

    QLabel* label() const { return m_text; }
    QPushButton* actionButton() const { return m_action; }
    QPushButton* closeButton() const { return m_close; }

Q_SIGNALS:
    void actionClicked();
    void closeClicked();

private:
    SymbolView* m_symbol;
    QLabel* m_text;
    QPushButton* m_action;
    QPushButton* m_close;
};

} // namespace corvanta
