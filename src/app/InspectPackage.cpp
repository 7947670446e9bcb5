#include "app/Commands.h"
#include "codesign/TrustAnchors.h"
#include "install/UpdateError.h"
#include "install/Updater.h"
#include "package/PackageCheck.h"
#include "package/PackageSignature.h"
#include "package/PackageSigner.h"
#include "package/PortableGatekeeper.h"
#include "package/Xar.h"

#include <QCoro/QCoroFuture>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString kindName(xar::Entry::Kind kind)
{
    switch (kind) {
    case xar::Entry::Kind::file:
        return u"file"_s;
    case xar::Entry::Kind::directory:
        return u"folder"_s;
    case xar::Entry::Kind::symlink:
        return u"link"_s;
    case xar::Entry::Kind::other:
        break;
    }
    return u"other"_s;
}

// Everything the command prints, found off the main thread.
struct Inspection {
    std::vector<xar::Entry> entries;
    QString checksum;
    bool checksumMatches = false;
    ToolReport report;
    ToolReport assessment;
    PackageSigner signer;
    QString verdict;
    bool runs = false;
};

Inspection inspect(
    const QString& path, const GatekeeperSettings& settings, const std::optional<QString>& team)
{
    Inspection found;
    const xar::Archive archive = xar::Archive::open(path);
    found.entries = archive.entries();
    found.checksum = xar::hashName(archive.checksumType()) + u' '
        + QString::fromLatin1(archive.storedChecksum().toHex());
    found.checksumMatches = archive.checksumMatches();
    const std::unique_ptr<Gatekeeper> gatekeeper = portableGatekeeper(settings);
    found.report = gatekeeper->checkSignature(path);
    found.assessment = gatekeeper->assess(path, Gatekeeper::Assessment::install);
    found.signer = PackageSigner::parse(
        found.report.text, found.report.status, found.assessment.text, found.assessment.status);
    try {
        found.verdict = u"runs after consent, for team "_s + checkPackage(found.signer, u"The app"_s, team);
        found.runs = true;
    } catch (const UpdateError& refusal) {
        found.verdict = refusal.description();
    }
    return found;
}

} // namespace

QCoro::Task<int> commands::inspectPackage(CliContext& context)
{
    QStringList arguments = context.arguments;
    const auto option = [&arguments](const QString& name) -> std::optional<QString> {
        const qsizetype at = arguments.indexOf(name);
        if (at < 0 || at + 1 >= arguments.size())
            return std::nullopt;
        const QString value = arguments[at + 1];
        arguments.remove(at, 2);
        return value;
    };
    const bool offline = arguments.removeAll(u"--offline"_s) > 0;
    const QString anchors = option(u"--anchors"_s).value_or(codesign::TrustAnchors::defaultFolder());
    const std::optional<QString> tickets = option(u"--ticket-service"_s);
    const std::optional<QString> team = option(u"--team"_s);
    if (arguments.size() != 1 || arguments[0].startsWith(u"--"_s))
        co_return context.usage(u"inspect package takes one flat package."_s);
    const QString path = arguments[0];
    GatekeeperSettings settings = gatekeeperSettings(anchors, tickets);
    if (offline) {
        settings.ticketService.reset();
        settings.checkRevocation = false;
    }

    Inspection found;
    try {
        auto inspecting = Updater::blocking([path, settings, team] { return inspect(path, settings, team); });
        found = co_await std::move(inspecting);
    } catch (const Error& error) {
        context.err << error.description() << '\n';
        co_return 1;
    }

    const auto leafTeam = found.signer.team();
    if (context.json) {
        QJsonArray files;
        for (const xar::Entry& entry : found.entries) {
            QJsonObject file { { u"path"_s, entry.path }, { u"kind"_s, kindName(entry.kind) } };
            if (entry.data) {
                file[u"size"_s] = qint64(entry.data->size);
                file[u"encoding"_s] = entry.data->encoding;
            }
            if (entry.kind == xar::Entry::Kind::symlink)
                file[u"link"_s] = entry.link;
            files.append(file);
        }
        const QJsonObject document { { u"path"_s, path }, { u"files"_s, files },
            { u"checksum"_s, found.checksum }, { u"checksumMatches"_s, found.checksumMatches },
            { u"status"_s, found.signer.status },
            { u"leaf"_s, found.signer.leaf ? QJsonValue(*found.signer.leaf) : QJsonValue() },
            { u"team"_s, leafTeam ? QJsonValue(*leafTeam) : QJsonValue() },
            { u"trusted"_s, found.signer.trusted }, { u"accepted"_s, found.signer.accepted },
            { u"notarized"_s, found.signer.notarized },
            { u"signatureReport"_s,
                QJsonArray::fromStringList(found.report.text.split(u'\n', Qt::SkipEmptyParts)) },
            { u"assessment"_s,
                QJsonArray::fromStringList(found.assessment.text.split(u'\n', Qt::SkipEmptyParts)) },
            { u"runs"_s, found.runs }, { u"verdict"_s, found.verdict } };
        context.out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        co_return 0;
    }
    context.out << u"Files:"_s << '\n';
    for (const xar::Entry& entry : found.entries) {
        context.out << u"  "_s << withoutControls(entry.path) << u"  ("_s << kindName(entry.kind);
        if (entry.data)
            context.out << u", %1 bytes"_s.arg(entry.data->size);
        context.out << u")\n"_s;
    }
    context.out << u"TOC checksum: "_s << found.checksum
                << (found.checksumMatches ? u" (matches)"_s : u" (DOESN'T MATCH)"_s) << '\n';
    context.out << u"Signature report:\n"_s << found.report.text;
    context.out << u"Assessment:\n"_s << found.assessment.text;
    context.out << u"Team: "_s << leafTeam.value_or(u"none"_s) << '\n';
    context.out << u"Verdict: "_s << found.verdict << '\n';
    co_return 0;
}

} // namespace corvanta
