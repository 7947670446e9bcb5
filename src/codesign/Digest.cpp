#include "codesign/Digest.h"

#include <openssl/evp.h>

namespace corvanta::codesign {

std::optional<std::uint32_t> hashSize(HashType type)
{
    switch (type) {
    case HashType::sha1:
    case HashType::sha256Truncated:
        return 20;
    case HashType::sha256:
        return 32;
    case HashType::sha384:
        return 48;
    case HashType::none:
        break;
    }
    return std::nullopt;
}

int hashStrength(HashType type)
{
    switch (type) {
    case HashType::sha1:
        return 1;
    case HashType::sha256Truncated:
        return 2;
    case HashType::sha256:
        return 3;
    case HashType::sha384:
        return 4;
    case HashType::none:
        break;
    }
    return 0;
}

Digest::Digest(HashType type)
    : m_type(type)
{
    const char* name = nullptr;
    switch (type) {
    case HashType::sha1:
        name = "SHA1";
        break;
    case HashType::sha256:
    case HashType::sha256Truncated:
        name = "SHA256";
        break;
    case HashType::sha384:
        name = "SHA384";
        break;
    case HashType::none:
        return;
    }
    m_md = EVP_MD_fetch(nullptr, name, nullptr);
    m_context = EVP_MD_CTX_new();
    if (!m_md || !m_context) {
        EVP_MD_free(m_md);
        EVP_MD_CTX_free(m_context);
        m_md = nullptr;
        m_context = nullptr;
    }
}

Digest::~Digest()
{
    EVP_MD_CTX_free(m_context);
    EVP_MD_free(m_md);
}

std::uint32_t Digest::into(ByteView bytes, std::uint8_t* out)
{
    if (!m_md)
        return 0;
    unsigned int length = 0;
    if (EVP_DigestInit_ex2(m_context, m_md, nullptr) != 1
        || EVP_DigestUpdate(m_context, bytes.data(), bytes.size()) != 1
        || EVP_DigestFinal_ex(m_context, out, &length) != 1)
        return 0;
    return m_type == HashType::sha256Truncated ? 20 : length;
}

QByteArray Digest::of(ByteView bytes)
{
    std::uint8_t buffer[EVP_MAX_MD_SIZE];
    const std::uint32_t length = into(bytes, buffer);
    return QByteArray(reinterpret_cast<const char*>(buffer), length);
}

void Digest::begin()
{
    if (m_md)
        EVP_DigestInit_ex2(m_context, m_md, nullptr);
}

void Digest::update(ByteView bytes)
{
    if (m_md)
        EVP_DigestUpdate(m_context, bytes.data(), bytes.size());
}

QByteArray Digest::finish()
{
    if (!m_md)
        return {};
    std::uint8_t buffer[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context, buffer, &length) != 1)
        return {};
    if (m_type == HashType::sha256Truncated)
        length = 20;
    return QByteArray(reinterpret_cast<const char*>(buffer), length);
}

QByteArray Digest::of(HashType type, ByteView bytes)
{
    Digest digest(type);
    return digest.of(bytes);
}

} // namespace corvanta::codesign
