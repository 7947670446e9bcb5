#pragma once

#include "model/SetupModel.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace corvanta {

// "Set Up Corvanta": one card per step (move, permission, login, done),
// advancing as the model does.
class SetupWindow : public QWidget {
    Q_OBJECT

public:
    SetupWindow(Setup& setup, const Permissions& permissions, SetupStep step, QWidget* parent = nullptr);

    static inline const QString title = QStringLiteral("Set Up Corvanta");

    SetupModel& model() { return m_model; }
    QStackedWidget* cards() const { return m_cards; }
    QLabel* error() const { return m_error; }
    // The card's buttons, by their titles.
    QPushButton* button(const QString& title) const;

private:
    void sync();
    QWidget* card(const QString& symbol, const QString& heading, const QString& text,
        const QList<QPushButton*>& buttons);

    SetupModel m_model;
    QStackedWidget* m_cards;
    QLabel* m_error;
    QLabel* m_permissionText = nullptr;
    QList<QWidget*> m_dots;
};

} // namespace corvanta
