#include "app/Commands.h"
#include "app/StoreCommand.h"
#include "model/UpdateControl.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// What became of one app: its card, and the install log of an install that ran.
QString outcome(const AppItem& item)
{
    QString text = StoreCommand::describe(item);
    for (const QString& line : item.installLog())
        text += u"  \u00b7 "_s + line + u'\n';
    if (item.phase().kind == InstallPhase::Kind::idle && item.status().kind == Status::Kind::update) {
        const UpdateControl control = UpdateControl::of(item);
        if (control.kind != UpdateControl::Kind::none && control.action != UpdateControl::Action::update) {
            text += u"  "_s + control.label + (control.help ? u": "_s + *control.help : QString())
                + (control.url ? u" <"_s + control.url->toString() + u'>' : QString()) + u'\n';
        }
    }
    return text;
}

bool failed(const AppItem& item)
{
    const InstallPhase::Kind kind = item.phase().kind;
    return kind == InstallPhase::Kind::failed || kind == InstallPhase::Kind::blocked
        || (kind == InstallPhase::Kind::idle && item.status().kind == Status::Kind::update);
}

} // namespace

QCoro::Task<int> commands::update(CliContext& context)
{
    QStringList arguments = context.arguments;
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));
    const bool all = arguments.removeAll(u"--all"_s) > 0;
    if (all ? !arguments.isEmpty() : arguments.size() != 1)
        co_return context.usage(u"update takes one app, or --all."_s);

    QCoro::Task<> loading = command->load();
    co_await std::move(loading);
    Store& store = command->store();

    QList<QPointer<AppItem>> targets;
    if (all) {
        const QList<AppItem*> installable = store.installable();
        if (installable.isEmpty()) {
            context.out << "Nothing to update.\n";
            co_return 0;
        }
        for (AppItem* item : installable)
            targets << item;
        QCoro::Task<> running = store.updateAll();
        co_await std::move(running);
    } else {
        QString problem;
        AppItem* item = command->find(arguments.front(), problem);
        if (!item) {
            context.err << problem << '\n';
            co_return 1;
        }
        targets << item;
        QCoro::Task<> running = store.update(item);
        co_await std::move(running);
    }

    int failures = 0;
    for (const QPointer<AppItem>& item : std::as_const(targets)) {
        if (!item)
            continue;
        context.out << outcome(*item);
        failures += failed(*item) ? 1 : 0;
    }
    co_return failures == 0 ? 0 : 1;
}

} // namespace corvanta
