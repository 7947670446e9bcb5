#include "account/Account.h"

#include "account/AuthError.h"
#include "platform/SecretStore.h"
#include "sources/Net.h"

#include <QCoro/QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// "expiresIn" and "expires_in" are strings of seconds, "3600" when missing.
QDateTime expiry(const QJsonObject& answer, const QString& key, const QDateTime& now, int fallbackSeconds)
{
    bool ok = false;
    const double seconds = answer.value(key).toString(u"3600"_s).toDouble(&ok);
    if (!ok)
        return now.addSecs(fallbackSeconds);
    return now.addMSecs(qRound64((seconds - 120) * 1000.0));
}

std::optional<QString> nonEmptyString(const QJsonValue& value)
{
    if (value.isString() && !value.toString().isEmpty())
        return value.toString();
    return std::nullopt;
}

} // namespace

QDateTime Auth::systemNow()
{
    return QDateTime::currentDateTimeUtc();
}

QCoro::Task<QJsonObject> Auth::send(Net& net, QUrl url, QByteArray body, QByteArray contentType)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(Net::requestTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    ReplyPtr reply(co_await net.session().post(request, body));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw Error(Net::failureText(*reply));
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    const int code = status.toInt();
    if (code < 200 || code > 299) {
        const QJsonValue message = answer.value(u"error"_s).toObject().value(u"message"_s);
        throw AuthError::firebase(message.isString() ? message.toString() : u"HTTP %1"_s.arg(code));
    }
    // A 2xx whose body broke off is a transport failure, not a short answer.
    if (reply->error() != QNetworkReply::NoError)
        throw Error(Net::failureText(*reply));
    co_return answer;
}

QCoro::Task<QJsonObject> Auth::send(Net& net, QUrl url, QJsonObject body)
{
    return send(net, std::move(url), QJsonDocument(body).toJson(QJsonDocument::Compact),
        QByteArrayLiteral("application/json"));
}

// The bodies are built before co_await: GCC 12 can't keep an initializer
// list alive across a suspension.

QCoro::Task<Session> Auth::signUp(Net& net, QString email, QString password, CloudConfig config, Now now)
{
    const QJsonObject body { { u"email"_s, email }, { u"password"_s, password },
        { u"returnSecureToken"_s, true } };
    const QJsonObject answer = co_await send(net, config.identity(u"signUp"_s), body);
    co_return session(answer, PasswordProviderID, now());
}

QCoro::Task<> Auth::updateName(Net& net, Session session, QString name, CloudConfig config)
{
    const QJsonObject body { { u"idToken"_s, session.idToken }, { u"displayName"_s, name },
        { u"returnSecureToken"_s, false } };
    co_await send(net, config.identity(u"update"_s), body);
}

QCoro::Task<Session> Auth::signInWithPassword(
    Net& net, QString email, QString password, CloudConfig config, Now now)
{
    const QJsonObject body { { u"email"_s, email }, { u"password"_s, password },
        { u"returnSecureToken"_s, true } };
    const QJsonObject answer = co_await send(net, config.identity(u"signInWithPassword"_s), body);
    co_return session(answer, PasswordProviderID, now());
}

QCoro::Task<Session> Auth::signIn(Net& net, QString googleIDToken, CloudConfig config, Now now)
{
    const QJsonObject body {
        { u"postBody"_s, QString(u"id_token="_s + googleIDToken + u"&providerId="_s + GoogleProviderID) },
        { u"requestUri"_s, u"http://localhost"_s },
        { u"returnSecureToken"_s, true },
        { u"returnIdpCredential"_s, true },
    };
    const QJsonObject answer = co_await send(net, config.identity(u"signInWithIdp"_s), body);
    Session signedIn = session(answer, GoogleProviderID, now());
    // Google has confirmed the address already.
    signedIn.emailVerified = true;
    co_return signedIn;
}

