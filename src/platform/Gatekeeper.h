#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>

namespace corvanta {

// The exit status and the merged output of a system check, line for line as
// the tool prints them; status -1 when it couldn't run.
struct ToolReport {
    int status = -1;
    QString text;
};

// Who signed a flat package, and what Gatekeeper makes of code or a package:
// "/usr/sbin/pkgutil --check-signature" and "/usr/sbin/spctl --assess" on
// macOS; here our own verifiers, printing the lines those tools print. Calls
// block (revocation and ticket services are asked); run them off the main thread.
class Gatekeeper {
public:
    enum class Assessment { install, execute };

    virtual ~Gatekeeper() = default;

    // The package signature report: a "Status: " line and, when signed, the
    // certificate chain as "1. <name>", "2. <name>"…; status 0 when the
    // signature is valid and trusted.
    virtual ToolReport checkSignature(const QString& package) const = 0;

    // The assessment ("--type install" for packages, "execute" for apps,
    // "-vv"): "<path>: accepted" or "<path>: rejected", then "source=…" and
    // "origin=…" lines; status 0 when accepted.
    virtual ToolReport assess(const QString& path, Assessment type) const = 0;

    // ---- The Linux assessment, made of parts the composition root supplies.

    // What Apple's notary service records code under: the code-directory hash
    // of an app (type 2 for SHA-256), the TOC checksum of a package (1 for SHA-1).
    struct NotaryHash {
        int type = 2;
        QByteArray bytes;
    };

    // What our own verifier proves about a signature.
    struct Facts {
        bool isSigned = false;
        bool valid = false; // the signature holds over every byte it covers
        // It chains to the Developer ID authority under a trust anchor, its
        // leaf marked for the assessment's type (application or installer).
        bool developerId = false;
        bool revoked = false;
        std::optional<QString> revocationNote; // why revocation couldn't be asked
        QString problem; // why it isn't valid or isn't Developer ID
        std::optional<QString> origin; // the signer's name
        std::optional<NotaryHash> hash;
    };

    class Verifier {
    public:
        virtual ~Verifier() = default;
        virtual Facts facts(const QString& path, Assessment type) const = 0;
        virtual ToolReport packageReport(const QString& package) const = 0;
    };

    // Asks Apple's ticket service whether it holds a notarization ticket for a hash.
    class TicketService {
    public:
        enum class Answer { confirmed, unknown, unreachable };
        struct Result {
            Answer answer = Answer::unreachable;
            QString detail; // why it couldn't be asked
        };
        virtual ~TicketService() = default;
        virtual Result lookup(const NotaryHash& hash) const = 0;
    };

    // The Linux Gatekeeper: accepted when the signature is valid, Developer ID
    // and not revoked; notarized only when `tickets` confirms the hash (none:
    // never notarized).
    static std::unique_ptr<Gatekeeper> create(
        std::shared_ptr<const Verifier> verifier, std::shared_ptr<const TicketService> tickets);
};

} // namespace corvanta
