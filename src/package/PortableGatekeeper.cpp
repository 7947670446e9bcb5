#include "package/PortableGatekeeper.h"

#include "codesign/CmsSignature.h"
#include "codesign/CodeLocation.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/Revocation.h"
#include "codesign/SignedImage.h"
#include "package/PackageSignature.h"
#include "package/SignatureReport.h"
#include "package/TicketService.h"

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

using Facts = Gatekeeper::Facts;

const QString developerIdRequirement
    = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] "
      u"exists and certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;

class PortableVerifier : public Gatekeeper::Verifier {
public:
    explicit PortableVerifier(GatekeeperSettings settings)
        : m_settings(std::move(settings))
    {
        if (!m_settings.clock)
            m_settings.clock = [] { return QDateTime::currentDateTimeUtc(); };
    }

    ToolReport packageReport(const QString& package) const override
    {
        return signatureReport(package, m_settings.anchors, m_settings.clock());
    }

    Facts facts(const QString& path, Gatekeeper::Assessment type) const override
    {
        return type == Gatekeeper::Assessment::install ? package(path) : code(path);
    }

private:
    Facts package(const QString& path) const
    {
        Facts facts;
        PackageSignature signature;
        try {
            signature
                = PackageSignature::check(xar::Archive::open(path), m_settings.anchors, m_settings.clock());
        } catch (const Error& error) {
            facts.problem = error.description();
            return facts;
        }
        using State = PackageSignature::State;
        facts.isSigned = signature.isSigned();
        facts.valid = facts.isSigned && signature.state != State::invalid;
        facts.developerId = signature.state == State::developerId;
        if (!signature.chain.empty())
            facts.origin = displayName(signature.chain.front());
        // Notarization records packages under SHA-1 or SHA-256 checksums only.
        if (signature.hashType != xar::HashType::sha512)
            facts.hash = Gatekeeper::NotaryHash { signature.hashType == xar::HashType::sha1 ? 1 : 2,
                signature.hash };
        switch (signature.state) {
        case State::invalid:
            facts.problem = signature.problem;
            break;
        case State::untrusted:
            facts.problem = u"its certificates lead to no trusted root"_s;
            break;
        case State::expired:
            facts.problem = u"a certificate of its signature has expired"_s;
            break;
        case State::anchored:
            facts.problem = u"it isn't signed with a Developer ID Installer certificate"_s;
            break;
        default:
            break;
        }
        if (facts.developerId && m_settings.checkRevocation) {
            codesign::RevocationChecker revocation(m_settings.revocationDeadline);
            facts.revoked = !revocation.passes(signature.chain);
            facts.revocationNote = revocation.note();
        }
        return facts;
    }

    Facts code(const QString& path) const
    {
        Facts facts;
        const auto location = codesign::CodeLocation::locate(path);
        const auto image = location && !location->executablePath.isEmpty()
            ? codesign::SignedImage::open(location->executablePath)
            : std::nullopt;
        codesign::PortableCodeSigning signing(m_settings.anchors);
        signing.setClock(m_settings.clock);
        signing.setRevocationDeadline(m_settings.revocationDeadline);
        const codesign::SliceSignature* slice = image ? &image->preferred(signing.hostCpuType()) : nullptr;
        if (!slice || !slice->signature) {
            facts.problem = u"the code isn't signed"_s;
            return facts;
        }
        facts.isSigned = true;
        const codesign::CodeDirectory& best = slice->signature->best();
        facts.hash = Gatekeeper::NotaryHash { int(best.hashType), best.cdhash() };
        if (const codesign::Certificate leaf
            = codesign::signerCertificate(slice->signature->cms.value_or(QByteArray())))
            facts.origin = displayName(leaf);
        std::uint32_t flags = ValidityFlags::installer;
        if (!m_settings.checkRevocation)
            flags &= ~ValidityFlags::enforceRevocationChecks;
        const ValidityResult validity = signing.checkValidity(path, flags);
        if (validity.status == SigningStatus::certificateRevoked) {
            facts.valid = true;
            facts.revoked = true;
            return facts;
        }
        if (!validity.isValid()) {
            facts.problem = validity.message.value_or(u"error %1"_s.arg(validity.status));
            return facts;
        }
        facts.valid = true;
        facts.revocationNote = validity.revocationNote;
        facts.developerId = signing
                                .checkValidity(path, flags & ~ValidityFlags::enforceRevocationChecks,
                                    developerIdRequirement)
                                .isValid();
        if (!facts.developerId)
            facts.problem = u"it isn't signed with a Developer ID Application certificate"_s;
        return facts;
    }

    GatekeeperSettings m_settings;
};

} // namespace

std::unique_ptr<Gatekeeper> portableGatekeeper(GatekeeperSettings settings)
{
    std::shared_ptr<const Gatekeeper::TicketService> tickets;
    if (settings.ticketService)
        tickets = std::make_shared<TicketLookup>(*settings.ticketService);
    return Gatekeeper::create(std::make_shared<PortableVerifier>(std::move(settings)), std::move(tickets));
}

GatekeeperSettings gatekeeperSettings(
    const QString& anchorFolder, const std::optional<QString>& ticketService)
{
    GatekeeperSettings settings;
    settings.anchors = codesign::TrustAnchors::fromFolder(anchorFolder);
    settings.ticketService = ticketService ? QUrl(*ticketService) : TicketLookup::appleEndpoint();
    return settings;
}

} // namespace corvanta
