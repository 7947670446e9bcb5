#include "model/AccountForm.h"

#include "account/Account.h"
#include "account/AuthError.h"
#include "account/GoogleSignIn.h"
#include "model/Store.h"
#include "platform/WebAuthSession.h"

#include <QPointer>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvanta {

AccountForm::AccountForm(Store& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
}

bool AccountForm::validEmail(const QString& email)
{
    static const QRegularExpression pattern(u"^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"_s);
    return pattern.match(email).hasMatch();
}

QString AccountForm::passwordHint(const QString& password)
{
    return password.size() >= minimumPassword ? u"Password looks good"_s : u"At least 6 characters"_s;
}

bool AccountForm::canSubmit() const
{
    return validEmail(email) && password.size() >= minimumPassword
        && (!m_store.creatingAccount() || !name.trimmed().isEmpty()) && !m_submitting;
}

void AccountForm::setMessage(std::optional<QString> message)
{
    m_message = std::move(message);
    Q_EMIT changed();
}

QCoro::Task<bool> AccountForm::submit()
{
    if (!canSubmit() || !m_store.cloud())
        co_return false;
    m_submitting = true;
    setMessage(std::nullopt);
    QPointer<AccountForm> self(this);
    bool signedIn = false;
    try {
        if (m_store.creatingAccount())
            co_await signUp();
        else
            co_await signIn();
        signedIn = true;
    } catch (const Error& error) {
        if (self)
            setMessage(error.description());
    }
    if (self) {
        m_submitting = false;
        Q_EMIT changed();
    }
    co_return signedIn;
}

QCoro::Task<> AccountForm::signUp()
{
    Store& store = m_store;
    Net& net = store.services().net;
    const CloudConfig config = *store.cloud();
    const auto now = store.services().clock;
    // Read before the first suspension: the form may be closed meanwhile.
    const QString trimmed = name.trimmed();
    QCoro::Task<Session> making = Auth::signUp(net, email, password, config, now);
    Session session = co_await std::move(making);
    session.emailVerified = false;
    try {
        QCoro::Task<> confirming = Auth::sendEmailConfirmation(net, session, config);
        co_await std::move(confirming);
    } catch (const Error&) {
        // The account stands without the mail; the tile offers to resend it.
    }
    if (!trimmed.isEmpty()) {
        try {
            QCoro::Task<> naming = Auth::updateName(net, session, trimmed, config);
            co_await std::move(naming);
        } catch (const Error&) {
            // The name is kept in the session whatever the server made of it.
        }
        session.name = trimmed;
    }
    store.setConfirmationSentAt(now());
    co_await store.signedIn(std::move(session));
}

QCoro::Task<> AccountForm::signIn()
{
    Store& store = m_store;
    Net& net = store.services().net;
    const CloudConfig config = *store.cloud();
    QCoro::Task<Session> signing
        = Auth::signInWithPassword(net, email, password, config, store.services().clock);
    Session session = co_await std::move(signing);
    try {
        QCoro::Task<Auth::Profile> asking = Auth::profile(net, session, config);
        const Auth::Profile profile = co_await std::move(asking);
        if (!session.name)
            session.name = profile.name;
        session.emailVerified = profile.verified;
    } catch (const Error&) {
        // The profile only adds the name and the confirmation; sign in without them.
    }
    co_await store.signedIn(std::move(session));
}

QCoro::Task<bool> AccountForm::forgotPassword()
{
    if (!validEmail(email)) {
        setMessage(u"Enter your email above, then choose Forgot password."_s);
        co_return false;
    }
    if (!m_store.cloud())
        co_return false;
    const QString address = email;
    QPointer<AccountForm> self(this);
    std::optional<QString> message;
    bool sent = false;
    try {
        QCoro::Task<> sending = Auth::sendPasswordReset(m_store.services().net, address, *m_store.cloud());
        co_await std::move(sending);
        message = u"If "_s + address + u" has an account, a reset link is on its way."_s;
        sent = true;
    } catch (const Error& error) {
        message = error.description();
    }
    if (self)
        setMessage(message);
    co_return sent;
}

QString AccountForm::googleTitle() const
{
    return m_store.creatingAccount() ? u"Sign up with Google"_s : u"Continue with Google"_s;
}

QCoro::Task<bool> AccountForm::signInWithGoogle()
{
    if (m_submitting || !m_store.cloud())
        co_return false;
    Store& store = m_store;
    const CloudConfig config = *store.cloud();
    m_submitting = true;
    m_waitingForBrowser = true;
    setMessage(std::nullopt);
    QPointer<AccountForm> self(this);
    std::optional<QString> failure;
    bool signedIn = false;
    try {
        GoogleSignIn google(store.services().net, store.webAuth(), config.google);
        QCoro::Task<QString> asking = google.idToken(config.googleClientID);
        const QString token = co_await std::move(asking);
        if (self) {
            m_waitingForBrowser = false;
            Q_EMIT changed();
        }
        QCoro::Task<Session> signing
            = Auth::signIn(store.services().net, token, config, store.services().clock);
        Session session = co_await std::move(signing);
        co_await store.signedIn(std::move(session));
        signedIn = true;
    } catch (const WebAuthCancelled&) {
        // The user closed the prompt: nothing to say.
    } catch (const Error& error) {
        failure = error.description();
    }
    if (self) {
        m_submitting = false;
        m_waitingForBrowser = false;
        setMessage(failure);
    }
    co_return signedIn;
}

void AccountForm::cancelGoogle()
{
    if (m_waitingForBrowser)
        m_store.webAuth().cancel();
}

} // namespace corvanta
