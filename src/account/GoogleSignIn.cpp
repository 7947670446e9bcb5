#include "account/GoogleSignIn.h"

#include "account/AuthError.h"
#include "platform/WebAuthSession.h"
#include "sources/Net.h"

#include <QCoro/QCoroNetworkReply>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QUrlQuery>

#include <openssl/rand.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QByteArray secureRandom(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1)
        throw AuthError(u"Google sign-in couldn't start: this computer gave no secure random numbers."_s);
    return bytes;
}

} // namespace

Pkce Pkce::generate()
{
    Pkce pkce;
    pkce.verifier = urlSafeBase64(secureRandom(48));
    pkce.challenge = challengeFor(pkce.verifier);
    pkce.state = urlSafeBase64(secureRandom(16));
    return pkce;
}

QString Pkce::challengeFor(const QString& verifier)
{
    return urlSafeBase64(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QString Pkce::urlSafeBase64(const QByteArray& bytes)
{
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

GoogleSignIn::GoogleSignIn(Net& net, WebAuthSession& session, GoogleEndpoints endpoints)
    : m_net(net)
    , m_session(session)
    , m_endpoints(std::move(endpoints))
{
}

QCoro::Task<QString> GoogleSignIn::idToken(QString clientID)
{
    if (clientID.isEmpty())
        throw AuthError(u"Google sign-in isn't switched on for Corvanta yet."_s);
    const Pkce pkce = Pkce::generate();
    const QUrl url = authorizationURL(m_endpoints.authorization, clientID, pkce);
    QUrl callback;
    try {
        callback = co_await m_session.start(url, callbackScheme(clientID));
    } catch (const WebAuthCancelled&) {
        throw;
    } catch (const Error&) {
        throw AuthError(u"Google sign-in didn't finish."_s);
    }
    if (callback.isEmpty())
        throw AuthError(u"Google sign-in didn't finish."_s);
    co_return co_await exchange(code(callback, pkce.state), clientID, pkce.verifier);
}

QString GoogleSignIn::callbackScheme(const QString& clientID)
{
    QStringList parts = clientID.split(u'.');
    std::reverse(parts.begin(), parts.end());
    return parts.join(u'.');
}

QString GoogleSignIn::redirectURI(const QString& clientID)
{
    return callbackScheme(clientID) + u":/oauth2redirect"_s;
}

std::optional<QUrl> GoogleSignIn::callbackArgument(const QStringList& arguments, const QString& clientID)
{
    if (clientID.isEmpty() || arguments.size() != 1)
        return std::nullopt;
    const QUrl url(arguments.first(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(callbackScheme(clientID), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return url;
}

QUrl GoogleSignIn::authorizationURL(const QUrl& endpoint, const QString& clientID, const Pkce& pkce)
{
    QUrlQuery query;
    query.setQueryItems({
        { u"client_id"_s, clientID },
        { u"redirect_uri"_s, redirectURI(clientID) },
        { u"response_type"_s, u"code"_s },
        { u"scope"_s, u"openid email profile"_s },
        { u"code_challenge"_s, pkce.challenge },
        { u"code_challenge_method"_s, u"S256"_s },
        { u"state"_s, pkce.state },
        { u"prompt"_s, u"select_account"_s },
    });
    QUrl url = endpoint;
    url.setQuery(query);
    return url;
}

QString GoogleSignIn::code(const QUrl& callback, const QString& state)
{
    const QUrlQuery query(callback);
    if (!query.hasQueryItem(u"state"_s) || query.queryItemValue(u"state"_s, QUrl::FullyDecoded) != state
        || !query.hasQueryItem(u"code"_s))
        throw AuthError(u"Google sign-in returned an unexpected answer."_s);
    return query.queryItemValue(u"code"_s, QUrl::FullyDecoded);
}

QByteArray GoogleSignIn::formEncoded(const QString& value)
{
    // Unreserved marks are encoded too: only letters and digits stay literal.
    return QUrl::toPercentEncoding(value, {}, QByteArrayLiteral("-._~"));
}

QByteArray GoogleSignIn::tokenRequestBody(
    const QString& code, const QString& clientID, const QString& verifier)
{
    const std::pair<QByteArray, QString> pairs[] = {
        { "code", code },
        { "client_id", clientID },
        { "redirect_uri", redirectURI(clientID) },
        { "grant_type", u"authorization_code"_s },
        { "code_verifier", verifier },
    };
    QByteArrayList written;
    for (const auto& [name, value] : pairs)
        written.append(name + '=' + formEncoded(value));
    return written.join('&');
}

QCoro::Task<QString> GoogleSignIn::exchange(QString code, QString clientID, QString verifier)
{
    QNetworkRequest request(m_endpoints.token);
    request.setTransferTimeout(Net::requestTimeoutMs);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    const QByteArray body = tokenRequestBody(code, clientID, verifier);
    ReplyPtr reply(co_await m_net.session().post(request, body));
    // Google's refusals are JSON too, without "id_token": only a missing
    // answer is a transport failure.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        throw Error(Net::failureText(*reply));
    QJsonParseError parsed;
    const QJsonDocument answer = QJsonDocument::fromJson(reply->readAll(), &parsed);
    if (parsed.error != QJsonParseError::NoError)
        throw AuthError(u"Google's answer to the sign-in couldn't be read."_s);
    const QJsonValue token = answer.object().value(u"id_token"_s);
    if (!token.isString())
        throw AuthError(u"Google didn't return a sign-in token."_s);
    co_return token.toString();
}

} // namespace corvanta
