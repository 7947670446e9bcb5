#include "account/Cloud.h"
#include "sources/Net.h"

#include <QHash>
#include <QSet>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

using Strings = std::vector<std::pair<QString, QString>>;

// What the library records about an installed app and the release found for it.
Strings recordedFields(const Cloud::Installed& installed)
{
    const InstalledApp& app = installed.app;
    const std::optional<Release>& release = installed.release;
    Strings fields { { u"name"_s, app.name } };
    if (app.team)
        fields.emplace_back(u"team"_s, *app.team);
    std::optional<QString> feed;
    if (release) {
        fields.emplace_back(u"source"_s, label(release->kind));
        const QString ref = release->ref.value_or(QString());
        switch (release->kind) {
        case SourceKind::appStore:
            if (release->storeURL)
                fields.emplace_back(u"storeURL"_s, release->storeURL->toString());
            break;
        case SourceKind::sparkle:
            if (release->ref)
                feed = ref;
            break;
        case SourceKind::homebrew:
            if (release->ref)
                fields.emplace_back(u"caskToken"_s, ref);
            break;
        case SourceKind::github:
            if (release->ref)
                fields.emplace_back(u"githubRepo"_s, ref);
            break;
        case SourceKind::electron:
            break;
        }
    }
    // The installed copy's own feed is the one to follow, whatever the release named.
    if (app.feedURL)
        feed = app.feedURL->toString();
    if (feed)
        fields.emplace_back(u"feedURL"_s, *feed);
    if (app.edKey)
        fields.emplace_back(u"edKey"_s, *app.edKey);
    if (release && release->kind == SourceKind::homebrew && release->notesURL)
        fields.emplace_back(u"homepage"_s, release->notesURL->toString());
    return fields;
}

// Every field equals the stored one; a field the library lacks differs.
bool same(const Strings& fields, const LibraryApp& stored)
{
    return std::all_of(fields.begin(), fields.end(),
        [&](const auto& field) { return stored.field(field.first) == field.second; });
}

} // namespace

QCoro::Task<int> Cloud::sync(
    Net& net, Device mac, std::vector<Installed> installed, std::vector<LibraryApp> library) const
{
    const QDateTime now = mac.lastSeen;
    QHash<QString, const LibraryApp*> known;
    for (const LibraryApp& app : library)
        known.insert(app.id, &app);

    std::vector<QJsonObject> writes;
    CloudFields device {
        { { u"name"_s }, Value::string(mac.name) },
        { { u"model"_s }, Value::string(mac.model) },
        { { u"lastSeen"_s }, Value::date(now) },
    };
    if (mac.hardware)
        device.push_back({ { u"hardware"_s }, Value::string(*mac.hardware) });
    writes.push_back(write(userPath() + u"/devices/"_s + mac.id, device));

    QSet<QString> here;
    for (const Installed& entry : installed) {
        const InstalledApp& app = entry.app;
        // A second copy of an app would overwrite the first's entry at every sync.
        if (!syncs(app) || here.contains(app.bundleID))
            continue;
        here.insert(app.bundleID);
        const Strings fields = recordedFields(entry);
        const QString version = app.version.value_or(app.build.value_or(u"unknown"_s));
        if (const LibraryApp* stored = known.value(app.bundleID)) {
            const auto onDevice = stored->devices.find(mac.id);
            if (same(fields, *stored) && onDevice != stored->devices.end() && onDevice->second.installed
                && onDevice->second.version == version)
                continue;
        }
        CloudFields update;
        for (const auto& [key, value] : fields)
            update.push_back({ { key }, Value::string(value) });
        update.push_back({ { u"devices"_s, mac.id },
            Value::map({ { u"version"_s, Value::string(version) }, { u"installed"_s, Value::boolean(true) },
                { u"seen"_s, Value::date(now) } }) });
        writes.push_back(write(userPath() + u"/apps/"_s + app.bundleID, update));
    }

    // Apps this Mac had and has no more keep their document and the other Macs' entries.
    QSet<QString> installedIDs;
    for (const Installed& entry : installed)
        installedIDs.insert(entry.app.bundleID);
    for (const LibraryApp& app : library) {
        const auto onDevice = app.devices.find(mac.id);
        if (installedIDs.contains(app.id) || onDevice == app.devices.end() || !onDevice->second.installed
            || !storable(app.id))
            continue;
        writes.push_back(write(userPath() + u"/apps/"_s + app.id,
            { { { u"devices"_s, mac.id, u"installed"_s }, Value::boolean(false) },
                { { u"devices"_s, mac.id, u"seen"_s }, Value::date(now) } }));
    }

    const int count = int(writes.size());
    QCoro::Task<> committing = commit(net, std::move(writes));
    co_await std::move(committing);
    co_return count;
}

} // namespace corvanta
