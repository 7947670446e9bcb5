#include "app/Commands.h"
#include "app/StoreCommand.h"
#include "notch/NotchScheduler.h"
#include "views/text/Hero.h"
#include "views/text/StatusCard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString installedLabel(const InstalledApp& app)
{
    return app.version.value_or(app.build.value_or(u"unknown"_s));
}

// The sentence of the check alone: a reason as the checker gave it, or the
// card's message for a found release.
QString statusText(const AppItem& item)
{
    switch (item.status().kind) {
    case Status::Kind::cantVerify:
    case Status::Kind::ignored:
        return item.status().text;
    default:
        return StatusCard::of(item).message;
    }
}

QJsonObject appJson(const AppItem& item)
{
    QJsonArray attempts;
    for (const Attempt& attempt : item.attempts())
        attempts.append(toJson(attempt));
    const StatusCard card = StatusCard::of(item);
    return {
        { u"bundleID"_s, item.app().bundleID },
        { u"path"_s, item.id() },
        { u"status"_s, item.status().name() },
        { u"statusText"_s, statusText(item) },
        { u"card"_s, QJsonObject { { u"title"_s, card.title }, { u"message"_s, card.message } } },
        { u"release"_s, item.release() ? QJsonValue(toJson(*item.release())) : QJsonValue() },
        { u"attempts"_s, attempts },
    };
}

QString releaseLine(const Release& release)
{
    QString line = label(release.kind) + u": "_s + release.label();
    if (release.version && release.build)
        line += u" (build "_s + *release.build + u')';
    if (release.download) {
        line += u", download "_s + release.download->url.toString();
        if (release.download->size)
            line += u" ("_s + QString::number(*release.download->size) + u" bytes)"_s;
    }
    if (release.storeURL)
        line += u", store "_s + release.storeURL->toString();
    if (release.ref)
        line += u", ref "_s + *release.ref;
    return line;
}

QString appText(const AppItem& item)
{
    const InstalledApp& app = item.app();
    QString text = app.name + u"  "_s + app.bundleID + u"  "_s + installedLabel(app);
    if (app.version && app.build)
        text += u" ("_s + *app.build + u')';
    const StatusCard card = StatusCard::of(item);
    text += u"\n  "_s + card.title + u": "_s + card.message + u'\n';
    if (item.release())
        text += u"  Release from "_s + releaseLine(*item.release()) + u'\n';
    for (const Attempt& attempt : item.attempts()) {
        QString line
            = u"    "_s + label(attempt.kind).leftJustified(16) + attempt.outcomeName().leftJustified(9);
        if (attempt.found)
            line += u"found "_s + *attempt.found;
        if (const std::optional<QString> why = attempt.outcomeText())
            line += *why;
        if (attempt.url)
            line += u"  <"_s + *attempt.url + u'>';
        text += line + u'\n';
    }
    return text;
}

QString triggerName(NotchTrigger trigger)
{
    switch (trigger) {
    case NotchTrigger::login:
        return u"login"_s;
    case NotchTrigger::wake:
        return u"wake"_s;
    case NotchTrigger::check:
        return u"check"_s;
    case NotchTrigger::resume:
        return u"resume"_s;
    case NotchTrigger::manual:
        break;
    }
    return u"manual"_s;
}

QJsonObject decisionJson(const NotchDecision& decision)
{
    if (const auto* wait = std::get_if<NotchDecision::Wait>(&decision.value))
        return { { u"kind"_s, u"wait"_s }, { u"until"_s, wait->until.toString(Qt::ISODate) } };
    if (const auto* skip = std::get_if<NotchDecision::Skip>(&decision.value))
        return { { u"kind"_s, u"skip"_s }, { u"reason"_s, skip->reason } };
    return { { u"kind"_s, u"show"_s } };
}

