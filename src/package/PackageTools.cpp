#include "package/PackageTools.h"

#include "codesign/TrustAnchors.h"
#include "install/UpdateError.h"
#include "package/RootCommand.h"

#include <QCoreApplication>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString quoted(const QString& path)
{
    return u'\'' + path + u'\'';
}

} // namespace

ScriptTools ScriptTools::macOS()
{
    return { u"/private/tmp"_s, u"/usr/bin/shasum -a 256 -c -"_s, u"/usr/sbin/pkgutil --check-signature"_s,
        u"/usr/sbin/spctl --assess --type install"_s, u"/usr/sbin/installer"_s };
}

ScriptTools PackageTools::script() const
{
    for (const QString& path : { program, anchors, sandbox.value_or(u"/"_s) }) {
        if (!isPlainPath(path) && path != u"/")
            throw UpdateError(u"Corvanta can't pass %1 to the administrator step: the path has unexpected "
                              u"characters. Refusing to run the installer."_s.arg(path));
    }
    static const QRegularExpression address(u"^https?://[A-Za-z0-9.:/_-]+$"_s);
    if (ticketService && !address.match(*ticketService).hasMatch())
        throw UpdateError(u"Corvanta can't pass the ticket service's address %1 to the administrator step. "
                          u"Refusing to run the installer."_s.arg(*ticketService));
    const QString self = quoted(program);
    const QString trust = u" --anchors "_s + quoted(anchors);
    return { u"/tmp"_s, u"/usr/bin/sha256sum -c -"_s, self + u" package signature"_s + trust,
        self + u" package assess"_s + trust
            + (ticketService ? u" --ticket-service "_s + quoted(*ticketService) : QString()),
        self + u" package install"_s + (sandbox ? u" --sandbox "_s + quoted(*sandbox) : QString()) };
}

PackageTools PackageTools::forThisProgram(const std::optional<QString>& sandbox)
{
    PackageTools tools;
    tools.program = QCoreApplication::applicationFilePath();
    tools.anchors = codesign::TrustAnchors::defaultFolder();
    tools.sandbox = sandbox;
    if (sandbox)
        tools.escalation.reset();
    return tools;
}

} // namespace corvanta
