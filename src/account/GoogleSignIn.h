#pragma once

#include "account/CloudConfig.h"

#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvanta {

class Net;
class WebAuthSession;

// The values of one PKCE flow, each URL-safe Base64 without padding.
struct Pkce {
    QString verifier; // 48 random bytes: 64 characters
    QString challenge; // SHA-256 of the verifier: 43 characters
    QString state; // 16 random bytes: 22 characters

    static Pkce generate();
    static QString challengeFor(const QString& verifier);
    static QString urlSafeBase64(const QByteArray& bytes);
};

// Google sign-in: OAuth 2.0 authorization code with PKCE in the system
// browser, then the code exchanged for a Google ID token. One object per flow.
class GoogleSignIn {
public:
    GoogleSignIn(Net& net, WebAuthSession& session, GoogleEndpoints endpoints = {});

    // Runs the whole Google part and returns the ID token. Throws
    // WebAuthCancelled when the user closed the web sign-in, AuthError for
    // every other refusal.
    QCoro::Task<QString> idToken(QString clientID);

    // The client id's dot-separated parts in reverse order.
    static QString callbackScheme(const QString& clientID);
    static QString redirectURI(const QString& clientID);
    // The callback URL when a launch's only argument is one of `clientID`'s
    // scheme: the desktop's scheme handler started a copy to hand it over.
    static std::optional<QUrl> callbackArgument(const QStringList& arguments, const QString& clientID);
    static QUrl authorizationURL(const QUrl& endpoint, const QString& clientID, const Pkce& pkce);
    // The code of a callback carrying `state`; throws AuthError otherwise.
    static QString code(const QUrl& callback, const QString& state);
    static QByteArray tokenRequestBody(const QString& code, const QString& clientID, const QString& verifier);
    // Percent-encodes everything but ASCII letters and digits.
    static QByteArray formEncoded(const QString& value);

private:
    QCoro::Task<QString> exchange(QString code, QString clientID, QString verifier);

    Net& m_net;
    WebAuthSession& m_session;
    GoogleEndpoints m_endpoints;
};

} // namespace corvanta
