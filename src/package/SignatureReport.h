#pragma once

#include "codesign/TrustAnchors.h"
#include "platform/Gatekeeper.h"

#include <QDateTime>

namespace corvanta {

// The package signature report of the flat package at `path`, line for line
// as "pkgutil --check-signature" prints it:
//
//   Package "Foo.pkg":
//      Status: signed by a developer certificate issued by Apple for distribution
//      Certificate Chain:
//       1. Developer ID Installer: Foo Inc (ABCDE12345)
//          Expires: 2030-01-01 00:00:00 +0000
//          SHA256 Fingerprint:
//              …
//
// Status 0 only for a valid signature that leads to a trust anchor. Names
// never carry a line break, so no certificate can add a line of its own.
ToolReport signatureReport(const QString& path, const codesign::TrustAnchors& anchors, const QDateTime& now);

// The "Status: " texts of the report besides PackageSigner::trustedStatus.
namespace SignatureStatus {
inline const QString anchored = QStringLiteral("signed by a certificate trusted by macOS");
inline const QString untrusted = QStringLiteral("signed by untrusted certificate");
inline const QString expired = QStringLiteral("signed by a certificate that has since expired");
inline const QString none = QStringLiteral("no signature");
inline const QString unsupported
    = QStringLiteral("unsupported signature (only a CMS signature, which isn't checked)");
} // namespace SignatureStatus

} // namespace corvanta
