#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace corvanta {

class Store;

// The account part of Settings: who is signed in, Sign Out and Delete
// Account (asked first; its failure shown below the buttons), or a way to
// the sign-in form while signed out.
class AccountSection : public QFrame {
    Q_OBJECT

public:
    explicit AccountSection(Store& store, QWidget* parent = nullptr);

    QLabel* nameLabel() const { return m_name; }
    QLabel* emailLabel() const { return m_email; }
    QLabel* failure() const { return m_failure; }
    QPushButton* signOutButton() const { return m_signOut; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* signInButton() const { return m_signIn; }

Q_SIGNALS:
    // "Sign In…": the main window should show the sign-in form.
    void signInRequested();

private:
    void sync();
    void deleteAccount();

    Store& m_store;
    QLabel* m_name;
    QLabel* m_email;
    QLabel* m_failure;
    QPushButton* m_signOut;
    QPushButton* m_delete;
    QPushButton* m_signIn;
    bool m_deleting = false;
};

} // namespace corvanta
