#pragma once

#include "account/Account.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "platform/HostInfo.h"
#include "platform/SecretStore.h"
#include "sources/Net.h"
#include "support/Unsigned.h"

#include <QHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>

namespace corvanta::test {

// The keychain as a table: the views' tests are about what the window shows
// for a session, not about the keyring, which has tests of its own.
class TableSecrets : public SecretStore {
public:
    std::optional<QByteArray> read(const QString& service, const QString& account) override
    {
        const auto it = items.constFind(service + u'/' + account);
        return it == items.cend() ? std::nullopt : std::optional(*it);
    }
    bool write(const QString& service, const QString& account, const QByteArray& data) override
    {
        items.insert(service + u'/' + account, data);
        return true;
    }
    bool remove(const QString& service, const QString& account) override
    {
        items.remove(service + u'/' + account);
        return true;
    }
    QHash<QString, QByteArray> items;
};

// A store with account settings (or none) and, when given, a session already
// in the keychain, as after a restart. Nothing in it reaches a server: the
// hosts are a closed loopback port.
struct AccountScene {
    explicit AccountScene(std::optional<Session> session, bool configured = true)
    {
        QFile file(folder.filePath(QStringLiteral("firebase.json")));
        if (configured && file.open(QIODevice::WriteOnly))
            file.write(R"({"apiKey":"k","projectId":"p","googleClientID":"a.b.c"})");
        file.close();
        prefs = std::make_unique<Prefs>(
            std::make_unique<QSettings>(folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat),
            Launch());
        prefs->setOnboarded(true);
        if (session)
            secrets.write(Auth::keychainService, QStringLiteral("session-test"), session->toJson());
        StoreServices services { net, codeSigning, host, *prefs };
        services.clock = [this] { return now; };
        services.secrets = &secrets;
        services.environment.insert(
            QStringLiteral("FIREBASE_AUTH_EMULATOR_HOST"), QStringLiteral("127.0.0.1:9"));
        services.environment.insert(QStringLiteral("FIRESTORE_EMULATOR_HOST"), QStringLiteral("127.0.0.1:9"));
        store = std::make_unique<Store>(services,
            Launch({ QStringLiteral("--firebase-config"), file.fileName(), QStringLiteral("--sandbox"),
                folder.filePath(QStringLiteral("Applications")) }));
    }

    static Session password(std::optional<bool> verified)
    {
        return Session { .uid = QStringLiteral("u1"),
            .email = QStringLiteral("ada@example.com"),
            .idToken = QStringLiteral("i"),
            .refreshToken = QStringLiteral("r"),
            .expires = QDateTime::fromSecsSinceEpoch(4'000'000'000, QTimeZone::utc()),
            .provider = Auth::PasswordProviderID,
            .name = QStringLiteral("Ada"),
            .emailVerified = verified };
    }

    QTemporaryDir folder;
    QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, QTimeZone::utc());
    Net net;
    Unsigned codeSigning;
    FixedHostInfo host { { 15, 0, 0 }, true };
    TableSecrets secrets;
    std::unique_ptr<Prefs> prefs;
    std::unique_ptr<Store> store;
};

} // namespace corvanta::test
