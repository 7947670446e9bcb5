#include "app/Commands.h"
#include "app/RestoreText.h"
#include "app/StoreCommand.h"
#include "base/Error.h"
#include "model/LibraryItem.h"
#include "model/LibraryTab.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSet>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QJsonObject routeJson(const Route& route)
{
    if (const Route::Install* install = route.install()) {
        QJsonArray candidates;
        for (const Release& release : install->candidates)
            candidates.append(toJson(release));
        return { { u"kind"_s, u"install"_s }, { u"candidates"_s, candidates } };
    }
    if (const Route::Store* store = route.store())
        return { { u"kind"_s, u"store"_s }, { u"link"_s, store->link.toString() } };
    const Route::Manual* manual = route.manual();
    return { { u"kind"_s, u"manual"_s }, { u"page"_s, manual->page.toString() },
        { u"reason"_s, manual->reason } };
}

// What one row went through, as it happened.
struct Row {
    QPointer<LibraryItem> item;
    QStringList phases;
};

bool failed(const LibraryItem& item)
{
    return item.phase().kind == InstallPhase::Kind::failed
        || item.phase().kind == InstallPhase::Kind::blocked;
}

} // namespace

QCoro::Task<int> commands::restore(CliContext& context)
{
    QStringList arguments = context.arguments;
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));
    const bool all = arguments.removeAll(u"--all"_s) > 0;
    if (all == !arguments.isEmpty())
        co_return context.usage(u"restore takes the bundle identifiers of apps in your library, or --all."_s);

    Store& store = command->store();
    if (!command->hasAccount(context.err))
        co_return 1;
    // The apps here decide what is missing; the refresh ends with a sync that reads the library.
    QCoro::Task<> loading = command->load();
    co_await std::move(loading);
    if (!store.session() || store.syncError()) {
        context.err << store.syncError().value_or(u"You're not signed in."_s) << '\n';
        co_return 1;
    }

    QList<LibraryItem*> chosen;
    if (all) {
        LibraryScope scope;
        for (const AppItem* item : store.items())
            scope.onThisMac.insert(item->app().bundleID);
        for (LibraryItem* item : store.library()) {
            if (!scope.onThisMac.contains(item->id()))
                chosen << item;
        }
        if (chosen.isEmpty()) {
            context.out << "Every app in your library is on this Mac.\n";
            co_return 0;
        }
    } else {
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
    }

    std::vector<std::unique_ptr<Row>> rows;
    for (LibraryItem* item : std::as_const(chosen)) {
        auto row = std::make_unique<Row>(Row { item, {} });
        Row* watched = row.get();
        QObject::connect(item, &LibraryItem::changed, item, [watched, item, &context] {
            const QString name = phaseName(item->phase());
            if (!watched->phases.isEmpty() && watched->phases.last() == name)
                return;
            watched->phases << name;
            if (!context.json)
                context.out << item->app().name << ": " << name << '\n' << Qt::flush;
        });
        rows.push_back(std::move(row));
    }

    QCoro::Task<> restoring = store.restore(chosen);
    co_await std::move(restoring);

    int failures = 0;
    QJsonArray apps;
    for (const std::unique_ptr<Row>& row : rows) {
        const LibraryItem* item = row->item;
        if (!item)
            continue;
        failures += failed(*item) ? 1 : 0;
        if (context.json) {
            QJsonObject object { { u"id"_s, item->id() }, { u"name"_s, item->app().name },
                { u"phases"_s, QJsonArray::fromStringList(row->phases) },
                { u"outcome"_s, phaseName(item->phase()) } };
            if (item->route())
                object.insert(u"route"_s, routeJson(*item->route()));
            if (item->note())
                object.insert(u"note"_s, *item->note());
            if (item->team())
                object.insert(u"team"_s, *item->team());
            apps.append(object);
        } else {
            context.out << item->app().name << "  " << item->id() << '\n';
            if (item->route())
                context.out << "  route: " << routeText(*item->route()) << '\n';
            context.out << "  outcome: " << phaseName(item->phase())
                        << (item->team() ? u" (team "_s + *item->team() + u')' : QString()) << '\n';
            if (item->note())
                context.out << "  " << *item->note() << '\n';
        }
    }
    if (context.json) {
        QJsonObject document { { u"apps"_s, apps } };
        document.insert(u"notice"_s, store.notice() ? QJsonValue(*store.notice()) : QJsonValue());
        context.out << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));
    } else if (store.notice()) {
        context.out << *store.notice() << '\n';
    }
    co_return failures == 0 ? 0 : 1;
}

} // namespace corvanta
