#pragma once

#include "account/Account.h"
#include "account/Cloud.h"
#include "sources/Net.h"
#include "support/AuthEmulator.h"
#include "support/Await.h"
#include "support/FirestoreEmulator.h"

#include <memory>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTimeZone>

#include <gtest/gtest.h>

// Whole documents in GoogleTest's failure messages.
inline void PrintTo(const QJsonObject& object, std::ostream* os)
{
    *os << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

namespace corvanta::test {

// The program's emulators, started once before the first test.
class EmulatorsEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        s_auth = std::make_unique<AuthEmulator>();
        s_firestore = std::make_unique<FirestoreEmulator>();
    }
    void TearDown() override
    {
        s_firestore.reset();
        s_auth.reset();
    }
    static AuthEmulator& auth() { return *s_auth; }
    static FirestoreEmulator& firestore() { return *s_firestore; }

private:
    static inline std::unique_ptr<AuthEmulator> s_auth;
    static inline std::unique_ptr<FirestoreEmulator> s_firestore;
};

// Registered by one test file of the program.
inline void registerEmulators()
{
    testing::AddGlobalTestEnvironment(new EmulatorsEnvironment);
}

// A fixed "now", so written times are exact: 2027-01-15 08:00:00 UTC.
inline const QDateTime fixedNow = QDateTime::fromSecsSinceEpoch(1'800'000'000, QTimeZone::utc());

// A test against both emulators, which start it with no accounts and no documents.
class EmulatedLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(auth().running() && firestore().running());
        auth().clear();
        firestore().clear();
    }

    static AuthEmulator& auth() { return EmulatorsEnvironment::auth(); }
    static FirestoreEmulator& firestore() { return EmulatorsEnvironment::firestore(); }

    // Both emulators, as the program finds them in its environment.
    static QProcessEnvironment emulators()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("FIREBASE_AUTH_EMULATOR_HOST"), auth().host());
        environment.insert(QStringLiteral("FIRESTORE_EMULATOR_HOST"), firestore().host());
        return environment;
    }
    static CloudConfig config()
    {
        CloudConfig config { .apiKey = QStringLiteral("demo-key"), .projectId = QStringLiteral("demo-test") };
        config.applyEmulator(emulators());
        return config;
    }

    // A new account's library client.
    Cloud signUp(const QString& email)
    {
        return { config(), await(Auth::signUp(net, email, QStringLiteral("secret1"), config())) };
    }

    // The plain fields of one of `cloud`'s documents ("apps/x", "devices/d", "" for the user's own).
    QJsonObject stored(const Cloud& cloud, const QString& path)
    {
        return firestore().fields(cloud.userPath() + (path.isEmpty() ? QString() : u'/' + path));
    }

    Net net;
};

} // namespace corvanta::test
