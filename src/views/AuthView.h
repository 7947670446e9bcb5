#pragma once

#include <QFrame>

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvanta {

class AccountForm;
class Store;

// The sign-in form of the Library list, in its two modes: "Create your
// account" and "Sign in to Corvanta". Email and password, Google in the
// browser, and "Forgot password?".
class AuthView : public QFrame {
    Q_OBJECT

public:
    explicit AuthView(Store& store, QWidget* parent = nullptr);
    ~AuthView() override;

    static inline const QString createTitle = QStringLiteral("Create your account");
    static inline const QString signInTitle = QStringLiteral("Sign in to Corvanta");
    static inline const QString waitingTitle = QStringLiteral("Waiting for your browser…");

    AccountForm& form() const { return *m_form; }
    QLabel* title() const { return m_title; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* emailField() const { return m_email; }
    QLineEdit* passwordField() const { return m_password; }
    QLabel* passwordHint() const { return m_hint; }
    QLabel* message() const { return m_message; }
    QPushButton* submitButton() const { return m_submit; }
    QPushButton* googleButton() const { return m_google; }
    QPushButton* forgotButton() const { return m_forgot; }
    QPushButton* switchButton() const { return m_switch; }
    // The "Waiting for your browser…" prompt while Google sign-in runs.
    QDialog* waitingPrompt() const { return m_waiting; }

private:
    void sync();
    void submit();
    void signInWithGoogle();
    void forgotPassword();

    Store& m_store;
    AccountForm* m_form;
    QLabel* m_title;
    QLabel* m_subtitle;
    QPushButton* m_google;
    QLineEdit* m_name;
    QLineEdit* m_email;
    QLineEdit* m_password;
    QLabel* m_hint;
    QLabel* m_message;
    QPushButton* m_submit;
    QPushButton* m_forgot;
    QPushButton* m_switch;
    QDialog* m_waiting = nullptr;
};

} // namespace corvanta
