#include "notch/NotchSchedule.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

const QTimeZone zone("Europe/Berlin");

QDateTime on(int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, 3, day), QTime(hour, minute), zone);
}

std::string describe(const NotchDecision& decision)
{
    if (const auto* w = std::get_if<NotchDecision::Wait>(&decision.value))
        return "wait until " + w->until.toString(Qt::ISODate).toStdString();
    if (const auto* s = std::get_if<NotchDecision::Skip>(&decision.value))
        return "skip: " + s->reason.toStdString();
    return "show";
}

NotchDecision waitUntil(QDateTime until)
{
    return { NotchDecision::Wait { until } };
}
NotchDecision skip(const QString& reason)
{
    return { NotchDecision::Skip { reason } };
}
const NotchDecision show { NotchDecision::Show {} };

struct Row {
    const char* name;
    NotchTrigger trigger;
    QStringList pending;
    NotchMemory memory;
    NotchMode mode;
    std::optional<QuietHours> quiet;
    QDateTime now;
    bool appInUse;
    NotchDecision expected;
};

NotchMemory shownAt(QDateTime when, QStringList keys = { u"a@1"_s })
{
    NotchMemory memory;
    memory.lastShown = when;
    memory.lastShownKeys = keys;
    return memory;
}

NotchMemory wavedOff(int times, QStringList keys)
{
    NotchMemory memory;
    memory.dismissals = times;
    memory.dismissedKeys = keys;
    return memory;
}

NotchMemory snoozed(QDateTime until)
{
    NotchMemory memory;
    memory.snoozedUntil = until;
    return memory;
}

const QStringList one { u"a@1"_s };
const QStringList two { u"a@1"_s, u"b@2"_s };
const std::optional<QuietHours> noQuiet;

