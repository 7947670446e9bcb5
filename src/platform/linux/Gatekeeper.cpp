#include "platform/Gatekeeper.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// spctl's exit status for a rejection.
constexpr int rejected = 3;

class LinuxGatekeeper : public Gatekeeper {
public:
    LinuxGatekeeper(std::shared_ptr<const Verifier> verifier, std::shared_ptr<const TicketService> tickets)
        : m_verifier(std::move(verifier))
        , m_tickets(std::move(tickets))
    {
    }

    ToolReport checkSignature(const QString& package) const override
    {
        return m_verifier->packageReport(package);
    }

    ToolReport assess(const QString& path, Assessment type) const override
    {
        const Facts facts = m_verifier->facts(path, type);
        QStringList lines;
        const auto finish = [&](bool accepted, const QString& source) {
            lines.prepend(u"source="_s + source);
            lines.prepend(path + (accepted ? u": accepted"_s : u": rejected"_s));
            if (facts.origin)
                lines.append(u"origin="_s + *facts.origin);
            return ToolReport { accepted ? 0 : rejected, lines.join(u'\n') + u'\n' };
        };
        if (!facts.isSigned)
            return finish(false, u"no usable signature"_s);
        if (!facts.valid)
            return finish(false, u"invalid signature ("_s + facts.problem + u')');
        if (facts.revoked)
            return finish(false, u"revoked Developer ID"_s);
        if (!facts.developerId)
            return finish(false, u"not a Developer ID ("_s + facts.problem + u')');
        if (facts.revocationNote)
            lines.append(u"revocation="_s + *facts.revocationNote);
        // Notarized only when the ticket service says so: a ticket that can't
        // be checked, or a service that can't be asked, proves nothing.
        if (!m_tickets) {
            lines.append(u"notarization=not established (no ticket service is configured)"_s);
            return finish(true, u"Developer ID"_s);
        }
        if (!facts.hash) {
            lines.append(u"notarization=not established (the signature names no hash to look up)"_s);
            return finish(true, u"Developer ID"_s);
        }
        const TicketService::Result ticket = m_tickets->lookup(*facts.hash);
        switch (ticket.answer) {
        case TicketService::Answer::confirmed:
            return finish(true, u"Notarized Developer ID"_s);
        case TicketService::Answer::unknown:
            lines.append(u"notarization=none (the ticket service holds no ticket for this hash)"_s);
            break;
        case TicketService::Answer::unreachable:
            lines.append(u"notarization=not established ("_s + ticket.detail + u')');
            break;
        }
        return finish(true, u"Developer ID"_s);
    }

private:
    std::shared_ptr<const Verifier> m_verifier;
    std::shared_ptr<const TicketService> m_tickets;
};

} // namespace

std::unique_ptr<Gatekeeper> Gatekeeper::create(
    std::shared_ptr<const Verifier> verifier, std::shared_ptr<const TicketService> tickets)
{
    return std::make_unique<LinuxGatekeeper>(std::move(verifier), std::move(tickets));
}

} // namespace corvanta
