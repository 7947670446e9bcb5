#include "account/Account.h"
#include "account/AuthError.h"
#include "model/Store.h"
#include "platform/SecretStore.h"
#include "platform/WebAuthSession.h"

#include <cmath>

#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(accountLog, "corvanta.account")

// Refresh answers that mean the account can't go on without a new sign-in.
bool endsSession(const std::optional<QString>& code)
{
    static const QStringList ended { u"INVALID_REFRESH_TOKEN"_s, u"USER_NOT_FOUND"_s, u"USER_DISABLED"_s,
        u"TOKEN_EXPIRED"_s };
    return code && ended.contains(*code);
}

const QString offline = u"You're offline. Try again in a moment."_s;

} // namespace

void Store::initAccount(const Launch& launch)
{
    m_cloud = CloudConfig::current(launch.value(u"--firebase-config"), m_services.environment);
    m_sessionAccount = Auth::keychainAccount(launch.has(u"--sandbox"), m_cloud);
    // A sign-in callback must reach this copy, with these settings.
    if (const std::optional<QString> sandbox = launch.sandbox())
        m_handlerOptions << u"--sandbox"_s << *sandbox;
    if (const std::optional<QString> file = launch.value(u"--firebase-config"))
        m_handlerOptions << u"--firebase-config"_s << QFileInfo(*file).absoluteFilePath();
    // Without settings the keychain is never touched.
    if (!m_cloud)
        return;
    m_secrets = m_services.secrets;
    if (!m_secrets) {
        m_ownSecrets = SecretStore::create();
        m_secrets = m_ownSecrets.get();
    }
    m_session = Auth::load(*m_secrets, m_sessionAccount);
}

WebAuthSession& Store::webAuth()
{
    if (m_services.webAuth)
        return *m_services.webAuth;
    if (!m_ownWebAuth)
        m_ownWebAuth = WebAuthSession::create(m_services.environment, m_handlerOptions);
    return *m_ownWebAuth;
}

void Store::setSession(std::optional<Session> session)
{
    m_session = std::move(session);
    Q_EMIT sessionChanged();
}

void Store::setSyncError(const std::optional<QString>& error)
{
    if (m_syncError == error)
        return;
    m_syncError = error;
    Q_EMIT syncErrorChanged();
}

void Store::setConfirmationSentAt(const std::optional<QDateTime>& at)
{
    m_confirmationSentAt = at;
    Q_EMIT confirmationSentAtChanged();
}

void Store::setCreatingAccount(bool creating)
{
    if (m_creatingAccount == creating)
        return;
    m_creatingAccount = creating;
    Q_EMIT creatingAccountChanged();
}

QCoro::Task<> Store::signedIn(Session session)
{
    if (!m_secrets)
        co_return;
    setSession(session);
    Auth::save(*m_secrets, m_sessionAccount, session);
    setSyncError(std::nullopt);
    QPointer<Store> self(this);
    const std::optional<Cloud> cloud = co_await liveCloud(false);
    if (!self || !cloud)
        co_return;
    try {
        QCoro::Task<> saving
            = cloud->saveProfile(m_services.net, session.name, session.email, m_services.clock());
        co_await std::move(saving);
    } catch (const Error& error) {
        // The profile is written again at the next sign-in; the library doesn't need it.
        qCInfo(accountLog) << "Couldn't save the profile document:" << error.description();
    }
    if (!self)
        co_return;
    co_await syncLibrary();
}

void Store::signOut()
{
    if (m_secrets)
        Auth::save(*m_secrets, m_sessionAccount, std::nullopt);
    m_animation = Motion::spring(m_reduceMotion);
    setSession(std::nullopt);
    publishLibrary({}, {});
}

QCoro::Task<std::optional<Cloud>> Store::liveCloud(bool forceRefresh)
{
    if (!m_cloud || !m_session)
        co_return std::nullopt;
    const CloudConfig config = *m_cloud;
    const Session session = *m_session;
    if (!forceRefresh && m_services.clock() < session.expires)
        co_return Cloud { config, session };

    QPointer<Store> self(this);
    std::optional<QString> failure;
    bool ended = false;
    try {
        QCoro::Task<Session> refreshing = Auth::refresh(m_services.net, session, config, m_services.clock);
        const Session fresh = co_await std::move(refreshing);
        if (!self)
            co_return std::nullopt;
        Auth::save(*m_secrets, m_sessionAccount, fresh);
        setSession(fresh);
        co_return Cloud { config, fresh };
    } catch (const AuthError& error) {
        ended = endsSession(error.code());
        failure = error.description();
    } catch (const Error& error) {
        failure = error.description();
    }
    if (!self)
        co_return std::nullopt;
    qCInfo(accountLog) << "The session could not be renewed; ended:" << ended;
    if (ended) {
        signOut();
        setSyncError(failure);
    } else {
        setSyncError(
            u"Couldn't reach your library ("_s + *failure + u"). It tries again at the next check."_s);
    }
    co_return std::nullopt;
}

int Store::confirmationWait(const QDateTime& at) const
{
    if (!m_confirmationSentAt)
        return 0;
    const qint64 left = at.msecsTo(m_confirmationSentAt->addSecs(confirmationPause));
    return std::max(0, static_cast<int>(std::ceil(static_cast<double>(left) / 1000.0)));
}

QCoro::Task<> Store::resendEmailConfirmation()
{
    if (!m_session || confirmationWait(m_services.clock()) > 0)
        co_return;
    QPointer<Store> self(this);
    const std::optional<Cloud> cloud = co_await liveCloud(false);
    if (!self)
        co_return;
    if (!cloud)
        throw AuthError(offline);
    setConfirmationSentAt(m_services.clock());
    QCoro::Task<> sending = Auth::sendEmailConfirmation(m_services.net, cloud->session, cloud->config);
    co_await std::move(sending);
}

QCoro::Task<> Store::refreshEmailConfirmation()
{
    if (!m_session || m_session->provider != Auth::PasswordProviderID || m_session->emailVerified == true)
        co_return;
    QPointer<Store> self(this);
    const std::optional<Cloud> cloud = co_await liveCloud(false);
    if (!self || !cloud)
        co_return;
    Auth::Profile profile;
    try {
        QCoro::Task<Auth::Profile> asking = Auth::profile(m_services.net, cloud->session, cloud->config);
        profile = co_await std::move(asking);
    } catch (const Error& error) {
        // The tile asks again when the app comes back; a failed look-up changes nothing.
        qCInfo(accountLog) << "Couldn't look up the email confirmation:" << error.description();
        co_return;
    }
    if (!self || !m_session || !profile.verified || m_session->emailVerified == profile.verified)
        co_return;
    Session confirmed = *m_session;
    confirmed.emailVerified = profile.verified;
    m_animation = Motion::spring(m_reduceMotion);
    Auth::save(*m_secrets, m_sessionAccount, confirmed);
    setSession(std::move(confirmed));
}

QCoro::Task<> Store::deleteAccount()
{
    QPointer<Store> self(this);
    const std::optional<Cloud> cloud = co_await liveCloud(false);
    if (!self)
        co_return;
    if (!cloud)
        throw AuthError(m_syncError.value_or(offline));
    co_await deleteLibrary(*cloud);
    QCoro::Task<> deleting = Auth::deleteAccount(m_services.net, cloud->session, cloud->config);
    co_await std::move(deleting);
    if (self)
        signOut();
}

} // namespace corvanta