TEST(NotchSchedule, Decides)
{
    const std::vector<Row> rows {
        { "nothing pending", NotchTrigger::manual, {}, {}, NotchMode::smart, noQuiet, on(10, 12), false,
            skip(u"nothing pending"_s) },
        { "manual shows even when off", NotchTrigger::manual, one, {}, NotchMode::never, QuietHours { 0, 23 },
            on(10, 12), true, show },
        { "app in use", NotchTrigger::check, one, {}, NotchMode::smart, noQuiet, on(10, 12), true,
            skip(u"Corvanta is open"_s) },
        { "never", NotchTrigger::login, one, {}, NotchMode::never, noQuiet, on(10, 12), false,
            skip(u"notch turned off"_s) },
        { "snooze in force", NotchTrigger::check, one, snoozed(on(10, 19)), NotchMode::smart, noQuiet,
            on(10, 12), false, waitUntil(on(10, 19)) },
        { "snooze over", NotchTrigger::resume, one, snoozed(on(10, 11)), NotchMode::smart, noQuiet,
            on(10, 12), false, show },
        { "waved off three times", NotchTrigger::check, one, wavedOff(3, two), NotchMode::smart, noQuiet,
            on(10, 12), false, skip(u"waved off 3 times; waiting for something new"_s) },
        { "waved off twice still shows", NotchTrigger::check, one, wavedOff(2, two), NotchMode::smart,
            noQuiet, on(10, 12), false, show },
        { "waved off but something new", NotchTrigger::check, { u"c@3"_s }, wavedOff(5, two),
            NotchMode::smart, noQuiet, on(10, 12), false, show },
        { "quiet hours across midnight, late evening", NotchTrigger::check, one, {}, NotchMode::smart,
            QuietHours { 22, 7 }, on(10, 23, 30), false, waitUntil(on(11, 7)) },
        { "quiet hours across midnight, early morning", NotchTrigger::check, one, {}, NotchMode::smart,
            QuietHours { 22, 7 }, on(10, 6, 59), false, waitUntil(on(10, 7)) },
        { "quiet hours end exactly", NotchTrigger::check, one, {}, NotchMode::smart, QuietHours { 22, 7 },
            on(10, 7), false, show },
        { "quiet hours within a day", NotchTrigger::login, one, {}, NotchMode::smart, QuietHours { 9, 17 },
            on(10, 12), false, waitUntil(on(10, 17)) },
        { "equal quiet hours never apply", NotchTrigger::check, one, {}, NotchMode::smart,
            QuietHours { 8, 8 }, on(10, 8), false, show },
        { "wake 7 h 59 min after", NotchTrigger::wake, one, shownAt(on(10, 4, 1)), NotchMode::smart, noQuiet,
            on(10, 12), false, skip(u"shown less than 8 h ago"_s) },
        { "wake 8 h after", NotchTrigger::wake, one, shownAt(on(10, 4)), NotchMode::smart, noQuiet,
            on(10, 12), false, show },
        { "wake in daily mode", NotchTrigger::wake, one, {}, NotchMode::daily, noQuiet, on(10, 12), false,
            skip(u"wake doesn't show in this mode"_s) },
        { "login in daily mode within 20 h", NotchTrigger::login, one, shownAt(on(9, 17)), NotchMode::daily,
            noQuiet, on(10, 12), false, skip(u"already shown today"_s) },
        { "login in smart mode within 20 h", NotchTrigger::login, one, shownAt(on(9, 17)), NotchMode::smart,
            noQuiet, on(10, 12), false, show },
        { "resume in login mode", NotchTrigger::resume, one, shownAt(on(10, 11)), NotchMode::login, noQuiet,
            on(10, 12), false, show },
        { "check in login mode", NotchTrigger::check, two, {}, NotchMode::login, noQuiet, on(10, 12), false,
            skip(u"checks don't show in this mode"_s) },
        { "nothing new, days later", NotchTrigger::check, one, shownAt(on(7, 12)), NotchMode::smart, noQuiet,
            on(10, 12), false, skip(u"nothing new since it last showed"_s) },
        { "something new within 20 h", NotchTrigger::check, two, shownAt(on(10, 2)), NotchMode::smart,
            noQuiet, on(10, 12), false, waitUntil(on(10, 22)) },
        { "something new after 20 h", NotchTrigger::check, two, shownAt(on(9, 16)), NotchMode::daily, noQuiet,
            on(10, 12), false, show },
        { "never shown", NotchTrigger::check, two, {}, NotchMode::smart, noQuiet, on(10, 12), false, show },
    };
    for (const Row& row : rows) {
        const NotchDecision decision = NotchSchedule::decide(
            row.trigger, row.pending, row.memory, row.mode, row.quiet, row.now, zone, row.appInUse);
        EXPECT_EQ(decision, row.expected)
            << row.name << ": got " << describe(decision) << ", expected " << describe(row.expected);
    }
}

TEST(NotchSchedule, QuietHoursCrossADaylightSavingChange)
{
    // 29 March 2026 has 23 hours in Berlin; the wait still ends at 07:00 local time.
    const NotchDecision decision = NotchSchedule::decide(
        NotchTrigger::check, one, {}, NotchMode::smart, QuietHours { 22, 7 }, on(28, 23), zone, false);
    EXPECT_EQ(decision, waitUntil(on(29, 7)));
}

TEST(NotchSchedule, SnoozeEnds)
{
    EXPECT_EQ(NotchSchedule::snooze(u"hour", on(10, 18, 45), zone), on(10, 19, 45));
    EXPECT_EQ(NotchSchedule::snooze(u"tonight", on(10, 18, 45), zone), on(10, 21, 45));
    EXPECT_EQ(NotchSchedule::snooze(u"tonight", on(10, 17), zone), on(10, 19));
    EXPECT_EQ(NotchSchedule::snooze(u"tonight", on(10, 21), zone), on(11, 0));
    EXPECT_EQ(NotchSchedule::snooze(u"tomorrow", on(10, 23, 50), zone), on(11, 9));
    EXPECT_EQ(NotchSchedule::snooze(u"someday", on(10, 8), zone), on(11, 9));
    EXPECT_EQ(NotchSchedule::snooze(u"week", on(10, 8), zone), on(17, 9));
}

} // namespace
