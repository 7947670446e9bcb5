#include "app/Commands.h"
#include "app/StoreCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

QCoro::Task<int> commands::leftovers(CliContext& context)
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
    QString problem;
    const AppItem* item = command->find(arguments.front(), problem);
    if (!item) {
        context.err << problem << '\n';
        co_return 1;
    }
    const InstalledApp app = item->app();
    QCoro::Task<std::vector<Leftover>> finding = command->store().leftovers(app);
    const std::vector<Leftover> found = co_await std::move(finding);

    if (context.json) {
        QJsonArray array;
        for (const Leftover& leftover : found) {
            array.append(QJsonObject { { u"path"_s, leftover.url.toLocalFile() },
                { u"size"_s, leftover.size ? QJsonValue(double(*leftover.size)) : QJsonValue() },
                { u"ambiguous"_s, leftover.ambiguous } });
        }
        context.out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
        co_return 0;
    }
    if (found.empty()) {
        context.out << "No data of " << app.name << " in " << command->store().userLibrary() << ".\n";
        co_return 0;
    }
    context.out << app.name << " left " << found.size() << (found.size() == 1 ? " item" : " items") << " in "
                << command->store().userLibrary() << ":\n";
    for (const Leftover& leftover : found)
        context.out << StoreCommand::line(leftover) << '\n';
    co_return 0;
}

} // namespace corvanta
