#pragma once

// The install world with what first installs add: Gatekeeper over the test
// authority, a ticket service on the test server, this program's package
// tools run without escalation, and the library's record of the app.

#include "../install/InstallWorld.h"
#include "account/LibraryApp.h"
#include "package/PackageConsent.h"
#include "package/PackageTools.h"
#include "package/PortableGatekeeper.h"
#include "package/TicketService.h"
#include "support/XarWriter.h"

#include <set>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvanta::test {

// What a first install ended with.
struct FirstOutcome {
    std::optional<FirstInstall> installed;
    std::optional<QString> error;
    bool final = false;
    QList<PackageConsent> asked;
};

class PackageWorld : public InstallWorld {
protected:
    PackageWorld()
    {
        QDir().mkpath(anchors());
        QFile root(anchors() + u"/root.cer"_s);
        if (root.open(QIODevice::WriteOnly))
            root.write(m_authority.rootDer());
        m_server.on(u"/tickets"_s, [this](const RecordedRequest& request) {
            const QString name = QJsonDocument::fromJson(request.body)
                                     .object()[u"records"_s]
                                     .toArray()
                                     .at(0)[u"recordName"_s]
                                     .toString();
            const QJsonObject record = m_notarized.count(name)
                ? QJsonObject { { u"recordName"_s, name },
                      { u"fields"_s,
                          QJsonObject { { u"signedTicket"_s,
                              QJsonObject { { u"type"_s, u"BYTES"_s }, { u"value"_s, u"dGlja2V0"_s } } } } } }
                : QJsonObject { { u"recordName"_s, name }, { u"serverErrorCode"_s, u"NOT_FOUND"_s } };
            return Response::json(
                QJsonDocument(QJsonObject { { u"records"_s, QJsonArray { record } } }).toJson());
        });
        GatekeeperSettings settings;
        settings.anchors = m_authority.anchors();
        settings.ticketService = m_server.url(u"/tickets"_s);
        m_gatekeeper = portableGatekeeper(settings);
        m_tools.program = QStringLiteral(CORVANTA_BINARY);
        m_tools.anchors = anchors();
        m_tools.ticketService = m_server.url(u"/tickets"_s).toString();
        m_tools.sandbox = m_sandbox.applications();
        m_tools.escalation.reset();
    }

    // The test authority's root, where this program's package sub-commands read it.
    QString anchors() const { return m_sandbox.root() + u"/anchors"_s; }

    Updater updater()
    {
        Updater::Services services = m_services.services();
        services.gatekeeper = m_gatekeeper.get();
        services.packageTools = &m_tools;
        return Updater(services, m_sandbox.applications(), m_sandbox.trash());
    }

    // The ticket service confirms this package (its TOC checksum) from now on.
    void notarize(const QString& package)
    {
        const xar::Archive archive = xar::Archive::open(package);
        m_notarized.insert(TicketLookup::recordName(
            { archive.checksumType() == xar::HashType::sha1 ? 1 : 2, archive.storedChecksum() }));
    }
    void notarizeCode(const Gatekeeper::NotaryHash& hash)
    {
        m_notarized.insert(TicketLookup::recordName(hash));
    }

    // "Foo.pkg": Foo.app (signed by `appTeam`) for /Applications, signed by
    // the installer identity, in `folder`.
    QString makePackage(const QString& folder, const std::optional<codesign::SigningIdentity>& signer,
        XarWriter::Tamper tamper = XarWriter::Tamper::none,
        PayloadCompression compression = PayloadCompression::gzip)
    {
        const QString root = m_sandbox.root() + u"/payload-root"_s;
        QDir(root).removeRecursively();
        makeApp(root, { .version = u"2.0"_s, .team = u"TEAMAAAAAA"_s, .seed = 2 });
        XarWriter writer = componentPackage(root, u"/Applications"_s, compression);
        if (signer)
            writer.sign(*signer);
        return writer.write(folder + u"/Foo.pkg"_s, tamper);
    }

    FirstOutcome installFirst(const LibraryApp& app, const QList<Release>& releases, bool agree = true,
        std::function<void()> whileAsked = {})
    {
        FirstOutcome outcome;
        const Updater installer = updater();
        const ConsentCallback consent
            = [&outcome, agree, whileAsked](PackageConsent asked) -> QCoro::Task<bool> {
            outcome.asked.append(asked);
            if (whileAsked)
                whileAsked();
            co_return agree;
        };
        try {
            outcome.installed
                = await(installer.installFirst(app, releases, consent, {}), std::chrono::seconds(60));
        } catch (const UpdateError& error) {
            outcome.error = error.description();
            outcome.final = error.final();
        }
        return outcome;
    }

    static LibraryApp library(std::optional<QString> team = QStringLiteral("TEAMAAAAAA"))
    {
        LibraryApp app;
        app.id = u"com.example.foo"_s;
        app.name = u"Foo"_s;
        app.team = std::move(team);
        return app;
    }

    std::set<QString> m_notarized;
    std::unique_ptr<Gatekeeper> m_gatekeeper;
    PackageTools m_tools;
};

} // namespace corvanta::test
