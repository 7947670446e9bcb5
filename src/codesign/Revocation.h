#pragma once

#include "codesign/RequirementEvaluator.h"

#include <chrono>
#include <optional>
#include <set>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta::codesign {

// Asks the OCSP responder each certificate names in its Authority Information
// Access whether the certificate has been revoked. One checker serves one
// validity check: its deadline covers every question that check asks, and a
// responder that couldn't be asked once isn't asked again within it. Answers
// are kept for the process: a revocation for good, a good answer until its
// nextUpdate.
class RevocationChecker {
public:
    explicit RevocationChecker(std::chrono::milliseconds deadline);

    // Checks every certificate of `chain` (leaf first, each issued by the
    // next) that names a responder; the root is never asked about. False
    // when one of them is revoked.
    bool passes(const std::vector<Certificate>& chain);

    // Why a check couldn't be made, as one sentence for the install log; the
    // first such reason of this checker, none when every question was answered.
    const std::optional<QString>& note() const { return m_note; }

private:
    enum class Answer { good, revoked, unknown };
    Answer ask(X509* certificate, X509* issuer);

    std::chrono::steady_clock::time_point m_deadline;
    std::set<QByteArray> m_unanswered; // digests of certificates that couldn't be checked
    std::optional<QString> m_note;
};

} // namespace corvanta::codesign
