#pragma once

#include "codesign/ByteView.h"

#include <cstdint>
#include <memory>
#include <optional>

#include <QByteArray>

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_md_st EVP_MD;

namespace corvanta::codesign {

// The hash types a CodeDirectory can name.
enum class HashType : std::uint8_t {
    none = 0,
    sha1 = 1,
    sha256 = 2,
    sha256Truncated = 3,
    sha384 = 4,
};

// Bytes of digest a CodeDirectory stores for the type; none for unknown types.
std::optional<std::uint32_t> hashSize(HashType type);

// Stronger hash types rank higher; the verifier prefers the strongest directory.
int hashStrength(HashType type);

// An incremental digest. One object hashes many pages in a row without fetching
// the algorithm again, which is what keeps page hashing near raw SHA-256 speed.
class Digest {
public:
    explicit Digest(HashType type);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    bool valid() const noexcept { return m_md != nullptr; }

    // Digest of `bytes` in one call (truncated to the directory's size for
    // sha256Truncated).
    QByteArray of(ByteView bytes);
    // Writes the digest of `bytes` to `out`, which holds at least 64 bytes; returns its length.
    std::uint32_t into(ByteView bytes, std::uint8_t* out);

    void begin();
    void update(ByteView bytes);
    QByteArray finish();

    static QByteArray of(HashType type, ByteView bytes);

private:
    HashType m_type;
    EVP_MD* m_md = nullptr;
    EVP_MD_CTX* m_context = nullptr;
};

} // namespace corvanta::codesign
