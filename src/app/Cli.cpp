#include "app/Cli.h"

#include "app/Commands.h"

#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

struct CommandEntry {
    QStringList words; // e.g. {"inspect", "version"}
    QString synopsis;
    QString summary;
    std::function<QCoro::Task<int>(CliContext&)> run;
    bool hidden = false; // run by the program itself, left out of the usage
};

// Every command of the front end. Keep one line per command.
const std::vector<CommandEntry>& table()
{
    static const std::vector<CommandEntry> entries {
        { { u"inspect"_s, u"version"_s }, u"A [B] [--json]"_s,
            u"How A parses, and whether B is newer than A"_s, commands::inspectVersion },
        { { u"scan"_s }, u"[--sandbox DIR] [--json]"_s,
            u"The installed apps and what their bundles declare"_s, commands::scan },
        { { u"inspect"_s, u"bundle"_s }, u"PATH [--anchors DIR] [--offline] [--json]"_s,
            u"Everything read from one app bundle"_s, commands::inspectBundle },
        { { u"check"_s }, u"[--sandbox DIR] [--mock URL] [--background] [--json]"_s,
            u"Asks every source about every installed app"_s, commands::check },
        { { u"inspect"_s, u"signature"_s }, u"PATH [--anchors DIR] [--offline] [--json]"_s,
            u"The code signature of a bundle or executable, and whether it is valid"_s,
            commands::inspectSignature },
        { { u"inspect"_s, u"package"_s }, u"PATH [--anchors DIR] [--team ID] [--offline] [--json]"_s,
            u"A flat installer package: its files, signature, Gatekeeper's verdict and Corvanta's"_s,
            commands::inspectPackage },
        { { u"inspect"_s, u"electron"_s }, u"URL-OR-FILE [--json]"_s,
            u"The release an electron-updater feed names"_s, commands::inspectElectron },
        { { u"inspect"_s, u"appcast"_s }, u"URL-OR-FILE [--macos X.Y.Z] [--json]"_s,
            u"The items of a Sparkle appcast and the release offered here"_s, commands::inspectAppcast },
        { { u"inspect"_s, u"cask"_s }, u"INDEX-URL-OR-FILE --bundle-id ID --file-name NAME.app [--json]"_s,
            u"The cask the index finds for an app, and its release"_s, commands::inspectCask },
        { { u"demo"_s },
            u"[DIR] [--keep] [--headless] | --make DIR [--port N] | --serve DIR [--port N] [--latency MS]"_s,
            u"Checks and updates a demo world of sample apps; makes or serves one"_s, commands::demo },
        { { u"update"_s }, u"APP|--all [--sandbox DIR] [--mock URL] [--anchors DIR] [--yes|--no]"_s,
            u"Updates one app, or every app with an update it can install"_s, commands::update },
        { { u"ignore"_s }, u"APP [--sandbox DIR] [--mock URL]"_s, u"Stops checking an app"_s,
            commands::ignore },
        { { u"skip"_s }, u"APP [--sandbox DIR] [--mock URL]"_s, u"Skips the version an app is offered"_s,
            commands::skip },
        { { u"unignore"_s }, u"APP [--sandbox DIR] [--mock URL]"_s,
            u"Checks an ignored app again, or one whose version was skipped"_s, commands::unignore },
        { { u"leftovers"_s }, u"APP [--sandbox DIR] [--mock URL] [--json]"_s,
            u"The data an app keeps in the Library, with sizes"_s, commands::leftovers },
        { { u"uninstall"_s },
            u"APP [--data all|none|PATH...] [--permanently] [--sandbox DIR] [--mock URL] [--yes|--no]"_s,
            u"Moves an app and its data to the Trash, or deletes them"_s, commands::uninstall },
        { { u"account"_s, u"sign-up"_s }, u"EMAIL --name NAME [--firebase-config FILE] [--sandbox DIR]"_s,
            u"Creates an account; the password is read from standard input"_s, commands::accountSignUp },
        { { u"account"_s, u"sign-in"_s }, u"EMAIL [--firebase-config FILE] [--sandbox DIR]"_s,
            u"Signs in; the password is read from standard input"_s, commands::accountSignIn },
        { { u"account"_s, u"google"_s }, u"[--firebase-config FILE] [--sandbox DIR]"_s,
            u"Signs in with Google in your web browser"_s, commands::accountGoogle },
        { { u"account"_s, u"status"_s }, u"[--firebase-config FILE] [--sandbox DIR] [--json]"_s,
            u"The account this Mac is signed in to"_s, commands::accountStatus },
        { { u"account"_s, u"reset-password"_s }, u"EMAIL [--firebase-config FILE]"_s,
            u"Mails a link to choose a new password"_s, commands::accountResetPassword },
        { { u"account"_s, u"sign-out"_s }, u"[--firebase-config FILE] [--sandbox DIR]"_s,
            u"Signs out of the account"_s, commands::accountSignOut },
        { { u"account"_s, u"delete"_s }, u"[--firebase-config FILE] [--sandbox DIR]"_s,
            u"Deletes the account and its library"_s, commands::accountDelete },
        { { u"library"_s, u"sync"_s },
            u"[--firebase-config FILE] [--sandbox DIR] [--mock URL] [--device-id ID]"_s,
            u"Checks this Mac's apps and writes them to your cloud library"_s, commands::librarySync },
        { { u"library"_s, u"list"_s }, u"[--firebase-config FILE] [--sandbox DIR] [--json]"_s,
            u"The apps in your library, with the Macs that have them"_s, commands::libraryList },
        { { u"library"_s, u"devices"_s }, u"[--firebase-config FILE] [--sandbox DIR] [--json]"_s,
            u"The Macs in your library"_s, commands::libraryDevices },
        { { u"library"_s, u"remove"_s }, u"ID... [--yes] [--firebase-config FILE] [--sandbox DIR]"_s,
            u"Removes apps from your library; nothing is uninstalled"_s, commands::libraryRemove },
        { { u"restore"_s },
            u"ID...|--all [--yes|--no] [--json] [--firebase-config FILE] [--sandbox DIR] [--mock URL] [--anchors DIR]"_s,
            u"Installs apps of your library that aren't on this Mac, one at a time"_s, commands::restore },
        { { u"package"_s, u"signature"_s }, u"PATH [--anchors DIR]"_s, {}, commands::packageSignature, true },
        { { u"package"_s, u"assess"_s },
            u"PATH [--type install|execute] [--anchors DIR] [--ticket-service URL]"_s, {},
            commands::packageAssess, true },
        { { u"package"_s, u"install"_s }, u"-pkg PATH -target / [--sandbox DIR]"_s, {},
            commands::packageInstall, true },
    };
    return entries;
}

} // namespace

