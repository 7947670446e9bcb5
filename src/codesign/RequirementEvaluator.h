#pragma once

#include "codesign/Requirement.h"

#include <memory>
#include <optional>
#include <vector>

#include <QVariantMap>

typedef struct x509_st X509;

namespace corvanta::codesign {

using Certificate = std::shared_ptr<X509>;

// Wraps an OpenSSL certificate, taking one reference of its own.
Certificate shareCertificate(X509* certificate);

// What a requirement is judged against: the code's identity as its verified
// signature states it.
struct EvaluationContext {
    QString identifier;
    std::optional<QString> team;
    std::vector<QByteArray> cdhashes; // 20 bytes each, every directory of the code
    std::optional<QVariantMap> infoPlist;
    std::optional<QVariantMap> entitlements;
    std::vector<Certificate> chain; // leaf first, anchor last; empty for ad-hoc code
    // The chain verified up to one of the configured Apple roots.
    bool anchoredAtApple = false;
    std::uint8_t platform = 0;
};

// Whether the code described by `context` satisfies `requirement`.
bool satisfies(const Requirement& requirement, const EvaluationContext& context);

} // namespace corvanta::codesign
