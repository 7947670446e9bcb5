#include "notch/NotchSchedule.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace corvanta::NotchSchedule {

namespace {

constexpr qint64 eightHours = 8 * 3600;
constexpr qint64 twentyHours = 20 * 3600;

// `day` at hour:00:00 in `zone`; a time inside a daylight-saving gap moves forward.
QDateTime at(QDate day, int hour, const QTimeZone& zone)
{
    return QDateTime(day, QTime(hour, 0), zone);
}

bool allContained(const QStringList& keys, const QStringList& in)
{
    for (const QString& key : keys) {
        if (!in.contains(key))
            return false;
    }
    return true;
}

NotchDecision skip(QString reason)
{
    return { NotchDecision::Skip { std::move(reason) } };
}
NotchDecision wait(QDateTime until)
{
    return { NotchDecision::Wait { std::move(until) } };
}
NotchDecision show()
{
    return { NotchDecision::Show {} };
}

} // namespace

NotchDecision decide(NotchTrigger trigger, const QStringList& pending, const NotchMemory& memory,
    NotchMode mode, std::optional<QuietHours> quiet, const QDateTime& now, const QTimeZone& zone,
    bool appInUse)
{
    if (pending.isEmpty())
        return skip(u"nothing pending"_s);
    if (trigger == NotchTrigger::manual)
        return show();
    if (appInUse)
        return skip(u"Corvanta is open"_s);
    if (mode == NotchMode::never)
        return skip(u"notch turned off"_s);
    if (memory.snoozedUntil && *memory.snoozedUntil > now)
        return wait(*memory.snoozedUntil);
    if (memory.dismissals > 2 && allContained(pending, memory.dismissedKeys))
        return skip(u"waved off %1 times; waiting for something new"_s.arg(memory.dismissals));

    if (quiet && quiet->from != quiet->to) {
        const QDateTime local = now.toTimeZone(zone);
        const int hour = local.time().hour();
        const bool inside = quiet->from < quiet->to ? (hour >= quiet->from && hour < quiet->to)
                                                    : (hour >= quiet->from || hour < quiet->to);
        if (inside) {
            QDateTime end = at(local.date(), quiet->to, zone);
            if (end <= now)
                end = at(local.date().addDays(1), quiet->to, zone);
            return wait(end);
        }
    }

    const qint64 since
        = memory.lastShown ? memory.lastShown->secsTo(now) : std::numeric_limits<qint64>::max();
    switch (trigger) {
    case NotchTrigger::wake:
        if (mode != NotchMode::smart)
            return skip(u"wake doesn't show in this mode"_s);
        if (since < eightHours)
            return skip(u"shown less than 8 h ago"_s);
        return show();
    case NotchTrigger::login:
    case NotchTrigger::resume:
        if (mode == NotchMode::daily && since < twentyHours)
            return skip(u"already shown today"_s);
        return show();
    case NotchTrigger::check:
        if (mode == NotchMode::login)
            return skip(u"checks don't show in this mode"_s);
        if (allContained(pending, memory.lastShownKeys))
            return skip(u"nothing new since it last showed"_s);
        if (since < twentyHours)
            return wait(memory.lastShown->addSecs(twentyHours));
        return show();
    case NotchTrigger::manual:
        break;
    }
    return show();
}

QDateTime snooze(QStringView option, const QDateTime& from, const QTimeZone& zone)
{
    const QDate today = from.toTimeZone(zone).date();
    if (option == u"hour")
        return from.addSecs(3600);
    if (option == u"tonight") {
        const QDateTime evening = at(today, 19, zone);
        return evening > from.addSecs(1800) ? evening : from.addSecs(10800);
    }
    if (option == u"week")
        return at(today.addDays(7), 9, zone);
    return at(today.addDays(1), 9, zone);
}

} // namespace corvanta::NotchSchedule
