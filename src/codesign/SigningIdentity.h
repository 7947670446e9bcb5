#pragma once

#include "codesign/RequirementEvaluator.h"

#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

typedef struct evp_pkey_st EVP_PKEY;

namespace corvanta::codesign {

// Who signs: a private key, its certificate and the certificates that lead
// from it to a root (issuer first).
struct SigningIdentity {
    std::shared_ptr<EVP_PKEY> key;
    Certificate leaf;
    std::vector<Certificate> chain;

    // From a PEM private key and PEM certificates (the leaf first, then its
    // issuers); none when either can't be read or the key doesn't fit the leaf.
    static std::optional<SigningIdentity> fromPem(
        const QByteArray& keyPem, const QByteArray& certificatesPem);

    // The leaf's subject OU: the team of a Developer ID certificate.
    std::optional<QString> team() const;
};

} // namespace corvanta::codesign
