#include "app/Commands.h"
#include "app/StoreCommand.h"

#include <QCoro/QCoroSignal>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

enum class Ignoring { app, version, undo };

QCoro::Task<int> run(CliContext& context, Ignoring what)
{
    QStringList arguments = context.arguments;
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));
    if (arguments.size() != 1)
        co_return context.usage(u"Name one app: its name, bundle identifier or path."_s);

    QCoro::Task<> loading = command->load();
    co_await std::move(loading);
    Store& store = command->store();
    QString problem;
    QPointer<AppItem> item = command->find(arguments.front(), problem);
    if (!item) {
        context.err << problem << '\n';
        co_return 1;
    }

    switch (what) {
    case Ignoring::app:
        store.ignore(item);
        break;
    case Ignoring::version:
        if (!item->release()) {
            context.err << item->app().name << " has no known release to skip.\n";
            co_return 1;
        }
        store.ignoreVersion(item);
        break;
    case Ignoring::undo:
        store.unignore(item->app().bundleID);
        // An app ignored before its first check is checked now; its verdict is the answer.
        while (item && item->checking()) {
            auto changed = qCoro(item.data(), &AppItem::changed);
            co_await std::move(changed);
        }
        break;
    }
    if (item)
        context.out << StoreCommand::describe(*item);
    co_return 0;
}

} // namespace

QCoro::Task<int> commands::ignore(CliContext& context)
{
    return run(context, Ignoring::app);
}

QCoro::Task<int> commands::skip(CliContext& context)
{
    return run(context, Ignoring::version);
}

QCoro::Task<int> commands::unignore(CliContext& context)
{
    return run(context, Ignoring::undo);
}

} // namespace corvanta
