#pragma once

#include <memory>

#include <QCoro/QCoroTask>
#include <QString>

namespace corvanta {

// The permissions the program depends on, as the system reports them.
class Permissions {
public:
    // Whether macOS lets the program change other apps (App Management).
    enum class State { granted, denied, unknown };
    // Whether the program may post notifications.
    enum class Notifications { notDetermined, denied, authorized, provisional, ephemeral };

    virtual ~Permissions() = default;

    // The App Management permission; `unknown` when the system can't say.
    virtual State appManagement() const = 0;
    // Whether the program may watch other applications' windows (Accessibility).
    virtual State accessibility() const = 0;
    // The notification authorisation, as the notification centre reports it.
    virtual QCoro::Task<Notifications> notifications() const = 0;

    static std::unique_ptr<Permissions> create();
};

// "granted", "denied", "unknown"; "notDetermined", "denied", "authorized", …
QString rawValue(Permissions::State state);
QString rawValue(Permissions::Notifications status);

} // namespace corvanta
