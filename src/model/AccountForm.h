#pragma once

#include <optional>

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

namespace corvanta {

class Store;

// The email and password sign-in form: what it may submit and what its two
// modes ("Create your account", "Sign in to Corvanta", as the store's
// creatingAccount says) and its "Forgot password?" button do.
class AccountForm : public QObject {
    Q_OBJECT

public:
    explicit AccountForm(Store& store, QObject* parent = nullptr);

    QString email;
    QString password;
    QString name; // create mode only

    static bool validEmail(const QString& email);
    static constexpr int minimumPassword = 6;
    // "At least 6 characters" until the password is long enough.
    static QString passwordHint(const QString& password);
    bool canSubmit() const;
    bool submitting() const { return m_submitting; }
    // What the form shows under its fields: a failure or the reset notice.
    const std::optional<QString>& message() const { return m_message; }

    // Signs up or in and hands the session to the store; true when signed in.
    // A failure is left in message().
    QCoro::Task<bool> submit();
    // Sends a password reset to `email`; message() says what happened. True
    // when the server took it.
    QCoro::Task<bool> forgotPassword();
    // "Continue with Google": the browser flow, then Firebase; true when
    // signed in. Closing the browser prompt (cancelGoogle) shows nothing.
    QCoro::Task<bool> signInWithGoogle();
    // While true the form shows "Waiting for your browser…".
    bool waitingForBrowser() const { return m_waitingForBrowser; }
    void cancelGoogle();
    // The Google button's title in the current mode.
    QString googleTitle() const;

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<> signUp();
    QCoro::Task<> signIn();
    void setMessage(std::optional<QString> message);

    Store& m_store;
    bool m_submitting = false;
    bool m_waitingForBrowser = false;
    std::optional<QString> m_message;
};

} // namespace corvanta
