#include "app/StoreCommand.h"

#include "base/Error.h"
#include "views/text/ByteCount.h"
#include "views/text/StatusCard.h"

#include <cstdio>

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

StoreCommand::StoreCommand(CliContext& context, const codesign::TrustAnchors& anchors)
    : m_out(context.out)
    , m_in(stdin)
    , m_codeSigning(anchors, m_host.isAppleSilicon() ? CpuType::arm64 : CpuType::x86_64)
{
}

StoreCommand::~StoreCommand() = default;

std::variant<std::unique_ptr<StoreCommand>, QString> StoreCommand::open(
    CliContext& context, QStringList& arguments)
{
    const auto take = [&](const QString& flag) -> std::variant<std::optional<QString>, QString> {
        const qsizetype at = arguments.indexOf(flag);
        if (at < 0)
            return std::optional<QString>();
        if (at + 1 >= arguments.size() || arguments[at + 1].startsWith(u"--"_s))
            return QString(flag + u" needs a value."_s);
        const QString value = arguments[at + 1];
        arguments.remove(at, 2);
        return std::optional<QString>(value);
    };
    QStringList launch;
    std::optional<QString> anchorFolder;
    for (const QString& flag :
        { u"--sandbox"_s, u"--mock"_s, u"--anchors"_s, u"--firebase-config"_s, u"--device-id"_s }) {
        auto taken = take(flag);
        if (const QString* problem = std::get_if<QString>(&taken))
            return *problem;
        const std::optional<QString> value = std::get<std::optional<QString>>(taken);
        if (!value)
            continue;
        if (flag == u"--anchors") {
            anchorFolder = value;
        } else if (flag == u"--firebase-config" || flag == u"--device-id") {
            launch << flag << *value;
        } else if (flag == u"--sandbox") {
            try {
                launch << flag << Launch::sandboxFolder(*value);
            } catch (const Error& error) {
                return error.description();
            }
        } else {
            const QUrl base(*value, QUrl::StrictMode);
            if (!base.isValid() || (base.scheme() != u"http" && base.scheme() != u"https")
                || base.host().isEmpty())
                return u"--mock needs an http or https URL."_s;
            launch << flag << *value;
        }
    }
    const bool yes = arguments.removeAll(u"--yes"_s) > 0;
    const bool no = arguments.removeAll(u"--no"_s) > 0;
    if (yes && no)
        return u"Give --yes or --no, not both."_s;

    const codesign::TrustAnchors anchors
        = codesign::TrustAnchors::fromFolder(anchorFolder.value_or(codesign::TrustAnchors::defaultFolder()));
    std::unique_ptr<StoreCommand> command(new StoreCommand(context, anchors));
    const Launch options(launch);
    command->m_prefs = Prefs::open(options);
    if (yes || no)
        command->m_prompts = std::make_unique<FixedPrompts>(yes, context.out);
    else if (::isatty(STDIN_FILENO))
        command->m_prompts = std::make_unique<TerminalPrompts>(command->m_in, context.out);
    else
        command->m_prompts = std::make_unique<FixedPrompts>(false, context.out);

    StoreServices services { command->m_net, command->m_codeSigning, command->m_host, *command->m_prefs };
    services.revealInSlices = false;
    // Restored packages are judged by the same roots as signatures.
    const QString anchorPath = anchorFolder.value_or(codesign::TrustAnchors::defaultFolder());
    command->m_gatekeeper = portableGatekeeper(gatekeeperSettings(anchorPath, std::nullopt));
    command->m_packageTools = PackageTools::forThisProgram(options.sandbox());
    command->m_packageTools->anchors = anchorPath;
    services.gatekeeper = command->m_gatekeeper.get();
    services.packageTools = &*command->m_packageTools;
    QTextStream* out = &context.out;
    // Nothing opens a browser from the command line: the page is named instead.
    services.openURL
        = [out](const QUrl& url) { *out << "Open " << url.toString() << " to continue there.\n"; };
    command->m_store = std::make_unique<Store>(services, options);
    command->m_store->setPrompts(command->m_prompts.get());
    return command;
}

QCoro::Task<> StoreCommand::load()
{
    QCoro::Task<> refreshing = m_store->refresh(false, false);
    co_await std::move(refreshing);
}

AppItem* StoreCommand::find(const QString& which, QString& problem) const
{
    QList<AppItem*> found;
    const bool isPath = which.contains(u'/');
    const QString path = QDir::cleanPath(QFileInfo(which).absoluteFilePath());
    for (AppItem* item : m_store->items()) {
        const bool matches = isPath
            ? QDir::cleanPath(item->id()) == path
            : item->app().bundleID == which || item->app().name.compare(which, Qt::CaseInsensitive) == 0;
        if (matches)
            found << item;
    }
    if (found.size() == 1)
        return found.front();
    if (found.isEmpty()) {
        problem = u"No installed app is called \u201c%1\u201d."_s.arg(which);
    } else {
        QStringList paths;
        for (const AppItem* item : std::as_const(found))
            paths << u"  "_s + item->id();
        problem = u"\u201c%1\u201d names %2 apps; give the path of one:\n"_s.arg(which).arg(found.size())
            + paths.join(u'\n');
    }
    return nullptr;
}

QString StoreCommand::line(const Leftover& leftover)
{
    QString text = (leftover.size ? byteCount(*leftover.size) : u"\u2014"_s).rightJustified(10) + u"  "_s
        + leftover.url.toLocalFile();
    if (leftover.ambiguous)
        text += u"  (may belong to another app)"_s;
    return text;
}

QString StoreCommand::describe(const AppItem& item)
{
    const StatusCard card = StatusCard::of(item);
    return item.app().name + u" \u2014 "_s + card.title + u"\n  "_s + card.message + u'\n';
}

bool StoreCommand::hasAccount(QTextStream& err, bool session)
{
    if (!m_store->cloud()) {
        err << "Accounts aren't set up in this build: it was made without its Firebase settings.\n";
        return false;
    }
    if (session && !m_store->session()) {
        err << "You're not signed in. Sign in with: corvanta account sign-in EMAIL\n";
        return false;
    }
    return true;
}

} // namespace corvanta
