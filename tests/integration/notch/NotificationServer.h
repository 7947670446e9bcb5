#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace corvanta::test {

// A freedesktop notification server that records what it is sent, or
// refuses it, on whichever bus the test registers it.
class NotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Received {
        QString appName;
        uint replacesId = 0;
        QString summary;
        QString body;
        uint id = 0; // the number answered
    };

    // Takes the server's name and object path on `connection`.
    bool registerOn(QDBusConnection connection);

    QList<Received> received;
    bool refuse = false;
    int pings = 0;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
        const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);
    QStringList GetCapabilities();
    QString GetServerInformation(QString& vendor, QString& version, QString& protocolVersion);
    void CloseNotification(uint id);

private:
    uint m_next = 1;
};

} // namespace corvanta::test
