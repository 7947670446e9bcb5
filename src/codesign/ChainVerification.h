#pragma once

#include "codesign/RequirementEvaluator.h"
#include "codesign/TrustAnchors.h"

#include <vector>

#include <QDateTime>

#include <openssl/x509.h>

namespace corvanta::codesign {

enum class ChainOutcome { trusted, untrusted, expired, notYetValid };

struct ChainResult {
    ChainOutcome outcome = ChainOutcome::untrusted;
    std::vector<Certificate> chain; // leaf first, to the anchor; empty unless trusted
};

// A chain longer than this is not one a signer would present.
constexpr int maxChainLength = 10;

// Verifies `leaf` through the `untrusted` certificates it came with to one
// of the trust anchors, with OpenSSL's path validation, at `at` or, without
// `checkTime`, at no time at all (to tell an expired chain from a foreign one).
ChainResult verifyChain(
    X509* leaf, STACK_OF(X509) * untrusted, const TrustAnchors& anchors, const QDateTime& at, bool checkTime);

} // namespace corvanta::codesign
