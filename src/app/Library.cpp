#include "app/Commands.h"
#include "app/StoreCommand.h"
#include "base/Error.h"
#include "model/LibraryItem.h"

#include <cstdio>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

enum class Action { sync, list, devices, remove };

const QString goneMac = u"a Mac you no longer use"_s;

QString counted(qsizetype count, const QString& noun)
{
    return QString::number(count) + u' ' + noun + (count == 1 ? u""_s : u"s"_s);
}

QString when(const QDateTime& time)
{
    if (time <= Cloud::distantPast)
        return u"never"_s;
    return QLocale::c().toString(time.toLocalTime(), u"yyyy-MM-dd HH:mm"_s);
}

QJsonValue utc(const QDateTime& time)
{
    return time <= Cloud::distantPast ? QJsonValue() : QJsonValue(CloudValue::timestamp(time));
}

QString deviceName(const Store& store, const QString& id)
{
    for (const Device& device : store.devices()) {
        if (device.id == id)
            return device.name;
    }
    return goneMac;
}

// The app's Macs, the latest seen first.
std::vector<std::pair<QString, LibraryApp::OnDevice>> byRecency(const LibraryApp& app)
{
    std::vector<std::pair<QString, LibraryApp::OnDevice>> entries(app.devices.begin(), app.devices.end());
    std::stable_sort(entries.begin(), entries.end(),
        [](const auto& a, const auto& b) { return a.second.seen > b.second.seen; });
    return entries;
}

QJsonObject appJson(const Store& store, const LibraryApp& app)
{
    QJsonObject object { { u"id"_s, app.id }, { u"name"_s, app.name } };
    for (const auto& [key, member] : LibraryApp::stringFields()) {
        if (app.*member)
            object.insert(key, *(app.*member));
    }
    QJsonArray devices;
    for (const auto& [id, entry] : byRecency(app)) {
        devices.append(QJsonObject { { u"id"_s, id }, { u"name"_s, deviceName(store, id) },
            { u"version"_s, entry.version }, { u"installed"_s, entry.installed },
            { u"seen"_s, utc(entry.seen) } });
    }
    object.insert(u"devices"_s, devices);
    return object;
}

QString appText(const Store& store, const LibraryApp& app)
{
    QString text = app.name + u"  "_s + app.id + u'\n';
    for (const auto& [id, entry] : byRecency(app)) {
        text += u"  "_s + deviceName(store, id) + u": "_s + entry.version
            + (entry.installed ? u", installed"_s : u", removed"_s) + u", seen "_s + when(entry.seen) + u'\n';
    }
    return text;
}

QJsonObject deviceJson(const Device& device, bool thisMac)
{
    return { { u"id"_s, device.id }, { u"name"_s, device.name }, { u"model"_s, device.model },
        { u"lastSeen"_s, utc(device.lastSeen) },
        { u"hardware"_s, device.hardware ? QJsonValue(*device.hardware) : QJsonValue() },
        { u"thisMac"_s, thisMac } };
}

bool installedSomewhere(const LibraryApp& app)
{
    return std::any_of(
        app.devices.begin(), app.devices.end(), [](const auto& entry) { return entry.second.installed; });
}

Question removal(const QList<LibraryItem*>& items)
{
    const bool still = std::any_of(
        items.begin(), items.end(), [](const LibraryItem* item) { return installedSomewhere(item->app()); });
    Question question { {}, {}, u"Remove"_s, u"Cancel"_s };
    if (items.size() == 1) {
        const QString& name = items.front()->app().name;
        question.title = u"Remove "_s + name + u" from your Library?"_s;
        question.text = name + u" won't be listed for your other Macs any more, so you can't reinstall "_s
            + name + u" from here. Nothing is uninstalled."_s;
        if (still)
            question.text
                += u" It's still on one of your Macs, so that Mac adds it back the next time it syncs."_s;
    } else {
        question.title = u"Remove %1 apps from your Library?"_s.arg(items.size());
        question.text
            = u"They won't be listed for your other Macs any more, so you can't reinstall them from "
              u"here. Nothing is uninstalled."_s;
        if (still)
            question.text
                += u" Some are still on one of your Macs, so that Mac adds them back the next time it "
                   u"syncs."_s;
    }
    return question;
}

