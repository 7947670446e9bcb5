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

} // namespace corvanta::demo
