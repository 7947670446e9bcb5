#include "app/Commands.h"
#include "base/Error.h"
#include "codesign/TrustAnchors.h"
#include "package/PackageInstaller.h"
#include "package/PortableGatekeeper.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvanta {

// The sub-commands the administrator script runs in place of pkgutil, spctl
// and installer. They print what those tools print and exit as they do.

namespace {

// Takes `--name VALUE` out of `arguments`; false when the value is missing.
bool take(QStringList& arguments, const QString& name, std::optional<QString>& value)
{
    const qsizetype at = arguments.indexOf(name);
    if (at < 0)
        return true;
    if (at + 1 >= arguments.size())
        return false;
    value = arguments[at + 1];
    arguments.remove(at, 2);
    return true;
}

std::optional<GatekeeperSettings> settingsFrom(QStringList& arguments)
{
    std::optional<QString> anchors;
    std::optional<QString> tickets;
    if (!take(arguments, u"--anchors"_s, anchors) || !take(arguments, u"--ticket-service"_s, tickets))
        return std::nullopt;
    return gatekeeperSettings(anchors.value_or(codesign::TrustAnchors::defaultFolder()), tickets);
}

} // namespace

QCoro::Task<int> commands::packageSignature(CliContext& context)
{
    QStringList arguments = context.arguments;
    const auto settings = settingsFrom(arguments);
    if (!settings || arguments.size() != 1)
        co_return context.usage(u"package signature takes one package."_s);
    const ToolReport report = portableGatekeeper(*settings)->checkSignature(arguments[0]);
    context.out << report.text;
    co_return report.status;
}

QCoro::Task<int> commands::packageAssess(CliContext& context)
{
    QStringList arguments = context.arguments;
    const auto settings = settingsFrom(arguments);
    std::optional<QString> type;
    if (!settings || !take(arguments, u"--type"_s, type) || arguments.size() != 1
        || (type && *type != u"install" && *type != u"execute"))
        co_return context.usage(u"package assess takes one package or app and --type install|execute."_s);
    const ToolReport report = portableGatekeeper(*settings)->assess(arguments[0],
        type == u"execute"_s ? Gatekeeper::Assessment::execute : Gatekeeper::Assessment::install);
    context.out << report.text;
    co_return report.status;
}

QCoro::Task<int> commands::packageInstall(CliContext& context)
{
    QStringList arguments = context.arguments;
    std::optional<QString> package;
    std::optional<QString> target;
    std::optional<QString> sandbox;
    if (!take(arguments, u"-pkg"_s, package) || !take(arguments, u"-target"_s, target)
        || !take(arguments, u"--sandbox"_s, sandbox) || !package || target != u"/"_s || !arguments.isEmpty())
        co_return context.usage(u"package install takes -pkg PACKAGE -target / [--sandbox DIR]."_s);
    context.out << u"installer: Package name is %1\n"_s.arg(QFileInfo(*package).fileName());
    context.out << u"installer: Installing at base path %1\n"_s.arg(sandbox.value_or(u"/"_s));
    try {
        for (const QString& installed : installPackage(*package, sandbox))
            context.out << u"installer: Installed %1\n"_s.arg(installed);
    } catch (const Error& error) {
        context.err << u"installer: Error - "_s << error.description() << '\n';
        co_return 1;
    }
    context.out << u"installer: The install was successful.\n"_s;
    co_return 0;
}

} // namespace corvanta
