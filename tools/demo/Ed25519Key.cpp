#include "demo/Ed25519Key.h"

#include "base/Error.h"

#include <QFile>

#include <openssl/evp.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

Ed25519Key Ed25519Key::generate()
{
    EVP_PKEY* raw = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!raw)
        throw Error(u"OpenSSL couldn't make an Ed25519 key."_s);
    return Ed25519Key(std::shared_ptr<EVP_PKEY>(raw, EVP_PKEY_free));
}

QString Ed25519Key::publicKeyBase64() const
{
    QByteArray bytes(32, '\0');
    size_t length = size_t(bytes.size());
    if (EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char*>(bytes.data()), &length) != 1
        || length != 32)
        throw Error(u"OpenSSL couldn't export an Ed25519 public key."_s);
    return QString::fromLatin1(bytes.toBase64());
}

QString Ed25519Key::sign(const QByteArray& message) const
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    // Ed25519 is one-shot: no digest, the whole message at once.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
               reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()))
            != 1)
        throw Error(u"OpenSSL couldn't make an Ed25519 signature."_s);
    signature.truncate(qsizetype(length));
    return QString::fromLatin1(signature.toBase64());
}

QString Ed25519Key::signFile(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(u"Couldn't read "_s + path + u": "_s + file.errorString());
    return sign(file.readAll());
}

} // namespace corvanta::demo