QString Cli::usageText()
{
    QString text = u"Usage: corvanta COMMAND [OPTIONS]\n\nCommands:\n"_s;
    for (const CommandEntry& entry : table()) {
        if (entry.hidden)
            continue;
        const QString head = entry.words.join(u' ') + u' ' + entry.synopsis;
        text += u"  "_s + head.leftJustified(44) + u' ' + entry.summary + u'\n';
    }
    return text;
}

int CliContext::usage(const QString& problem) const
{
    if (!problem.isEmpty())
        err << problem << "\n\n";
    err << Cli::usageText();
    err.flush();
    return Cli::usageError;
}

QCoro::Task<int> Cli::run(QStringList arguments)
{
    if (arguments.size() == 1
        && (arguments[0] == u"help" || arguments[0] == u"--help" || arguments[0] == u"-h")) {
        m_out << usageText();
        co_return 0;
    }
    const bool json = arguments.removeAll(u"--json"_s) > 0;
    // The longest matching command words win ("inspect version" over "inspect").
    const CommandEntry* chosen = nullptr;
    for (const CommandEntry& entry : table()) {
        if (arguments.size() >= entry.words.size() && arguments.mid(0, entry.words.size()) == entry.words
            && (!chosen || entry.words.size() > chosen->words.size()))
            chosen = &entry;
    }
    CliContext context { arguments, m_out, m_err, json };
    if (!chosen) {
        co_return context.usage(
            arguments.isEmpty() ? QString() : u"Unknown command \u201c%1\u201d."_s.arg(arguments.join(u' ')));
    }
    context.arguments = arguments.mid(chosen->words.size());
    const int code = co_await chosen->run(context);
    m_out.flush();
    m_err.flush();
    co_return code;
}

} // namespace corvanta
