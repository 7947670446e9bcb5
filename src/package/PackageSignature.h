#pragma once

#include "codesign/RequirementEvaluator.h"
#include "codesign/TrustAnchors.h"
#include "package/Xar.h"

#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace corvanta {

// What a flat package's classic (RSA) signature proves: the signature over
// the TOC checksum, the TOC against that checksum, every file's bytes against
// the TOC, and the certificates against the trust anchors at a given time.
struct PackageSignature {
    enum class State {
        none, // not signed
        unsupported, // only a CMS signature, which isn't checked here
        invalid, // the signature, the checksum or the contents don't hold
        untrusted, // valid, but the certificates lead to no trust anchor
        expired, // leads to a trust anchor, but a certificate wasn't valid at the time
        anchored, // leads to a trust anchor, but isn't a Developer ID Installer certificate
        developerId, // a Developer ID Installer certificate under the Developer ID authority
    };

    State state = State::none;
    QString problem; // why the signature is invalid
    // The signer first: the verified chain once anchored, else as stored.
    std::vector<codesign::Certificate> chain;
    // What the notary service records the package under: its TOC checksum.
    xar::HashType hashType = xar::HashType::sha1;
    QByteArray hash;

    bool isSigned() const { return state != State::none && state != State::unsupported; }

    static PackageSignature check(
        const xar::Archive& archive, const codesign::TrustAnchors& anchors, const QDateTime& now);
};

// Apple's marks on Developer ID certificates: the intermediate authority's,
// and the installer leaf's (the application leaf carries ...6.1.13).
inline constexpr const char* developerIdAuthorityMark = "1.2.840.113635.100.6.2.6";
inline constexpr const char* developerIdInstallerMark = "1.2.840.113635.100.6.1.14";

// Whether the certificate carries the extension `oid`.
bool hasExtension(const codesign::Certificate& certificate, const char* oid);
// The subject's common name, else its one-line form, with control characters
// (line breaks among them) replaced, so a name can never add a line to a report.
QString displayName(const codesign::Certificate& certificate);
// `text` with every control or line-separator character replaced by U+FFFD.
QString withoutControls(QString text);

} // namespace corvanta