QCoro::Task<Session> Auth::refresh(Net& net, Session session, CloudConfig config, Now now)
{
    const QJsonObject answer = co_await send(net, config.tokenURL(),
        "grant_type=refresh_token&refresh_token=" + session.refreshToken.toUtf8(),
        "application/x-www-form-urlencoded");
    const QJsonValue idToken = answer.value(u"id_token"_s);
    const QJsonValue refreshToken = answer.value(u"refresh_token"_s);
    if (!idToken.isString() || !refreshToken.isString())
        throw AuthError(u"Couldn't refresh your session."_s);
    session.idToken = idToken.toString();
    session.refreshToken = refreshToken.toString();
    session.expires = expiry(answer, u"expires_in"_s, now(), 3400);
    co_return session;
}

QCoro::Task<Auth::Profile> Auth::profile(Net& net, Session session, CloudConfig config)
{
    const QJsonObject body { { u"idToken"_s, session.idToken } };
    const QJsonObject answer = co_await send(net, config.identity(u"lookup"_s), body);
    const QJsonObject user = answer.value(u"users"_s).toArray().at(0).toObject();
    Profile profile;
    profile.name = nonEmptyString(user.value(u"displayName"_s));
    if (const QJsonValue verified = user.value(u"emailVerified"_s); verified.isBool())
        profile.verified = verified.toBool();
    co_return profile;
}

QCoro::Task<> Auth::sendEmailConfirmation(Net& net, Session session, CloudConfig config)
{
    const QJsonObject body { { u"requestType"_s, u"VERIFY_EMAIL"_s }, { u"idToken"_s, session.idToken } };
    co_await send(net, config.identity(u"sendOobCode"_s), body);
}

QCoro::Task<> Auth::sendPasswordReset(Net& net, QString email, CloudConfig config)
{
    const QJsonObject body { { u"requestType"_s, u"PASSWORD_RESET"_s }, { u"email"_s, email } };
    try {
        co_await send(net, config.identity(u"sendOobCode"_s), body);
    } catch (const AuthError& error) {
        if (error.code() != u"EMAIL_NOT_FOUND"_s)
            throw;
    }
}

QCoro::Task<> Auth::deleteAccount(Net& net, Session session, CloudConfig config)
{
    const QJsonObject body { { u"idToken"_s, session.idToken } };
    co_await send(net, config.identity(u"delete"_s), body);
}

Session Auth::session(const QJsonObject& answer, const QString& provider, const QDateTime& now)
{
    const QJsonValue uid = answer.value(u"localId"_s);
    const QJsonValue idToken = answer.value(u"idToken"_s);
    const QJsonValue refreshToken = answer.value(u"refreshToken"_s);
    if (!uid.isString() || !idToken.isString() || !refreshToken.isString())
        throw AuthError(u"Sign-in failed: the server's answer was incomplete."_s);
    Session session;
    session.uid = uid.toString();
    session.email = answer.value(u"email"_s).toString();
    session.idToken = idToken.toString();
    session.refreshToken = refreshToken.toString();
    session.expires = expiry(answer, u"expiresIn"_s, now, 3480);
    session.provider = provider;
    session.name = nonEmptyString(answer.value(u"displayName"_s));
    if (!session.name)
        session.name = nonEmptyString(answer.value(u"fullName"_s));
    return session;
}

QString Auth::keychainAccount(bool sandboxed, const std::optional<CloudConfig>& config)
{
    return sandboxed || (config && config->emulated) ? u"session-test"_s : u"session"_s;
}

std::optional<Session> Auth::load(SecretStore& secrets, const QString& account)
{
    const std::optional<QByteArray> data = secrets.read(keychainService, account);
    return data ? Session::fromJson(*data) : std::nullopt;
}

void Auth::save(SecretStore& secrets, const QString& account, const std::optional<Session>& session)
{
    // A keychain that fails reads as signed out at the next start; nothing more to do here.
    secrets.remove(keychainService, account);
    if (session)
        secrets.write(keychainService, account, session->toJson());
}

} // namespace corvanta
