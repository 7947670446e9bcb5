#pragma once

#include <QProcess>
#include <QString>

namespace corvanta::test {

// Stops an emulator politely, then for good: the Java and Node emulators
// save nothing worth waiting longer for.
inline void stopEmulator(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(15'000)) {
        process.kill();
        process.waitForFinished();
    }
}

// "127.0.0.1:PORT", as the *_EMULATOR_HOST variables take it.
inline QString emulatorHost(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace corvanta::test
