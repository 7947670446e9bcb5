#pragma once

#include "demo/Emulators.h"

#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvanta::test {

// One mail the emulator would have sent: a confirmation or a password reset.
struct OobCode {
    QString email;
    QString requestType; // "VERIFY_EMAIL", "PASSWORD_RESET"
    QString oobCode;
};

// The demo's Authentication emulator with the administrator requests tests
// make. The constructor returns once it serves; failing to start fails the test.
class AuthEmulator {
public:
    AuthEmulator();
    ~AuthEmulator(); // stops it
    AuthEmulator(const AuthEmulator&) = delete;
    AuthEmulator& operator=(const AuthEmulator&) = delete;

    bool running() const { return m_emulator.running(); }
    // "127.0.0.1:PORT", as FIREBASE_AUTH_EMULATOR_HOST takes it.
    QString host() const { return m_emulator.host(); }

    // Every out-of-band code issued since the last clear().
    QList<OobCode> oobCodes();
    // Deletes every account; the codes already issued stay listed.
    void clear();

    static constexpr auto project = demo::Emulator::project;
    static QString command() { return demo::Emulator::firebaseCommand(); }

private:
    // Sends an administrator request to the emulator and returns the body;
    // none when nothing answered.
    std::optional<QByteArray> admin(const QByteArray& verb, const QString& path);

    demo::Emulator m_emulator { demo::Emulator::Kind::authentication };
};

} // namespace corvanta::test
