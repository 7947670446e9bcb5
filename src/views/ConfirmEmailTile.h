#pragma once

#include <QFrame>
#include <QTimer>

class QLabel;
class QPushButton;

namespace corvanta {

class Store;

// "Confirm your email": shown to a password account whose address isn't
// confirmed, with a resend button that counts down its minute and "I've
// Confirmed", which asks the server again.
class ConfirmEmailTile : public QFrame {
    Q_OBJECT

public:
    explicit ConfirmEmailTile(Store& store, QWidget* parent = nullptr);

    static inline const QString title = QStringLiteral("Confirm your email");
    // Whether the session is one the tile is for.
    static bool wanted(const Store& store);

    QLabel* text() const { return m_text; }
    QPushButton* resendButton() const { return m_resend; }
    QPushButton* confirmedButton() const { return m_confirmed; }

    // Redraws from the store; the views call it on every change.
    void sync();

private:
    void resend();
    void checkConfirmed();

    Store& m_store;
    QLabel* m_text;
    QPushButton* m_resend;
    QPushButton* m_confirmed;
    // What replaces the invitation after a button: the resend notice or a failure.
    QString m_said;
    // Ticks once a second while the resend button counts down.
    QTimer m_tick;
};

} // namespace corvanta
