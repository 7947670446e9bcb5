#pragma once

#include "demo/BundleSigner.h"
#include "demo/DemoAuthority.h"

namespace corvanta::demo {

// Signs the world's bundles as their developers would: Developer ID
// signatures from the demo authority (one leaf per team), or ad hoc.
class DemoSigner : public BundleSigner {
public:
    DemoSigner() = default;

    void sign(const QString& bundle, const Signature& signature) override;
    QByteArray trustAnchorPem() const override { return m_authority.rootPem(); }
    std::optional<codesign::SigningIdentity> installer(const Signature& signature) override;

    DemoAuthority& authority() { return m_authority; }

private:
    DemoAuthority m_authority;
};

} // namespace corvanta::demo
