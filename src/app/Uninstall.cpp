#include "app/Commands.h"
#include "app/StoreCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace corvanta {

QCoro::Task<int> commands::uninstall(CliContext& context)
{
    QStringList arguments = context.arguments;
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));
    const bool permanently = arguments.removeAll(u"--permanently"_s) > 0;
    // --data all, none, or the paths up to the next option; by default the
    // items that are certainly the app's own.
    std::optional<QStringList> data;
    if (const qsizetype at = arguments.indexOf(u"--data"_s); at >= 0) {
        qsizetype end = at + 1;
        while (end < arguments.size() && !arguments[end].startsWith(u"--"_s))
            ++end;
        data = arguments.mid(at + 1, end - at - 1);
        arguments.remove(at, end - at);
        if (data->isEmpty())
            co_return context.usage(u"--data needs all, none or the paths to remove."_s);
        if (arguments.indexOf(u"--data"_s) >= 0)
            co_return context.usage(u"Give --data once."_s);
    }
    if (arguments.size() != 1) {
        co_return context.usage(
            u"uninstall takes one app, its name, bundle identifier or path, before --data and "
            u"--permanently."_s);
    }

    QCoro::Task<> loading = command->load();
    co_await std::move(loading);
    Store& store = command->store();
    QString problem;
    QPointer<AppItem> item = command->find(arguments.front(), problem);
    if (!item) {
        context.err << problem << '\n';
        co_return 1;
    }
    const InstalledApp app = item->app();
    QCoro::Task<std::vector<Leftover>> finding = store.leftovers(app);
    const std::vector<Leftover> found = co_await std::move(finding);
    if (!item)
        co_return 1;

    std::vector<Leftover> chosen;
    if (!data) {
        for (const Leftover& leftover : found) {
            if (!leftover.ambiguous)
                chosen.push_back(leftover);
        }
    } else if (*data == QStringList { u"all"_s }) {
        chosen = found;
    } else if (*data != QStringList { u"none"_s }) {
        // Paths outside the candidates are passed on too: the installer refuses all but the app's leftovers.
        for (const QString& path : std::as_const(*data)) {
            const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
            const auto known = std::find_if(found.begin(), found.end(),
                [&](const Leftover& leftover) { return leftover.url.toLocalFile() == absolute; });
            chosen.push_back(known != found.end() ? *known : Leftover { QUrl::fromLocalFile(absolute) });
        }
    }

    context.out << "Removing " << app.name << " (" << app.url.toLocalFile() << ")"
                << (chosen.empty() ? QString() : u" and:"_s) << '\n';
    for (const Leftover& leftover : chosen)
        context.out << StoreCommand::line(leftover) << '\n';
    store.setRemoving(item);
    store.setNotice(std::nullopt);
    QCoro::Task<> removing = store.uninstall(item, chosen, permanently);
    co_await std::move(removing);
    if (!store.notice())
        co_return 1;
    context.out << *store.notice() << '\n';
    co_return 0;
}

} // namespace corvanta
