#pragma once

#include "codesign/CodeDirectory.h"
#include "codesign/RequirementEvaluator.h"
#include "codesign/TrustAnchors.h"

#include <optional>
#include <vector>

#include <QByteArray>
#include <QDateTime>

namespace corvanta::codesign {

// What the CMS signature of a CodeDirectory proves.
struct SignerCheck {
    int status = 0; // SigningStatus
    std::vector<Certificate>
        chain; // leaf first; the verified chain, or the one the signer's certificates form
    bool anchoredAtApple = false; // the chain verifies up to a configured root
    bool expired = false; // accepted only because expiry alone doesn't reject
    std::optional<QDateTime> timestamp; // a verified RFC 3161 time
    std::optional<QDateTime> signingTime; // the signer's own claim, not trusted
};

// Verifies `cms` (BER or DER) as a detached signature over the first of
// `directories`, checks that its signed CodeDirectory hash attributes name
// every directory, and judges the signer's certificate chain against
// `anchors` at the timestamp's time, or at `now` without one.
SignerCheck checkSignature(const QByteArray& cms, const std::vector<CodeDirectory>& directories,
    const TrustAnchors& anchors, const QDateTime& now, bool considerExpiration);

// The certificate of the one signer of `cms`, read without verifying anything;
// none when the blob carries no such certificate. Remembers what it decoded.
Certificate signerCertificate(const QByteArray& cms);

// Whether `team` is one of the leaf's subject OUs: what ties a CodeDirectory's
// Team ID to the certificate that signed it.
bool certificateNamesTeam(X509* leaf, const QString& team);

} // namespace corvanta::codesign
