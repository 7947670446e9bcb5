#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

typedef struct evp_pkey_st EVP_PKEY;

namespace corvanta::demo {

// A Sparkle EdDSA key pair, made fresh for every world: the public half goes
// into an app's SUPublicEDKey, the private half signs that app's downloads.
class Ed25519Key {
public:
    // Throws Error when OpenSSL can't make a key.
    static Ed25519Key generate();

    // Base64 of the 32 raw bytes, as SUPublicEDKey holds it.
    QString publicKeyBase64() const;
    // Base64 of the 64-byte signature over all of `message`.
    QString sign(const QByteArray& message) const;
    // The same over a whole file, as the appcast's sparkle:edSignature is.
    QString signFile(const QString& path) const;

private:
    explicit Ed25519Key(std::shared_ptr<EVP_PKEY> key)
        : m_key(std::move(key))
    {
    }

    std::shared_ptr<EVP_PKEY> m_key;
};

} // namespace corvanta::demo
