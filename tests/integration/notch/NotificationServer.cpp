#include "integration/notch/NotificationServer.h"

#include <QDBusError>

using namespace Qt::StringLiterals;

namespace corvanta::test {

bool NotificationServer::registerOn(QDBusConnection connection)
{
    return connection.registerObject(
               u"/org/freedesktop/Notifications"_s, this, QDBusConnection::ExportAllSlots)
        && connection.registerService(u"org.freedesktop.Notifications"_s);
}

uint NotificationServer::Notify(const QString& appName, uint replacesId, const QString&,
    const QString& summary, const QString& body, const QStringList&, const QVariantMap&, int)
{
    if (refuse) {
        sendErrorReply(QDBusError::AccessDenied, u"Notifications are off."_s);
        return 0;
    }
    // Like the common servers: a replacement keeps its number.
    const uint id = replacesId != 0 ? replacesId : m_next++;
    received << Received { appName, replacesId, summary, body, id };
    return id;
}

QStringList NotificationServer::GetCapabilities()
{
    return { u"body"_s };
}

QString NotificationServer::GetServerInformation(QString& vendor, QString& version, QString& protocolVersion)
{
    ++pings;
    vendor = u"Corvanta tests"_s;
    version = u"1"_s;
    protocolVersion = u"1.2"_s;
    return u"test-notifications"_s;
}

void NotificationServer::CloseNotification(uint)
{
}

} // namespace corvanta::test
