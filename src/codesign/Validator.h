#pragma once

#include "codesign/CmsSignature.h"
#include "codesign/CodeLocation.h"
#include "codesign/Requirement.h"
#include "codesign/Revocation.h"
#include "codesign/SignedImage.h"
#include "codesign/TrustAnchors.h"
#include "platform/CodeSigning.h"

#include <chrono>
#include <functional>
#include <optional>

#include <QDateTime>

namespace corvanta::codesign {

// Everything the verifier knows about one architecture once its signature
// has been checked.
struct SliceFacts {
    std::uint32_t cpuType = 0;
    const EmbeddedSignature* signature = nullptr;
    SignerCheck signer; // empty chain for ad-hoc code
    std::optional<QVariantMap> entitlements;
};

// Checks code on disk the way the platform's static code validity check does:
// the CMS signature and certificate chain, special slots, code pages of each
// architecture, the resource seal with nested code, and a requirement.
class Validator {
public:
    struct Settings {
        TrustAnchors anchors;
        std::uint32_t hostCpuType = CpuType::ofThisBuild();
        std::function<QDateTime()> clock;
        // What one check with enforceRevocationChecks may spend asking revocation services.
        std::chrono::milliseconds revocationDeadline { 4000 };
    };

    explicit Validator(const Settings& settings)
        : m_settings(settings)
    {
    }

    ValidityResult validate(const QString& path, std::uint32_t flags, const Requirement* requirement) const;

    // The designated requirement: explicit in the signature, or derived from
    // how the code is signed. None for unsigned or unreadable code.
    std::optional<Requirement> designatedRequirement(const QString& path) const;

private:
    // `revocation` is none without enforceRevocationChecks.
    int validateAt(const QString& path, std::uint32_t flags, const Requirement* requirement, int depth,
        RevocationChecker* revocation) const;
    int checkSlice(const CodeLocation& location, const SliceSignature& slice, std::uint32_t flags,
        SliceFacts& facts) const;
    int checkResources(
        const CodeLocation& location, std::uint32_t flags, int depth, RevocationChecker* revocation) const;
    int checkNested(const QString& path, const struct SealedResource& sealed, std::uint32_t flags, int depth,
        RevocationChecker* revocation) const;
    EvaluationContext contextFor(const CodeLocation& location, const SliceFacts& facts) const;

    const Settings& m_settings;
};

// The requirement the platform derives for code that carries none: the
// cdhash for ad-hoc code, the Developer ID or Apple shapes for code signed
// through an Apple root, the root's hash otherwise.
Requirement impliedRequirement(const QString& identifier, const std::vector<QByteArray>& cdhashes,
    const std::vector<Certificate>& chain, bool anchoredAtApple);

} // namespace corvanta::codesign