QCoro::Task<int> run(CliContext& context, Action action)
{
    QStringList arguments = context.arguments;
    // StoreCommand takes --yes for its own questions; removal asks here.
    const bool confirmed = arguments.contains(u"--yes"_s);
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));
    if (action == Action::remove && arguments.isEmpty())
        co_return context.usage(u"Give the bundle identifier of each app to remove."_s);
    if (action != Action::remove && !arguments.isEmpty())
        co_return context.usage(u"This command takes no arguments."_s);

    Store& store = command->store();
    if (!command->hasAccount(context.err))
        co_return 1;

    if (action == Action::sync) {
        // A refresh ends with the sync, as it does in the window.
        QCoro::Task<> loading = command->load();
        co_await std::move(loading);
    } else {
        const std::optional<Cloud> cloud = co_await store.liveCloud(false);
        if (cloud) {
            try {
                QCoro::Task<> reloading = store.reloadLibrary(*cloud);
                co_await std::move(reloading);
            } catch (const Error& error) {
                context.err << error.description() << '\n';
                co_return 1;
            }
        }
    }
    if (!store.session() || store.syncError()) {
        context.err << store.syncError().value_or(u"You're not signed in."_s) << '\n';
        co_return 1;
    }

    const QString self = store.thisMac().deviceID();
    switch (action) {
    case Action::sync:
        context.out << "Synced " << counted(store.items().size(), u"app"_s)
                    << " of this Mac. Your library holds " << counted(store.library().size(), u"app"_s)
                    << " on " << counted(qsizetype(store.devices().size()), u"Mac"_s) << ".\n";
        co_return 0;
    case Action::list: {
        QJsonArray apps;
        for (const LibraryItem* item : store.library()) {
            if (context.json)
                apps.append(appJson(store, item->app()));
            else
                context.out << appText(store, item->app());
        }
        if (context.json)
            context.out << QString::fromUtf8(QJsonDocument(apps).toJson(QJsonDocument::Indented));
        else if (store.library().isEmpty())
            context.out << "Your library is empty.\n";
        co_return 0;
    }
    case Action::devices: {
        QJsonArray devices;
        for (const Device& device : store.devices()) {
            if (context.json) {
                devices.append(deviceJson(device, device.id == self));
            } else {
                context.out << device.name << "  " << (device.model.isEmpty() ? u"-"_s : device.model)
                            << "  last seen " << when(device.lastSeen) << "  " << device.id
                            << (device.id == self ? "  (this Mac)" : "") << '\n';
            }
        }
        if (context.json)
            context.out << QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Indented));
        co_return 0;
    }
    case Action::remove:
        break;
    }

    QList<LibraryItem*> chosen;
    for (const QString& id : std::as_const(arguments)) {
        const auto found = std::find_if(store.library().begin(), store.library().end(),
            [&](const LibraryItem* item) { return item->id() == id; });
        if (found == store.library().end()) {
            context.err << "\u201c" << id << "\u201d isn't in your library.\n";
            co_return 1;
        }
        if (!chosen.contains(*found))
            chosen << *found;
    }
    if (!confirmed) {
        if (!::isatty(STDIN_FILENO)) {
            context.err << "Give --yes to remove without being asked.\n";
            co_return 1;
        }
        QTextStream in(stdin);
        TerminalPrompts prompts(in, context.out);
        QCoro::Task<bool> asking = prompts.ask(removal(chosen));
        if (!co_await std::move(asking)) {
            context.out << "Nothing was removed.\n";
            co_return 1;
        }
    }
    QCoro::Task<> removing = store.removeFromLibrary(chosen);
    co_await std::move(removing);
    if (store.syncError()) {
        context.err << *store.syncError() << '\n';
        co_return 1;
    }
    context.out << "Removed from your library: " << arguments.join(u", "_s) << ". Nothing was uninstalled.\n";
    co_return 0;
}

} // namespace

QCoro::Task<int> commands::librarySync(CliContext& context)
{
    return run(context, Action::sync);
}

QCoro::Task<int> commands::libraryList(CliContext& context)
{
    return run(context, Action::list);
}

QCoro::Task<int> commands::libraryDevices(CliContext& context)
{
    return run(context, Action::devices);
}

QCoro::Task<int> commands::libraryRemove(CliContext& context)
{
    return run(context, Action::remove);
}

} // namespace corvanta
