#pragma once

#include <optional>

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace corvanta::test {

// One mail the emulator would have sent: a confirmation or a password reset.
struct OobCode {
    QString email;
    QString requestType; // "VERIFY_EMAIL", "PASSWORD_RESET"
    QString oobCode;
};

// The real Firebase Authentication emulator (firebase-tools, installed by
// scripts/setup.sh) on a free port of 127.0.0.1, project "demo-test". The
// constructor returns once it answers HTTP; failing to start fails the test.
class AuthEmulator {
public:
    AuthEmulator();
    ~AuthEmulator(); // stops it
    AuthEmulator(const AuthEmulator&) = delete;
    AuthEmulator& operator=(const AuthEmulator&) = delete;

    bool running() const { return m_process.state() == QProcess::Running; }
    // "127.0.0.1:PORT", as FIREBASE_AUTH_EMULATOR_HOST takes it.
    QString host() const;

    // Every out-of-band code issued since the last clear().
    QList<OobCode> oobCodes();
    // Deletes every account; the codes already issued stay listed.
    void clear();

    static constexpr auto project = "demo-test";
    // Where scripts/setup.sh puts the command; CORVANTA_FIREBASE overrides it.
    static QString command();

private:
    // Sends an administrator request to the emulator and returns the body;
    // none when nothing answered.
    std::optional<QByteArray> admin(const QByteArray& verb, const QString& path);
    bool waitUntilAnswering();

    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace corvanta::test
