#pragma once

#include "notch/NotchMemory.h"

#include <optional>
#include <variant>

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

namespace corvanta {

// Why the panel is asked for.
enum class NotchTrigger { login, wake, check, resume, manual };

struct NotchDecision {
    struct Wait {
        QDateTime until;
        friend bool operator==(const Wait&, const Wait&) = default;
    };
    struct Skip {
        QString reason;
        friend bool operator==(const Skip&, const Skip&) = default;
    };
    struct Show {
        friend bool operator==(const Show&, const Show&) = default;
    };
    std::variant<Wait, Skip, Show> value;

    friend bool operator==(const NotchDecision&, const NotchDecision&) = default;
};

// Quiet hours as whole hours 0–23; from > to wraps midnight.
struct QuietHours {
    int from = 22;
    int to = 8;
};

// When the notch panel may drop: pure functions of their arguments, the
// clock and the calendar (a time zone) passed in.
namespace NotchSchedule {

NotchDecision decide(NotchTrigger trigger, const QStringList& pending, const NotchMemory& memory,
    NotchMode mode, std::optional<QuietHours> quiet, const QDateTime& now, const QTimeZone& zone,
    bool appInUse);

// The end of a snooze: "hour", "tonight", "tomorrow" (also any unknown option) or "week".
QDateTime snooze(QStringView option, const QDateTime& from, const QTimeZone& zone);

} // namespace NotchSchedule

} // namespace corvanta
