#pragma once

#include "account/CloudConfig.h"
#include "account/Session.h"

#include <functional>
#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUrl>

namespace corvanta {

class Net;
class SecretStore;

// The account client: Firebase Authentication over its REST interface, every
// request a POST through the process's one HTTP session. Errors the server
// states become AuthError; transport failures are thrown as Error.
class Auth {
public:
    Auth() = delete;

    // Firebase Authentication's provider identifier for Google sign-in.
    static inline const QString GoogleProviderID = QStringLiteral("google.com");

    // When "now" is: the moment an answer arrived. Tests pass a fixed one.
    using Now = std::function<QDateTime()>;
    static QDateTime systemNow();

    struct Profile {
        std::optional<QString> name;
        std::optional<bool> verified;
    };

    // POSTs `body` and returns the answer as an object (empty when it isn't
    // one); a status outside 2xx throws AuthError::firebase of its message.
    static QCoro::Task<QJsonObject> send(Net& net, QUrl url, QByteArray body, QByteArray contentType);
    static QCoro::Task<QJsonObject> send(Net& net, QUrl url, QJsonObject body);

    static QCoro::Task<Session> signUp(
        Net& net, QString email, QString password, CloudConfig config, Now now = systemNow);
    // Sets the display name after sign-up.
    static QCoro::Task<> updateName(Net& net, Session session, QString name, CloudConfig config);
    static QCoro::Task<Session> signInWithPassword(
        Net& net, QString email, QString password, CloudConfig config, Now now = systemNow);
    static QCoro::Task<Session> signIn(
        Net& net, QString googleIDToken, CloudConfig config, Now now = systemNow);
    // A copy of `session` with new tokens and expiry.
    static QCoro::Task<Session> refresh(Net& net, Session session, CloudConfig config, Now now = systemNow);
    static QCoro::Task<Profile> profile(Net& net, Session session, CloudConfig config);
    static QCoro::Task<> sendEmailConfirmation(Net& net, Session session, CloudConfig config);
    // Succeeds for an address without an account too, so as not to tell.
    static QCoro::Task<> sendPasswordReset(Net& net, QString email, CloudConfig config);
    static QCoro::Task<> deleteAccount(Net& net, Session session, CloudConfig config);

    // The session a sign-in answer describes.
    static Session session(const QJsonObject& answer, const QString& provider, const QDateTime& now);

    static inline const QString PasswordProviderID = QStringLiteral("password");

    // The keychain item the session lives in. Sandboxed and emulated runs keep
    // theirs apart, so a test never signs the user's own account out.
    static inline const QString keychainService = QStringLiteral("com.brenmoral.corvanta.account");
    static QString keychainAccount(bool sandboxed, const std::optional<CloudConfig>& config);

    // The stored session; none for anything but a readable item that decodes as one.
    static std::optional<Session> load(SecretStore& secrets, const QString& account);
    // Deletes the item, then adds `session` anew when there is one.
    static void save(SecretStore& secrets, const QString& account, const std::optional<Session>& session);
};

} // namespace corvanta
