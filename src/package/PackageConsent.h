#pragma once

#include <QString>

namespace corvanta {

// What the user is asked before an installer package runs as root.
struct PackageConsent {
    QString app; // the app's display name
    QString signer; // the leaf certificate's subject
    QString team; // the Team ID that passed the package checks
    bool notarized = false;
    bool sameTeam = false; // matched against the developer the library has on record
    bool checksum = false; // matched against the SHA-256 the source published

    friend bool operator==(const PackageConsent&, const PackageConsent&) = default;
};

} // namespace corvanta
