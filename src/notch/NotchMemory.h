#pragma once

#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

namespace corvanta {

// The user's choice of when the notch panel may drop.
enum class NotchMode { smart, daily, login, never };

QString rawValue(NotchMode mode);
std::optional<NotchMode> notchModeFromRaw(QStringView raw);

// What the notch panel last showed and what the user waved away; persisted
// as JSON in the preferences so it survives restarts.
struct NotchMemory {
    std::optional<QDateTime> lastShown;
    QStringList lastShownKeys;
    std::optional<QDateTime> snoozedUntil;
    QStringList dismissedKeys;
    int dismissals = 0;
    bool askedToStop = false;

    // JSON with dates as seconds since 1 January 2001; the two dates only when present.
    QByteArray encode() const;
    // None when the data is not a memory of this shape.
    static std::optional<NotchMemory> decode(const QByteArray& data);

    friend bool operator==(const NotchMemory&, const NotchMemory&) = default;
};

} // namespace corvanta
