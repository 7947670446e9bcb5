#pragma once

#include "demo/Ed25519Key.h"

namespace corvanta::test {

// A fresh Sparkle EdDSA key pair: the public key for SUPublicEDKey and
// signatures for sparkle:edSignature, both in Base64.
class EdKey {
public:
    EdKey()
        : m_key(demo::Ed25519Key::generate())
    {
    }

    QString publicKey() const { return m_key.publicKeyBase64(); }
    QString sign(const QByteArray& message) const { return m_key.sign(message); }

private:
    demo::Ed25519Key m_key;
};

} // namespace corvanta::test
