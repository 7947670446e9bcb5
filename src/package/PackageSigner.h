#pragma once

#include <optional>

#include <QString>

namespace corvanta {

// What the system says about an installer package's signature, read from the
// package signature report and the Gatekeeper assessment.
struct PackageSigner {
    QString status; // the "Status: " line's value; empty without one
    std::optional<QString> leaf; // the subject of certificate 1
    bool trusted = false; // the report's tool said yes, for an Apple Developer ID distribution signature
    bool notarized = false; // the assessment said "source=Notarized Developer ID"
    bool accepted = false; // the assessment accepted the package for installation

    // The 10-character Team ID that ends a "Developer ID Installer: " leaf
    // in parentheses; none for any other leaf.
    std::optional<QString> team() const;

    static PackageSigner parse(const QString& pkgutil, int exit, const QString& spctl, int spctlExit);

    static inline const QString trustedStatus
        = QStringLiteral("signed by a developer certificate issued by Apple for distribution");
    static inline const QString installerPrefix = QStringLiteral("Developer ID Installer: ");
};

} // namespace corvanta
