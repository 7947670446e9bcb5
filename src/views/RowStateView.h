#pragma once

#include "model/UpdateControl.h"

#include <functional>

#include <QWidget>

class QLabel;
class QPushButton;

namespace corvanta {

class SymbolView;

// A thin rounded bar for a download's fraction.
class ProgressBar : public QWidget {
    Q_OBJECT

public:
    explicit ProgressBar(QWidget* parent = nullptr);
    void setFraction(double fraction);
    double fraction() const { return m_fraction; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fraction = 0;
};

// What a row shows at its right: the install phase or the status in words
// with its symbol, a download's progress, or the update control.
class RowStateView : public QWidget {
    Q_OBJECT

public:
    explicit RowStateView(QWidget* parent = nullptr);

    void display(const RowState& state, const UpdateControl& control);

    // What is on show, for tests and accessibility.
    QString words() const;
    QPushButton* button() const { return m_button; }
    QLabel* tag() const { return m_tag; }
    ProgressBar* progress() const { return m_progress; }
    SymbolView* symbolView() const { return m_symbol; }

Q_SIGNALS:
    // The update control's button, or the blocked row's words, was clicked.
    void controlClicked(UpdateControl::Action action);
    void blockedClicked();

private:
    SymbolView* m_symbol;
    QLabel* m_words;
    ProgressBar* m_progress;
    QPushButton* m_button;
    QLabel* m_tag;
    SymbolView* m_tagSymbol;
    QWidget* m_tagBox;
    QPushButton* m_blocked;
    UpdateControl::Action m_action = UpdateControl::Action::none;
};

// The tint a row's or card's symbol is drawn in.
QColor symbolTint(const QString& symbol);

} // namespace corvanta