// What a background refresh announced, and through which channel.
QJsonObject announcementJson(const Store::Announcement& announced)
{
    QJsonObject result { { u"keys"_s, QJsonArray::fromStringList(announced.keys) },
        { u"names"_s, QJsonArray::fromStringList(announced.names) } };
    switch (announced.channel) {
    case Store::Announcement::Channel::none:
        result[u"channel"_s] = u"none"_s;
        break;
    case Store::Announcement::Channel::notch:
        result[u"channel"_s] = u"notch"_s;
        result[u"trigger"_s] = triggerName(*announced.trigger);
        result[u"decision"_s] = decisionJson(*announced.decision);
        break;
    case Store::Announcement::Channel::notification: {
        result[u"channel"_s] = u"notification"_s;
        const std::pair<QString, QString> text = Store::notificationText(announced.names);
        result[u"title"_s] = text.first;
        result[u"body"_s] = text.second;
        break;
    }
    }
    return result;
}

QString announcementText(const Store::Announcement& announced, bool sandboxed)
{
    if (announced.keys.isEmpty())
        return u"Background announcement: nothing new.\n"_s;
    QString text = u"Background announcement: "_s
        + (announced.keys.size() == 1 ? u"1 new update"_s : u"%1 new updates"_s.arg(announced.keys.size()))
        + u" ("_s + announced.keys.join(u", "_s) + u")\n"_s;
    if (announced.channel == Store::Announcement::Channel::notification) {
        const std::pair<QString, QString> posted = Store::notificationText(announced.names);
        return text + u"Channel: notification \u201c"_s + posted.first + u"\u201d: "_s + posted.second
            + (sandboxed ? u" (not posted under --sandbox)"_s : QString()) + u'\n';
    }
    text += u"Channel: notch panel, trigger "_s + triggerName(*announced.trigger) + u": "_s;
    const NotchDecision& decision = *announced.decision;
    if (const auto* wait = std::get_if<NotchDecision::Wait>(&decision.value))
        return text + u"waits until "_s + wait->until.toString(Qt::ISODate) + u'\n';
    if (const auto* skip = std::get_if<NotchDecision::Skip>(&decision.value))
        return text + u"skipped, "_s + skip->reason + u'\n';
    return text + u"shows\n"_s;
}

QString report(const Store& store, bool json)
{
    if (json) {
        QJsonArray apps;
        for (const AppItem* item : store.items())
            apps.append(appJson(*item));
        const QJsonObject hero { { u"headline"_s, Hero::headline(store) },
            { u"summary"_s, Hero::summary(store) } };
        QJsonObject document { { u"apps"_s, apps }, { u"hero"_s, hero } };
        if (store.lastAnnouncement() && store.lastAnnouncement()->background)
            document[u"announcement"_s] = announcementJson(*store.lastAnnouncement());
        return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));
    }
    QString text;
    for (const AppItem* item : store.items())
        text += appText(*item) + u'\n';
    return text + Hero::headline(store) + u'\n' + Hero::summary(store) + u'\n';
}

} // namespace

QCoro::Task<int> commands::check(CliContext& context)
{
    QStringList arguments = context.arguments;
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    // --background: a quiet, scheduled-style refresh, and what it announces.
    const bool background = arguments.removeAll(u"--background"_s) > 0;
    if (!arguments.isEmpty())
        co_return context.usage(
            u"check takes only --sandbox DIR, --mock URL, --anchors DIR, --background and --json."_s);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));

    if (background) {
        Store& store = command->store();
        QCoro::Task<> refreshing = store.refresh(true, false);
        co_await std::move(refreshing);
        QCoro::Task<> posting = store.notificationsPosted();
        co_await std::move(posting);
    } else {
        QCoro::Task<> loading = command->load();
        co_await std::move(loading);
    }
    context.out << report(command->store(), context.json);
    if (background && !context.json && command->store().lastAnnouncement())
        context.out << announcementText(
            *command->store().lastAnnouncement(), context.launch().has(u"--sandbox"));
    co_return 0;
}

} // namespace corvanta
