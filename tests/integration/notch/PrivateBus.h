#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace corvanta::test {

// A D-Bus daemon of the test's own, never the machine's bus: started on
// construction, stopped with every connection to it on destruction.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
        if (!m_daemon.waitForStarted(5000)) {
            ADD_FAILURE() << "dbus-daemon did not start";
            return;
        }
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) { }
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty())
            ADD_FAILURE() << "dbus-daemon printed no address";
    }
    ~PrivateBus()
    {
        for (const QString& name : std::as_const(m_names))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return m_address; }

    // A new connection to this bus, as a separate client.
    QDBusConnection connect()
    {
        const QString name = QStringLiteral("corvanta-test-%1-%2").arg(quintptr(this)).arg(m_names.size());
        m_names << name;
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, name);
        EXPECT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
        return connection;
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace corvanta::test
