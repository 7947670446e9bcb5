#pragma once

#include <optional>

#include <QString>

namespace corvanta {

// Team and identifier of a piece of signed code; both none for unsigned code,
// and the team none for ad-hoc and linker-signed code.
struct SigningInformation {
    std::optional<QString> team;
    std::optional<QString> identifier;
};

// The platform's code-signing services (the Security framework on macOS; our
// own Mach-O signature reader and verifier elsewhere).
class CodeSigning {
public:
    virtual ~CodeSigning() = default;

    // Signing information of the bundle or executable at `path`. Never throws.
    virtual SigningInformation signing(const QString& path) const = 0;
};

} // namespace corvanta
