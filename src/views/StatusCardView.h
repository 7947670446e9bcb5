#pragma once

#include "views/text/StatusCard.h"

#include <QWidget>

class QLabel;

namespace corvanta {

class SymbolView;

// Where one app stands: the status card's symbol in its tint, its headline
// and its sentence.
class StatusCardView : public QWidget {
    Q_OBJECT

public:
    explicit StatusCardView(QWidget* parent = nullptr);

    void display(const StatusCard& card);
    const StatusCard& card() const { return m_card; }
    QLabel* title() const { return m_title; }
    QLabel* message() const { return m_message; }

private:
    StatusCard m_card;
    SymbolView* m_symbol;
    QLabel* m_title;
    QLabel* m_message;
};

} // namespace corvanta
