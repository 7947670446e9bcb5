#pragma once

#include "account/AuthError.h"
#include "account/CloudConfig.h"
#include "sources/Net.h"
#include "support/AuthEmulator.h"
#include "support/Await.h"

#include <memory>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace corvanta::test {

// Settings as the program reads them with FIREBASE_AUTH_EMULATOR_HOST=`host`.
inline CloudConfig emulatedConfig(const QString& host)
{
    CloudConfig config { .apiKey = QStringLiteral("demo-key"), .projectId = QStringLiteral("demo-test") };
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("FIREBASE_AUTH_EMULATOR_HOST"), host);
    config.applyEmulator(environment);
    return config;
}

// A fixed "now", so expiry times are exact.
inline const QDateTime fixedNow = QDateTime::fromSecsSinceEpoch(1'800'000'000, QTimeZone::utc());

// "CODE | description" of the AuthError `task` throws ("-" for no code), or
// "" when it succeeds.
template<typename T> QString authFailure(QCoro::Task<T> task)
{
    try {
        await(std::move(task));
        return {};
    } catch (const AuthError& error) {
        return error.code().value_or(QStringLiteral("-")) + QStringLiteral(" | ") + error.description();
    }
}

// An unsigned Google ID token for `email`, which the emulator takes at its word.
inline QString unsignedGoogleToken(const QString& email, const QString& clientID)
{
    const auto part = [](const QJsonObject& object) {
        // base64url without padding, as JWTs write their parts.
        return QJsonDocument(object)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    const QJsonObject claims { { QStringLiteral("sub"), QString(QStringLiteral("google-") + email) },
        { QStringLiteral("email"), email }, { QStringLiteral("email_verified"), true },
        { QStringLiteral("iss"), QStringLiteral("https://accounts.google.com") },
        { QStringLiteral("aud"), clientID } };
    return QString::fromLatin1(part({ { QStringLiteral("alg"), QStringLiteral("none") },
                                   { QStringLiteral("typ"), QStringLiteral("JWT") } })
        + '.' + part(claims) + '.');
}

// The program's one Authentication emulator, started before the first test.
class AuthEmulatorEnvironment : public testing::Environment {
public:
    void SetUp() override { s_emulator = std::make_unique<AuthEmulator>(); }
    void TearDown() override { s_emulator.reset(); }
    static AuthEmulator& emulator() { return *s_emulator; }

private:
    static inline std::unique_ptr<AuthEmulator> s_emulator;
};

// A test against the emulator, which starts it empty.
class EmulatedAuth : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(emulator().running());
        emulator().clear();
    }

    static AuthEmulator& emulator() { return AuthEmulatorEnvironment::emulator(); }
    static CloudConfig config() { return emulatedConfig(emulator().host()); }

    Net net;
};

} // namespace corvanta::test
