#pragma once

#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace corvanta {

// A signed-in account as the keychain keeps it.
struct Session {
    QString uid; // Firebase's localId
    QString email; // may be empty
    QString idToken;
    QString refreshToken;
    QDateTime expires; // 120 s before the server's stated expiry, so renewal comes first
    QString provider; // "password" or Auth::GoogleProviderID
    std::optional<QString> name;
    std::optional<bool> emailVerified; // none: unknown

    // JSON with the fields under their own names, in this order; `expires` in
    // seconds since 2001-01-01 00:00 UTC, absent optionals left out.
    QByteArray toJson() const;
    // None unless every required field is there with its type.
    static std::optional<Session> fromJson(const QByteArray& json);

    static const QDateTime referenceDate;

    bool operator==(const Session&) const = default;
};

} // namespace corvanta
