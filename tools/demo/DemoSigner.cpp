#include "demo/DemoSigner.h"

#include "codesign/CodeSigner.h"

namespace corvanta::demo {

void DemoSigner::sign(const QString& bundle, const Signature& signature)
{
    codesign::SigningOptions options;
    if (signature.kind == Signature::Kind::developerID)
        options.identity = m_authority.developerID(signature.team, signature.developer);
    codesign::CodeSigner(options).sign(bundle);
}

std::optional<codesign::SigningIdentity> DemoSigner::installer(const Signature& signature)
{
    if (signature.kind != Signature::Kind::developerID)
        return std::nullopt;
    return m_authority.developerIDInstaller(signature.team, signature.developer);
}

} // namespace corvanta::demo
