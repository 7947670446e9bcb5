#pragma once

#include "platform/Notifier.h"

#include <memory>
#include <optional>

#include <QDBusConnection>
#include <QHash>

namespace corvanta {

// Notifications through the freedesktop notification server on the session
// bus. The server's answer to a ping stands for authorisation: Linux asks no
// consent, so a server that answers is "authorized" and no server is "not
// determined". Requests with the same identifier replace each other in place.
class DbusNotifier : public Notifier {
public:
    // `connection`: none means the session bus, reached at the first request.
    explicit DbusNotifier(std::optional<QDBusConnection> connection = std::nullopt,
        QString appName = QStringLiteral("Corvanta"));

    QCoro::Task<Permissions::Notifications> requestAuthorization() override;
    QCoro::Task<> add(Request request) override;

    static inline const QString service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString path = QStringLiteral("/org/freedesktop/Notifications");

private:
    QDBusConnection connection();

    std::optional<QDBusConnection> m_connection;
    QString m_appName;
    // The server's number for each identifier's latest notification; shared
    // with running posts so one that ends after this object writes into live memory.
    std::shared_ptr<QHash<QString, uint>> m_ids;
};

} // namespace corvanta
