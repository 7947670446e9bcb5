#include "base/Error.h"
#include "base/FileRead.h"
#include "install/Updater.h"

#include <array>
#include <cerrno>
#include <memory>
#include <vector>

#include <QFile>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        // A close error of a file only read changes nothing.
        if (fd >= 0)
            ::close(fd);
    }
};

Descriptor openForReading(const QString& path)
{
    Descriptor file { ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC) };
    if (file.fd < 0)
        throw SystemError::fromErrno(u"Can't read %1"_s.arg(path));
    return file;
}

// Reads exactly `size` bytes at `offset`; fewer only at the end of the file.
qsizetype readFrom(int fd, void* buffer, std::size_t size, off_t offset, const QString& path)
{
    const qsizetype done = readAt(fd, buffer, size, offset);
    if (done < 0)
        throw SystemError::fromErrno(u"Can't read %1"_s.arg(path));
    return done;
}

struct FreeDigest {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

std::optional<QByteArray> strictBase64(const QString& text)
{
    auto decoded
        = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace

QString Updater::sha256(const QString& file)
{
    Descriptor input = openForReading(file);
    ::posix_fadvise(input.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<EVP_MD_CTX, FreeDigest> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw SystemError(u"SHA-256 is not available."_s, ENOSYS);
    // 1 MiB at a time: a large download is never held in memory for hashing.
    std::vector<unsigned char> chunk(1 << 20);
    for (;;) {
        const ssize_t n = ::read(input.fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError::fromErrno(u"Can't read %1"_s.arg(file));
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), chunk.data(), std::size_t(n));
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest.data(), &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest.data()), length).toHex());
}

QString Updater::sha256(const Downloaded& file)
{
    return file.sha256 ? *file.sha256 : sha256(file.path);
}

Updater::EdDSA Updater::checkEdDSA(const QString& key, const QString& signature, const QString& file)
{
    const auto keyBytes = strictBase64(key);
    const auto signatureBytes = strictBase64(signature);
    // A signature of another length (a legacy DSA one, say) isn't Ed25519 at all.
    if (!keyBytes || !signatureBytes || signatureBytes->size() != 64)
        return EdDSA::malformed;
    std::unique_ptr<EVP_PKEY, FreeKey> publicKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
        reinterpret_cast<const unsigned char*>(keyBytes->constData()), std::size_t(keyBytes->size())));
    if (!publicKey)
        return EdDSA::malformed;

    // The signature covers the file as one message, so it is mapped whole
    // rather than read in chunks.
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        throw SystemError(u"Can't read %1: %2"_s.arg(file, input.errorString()), errno != 0 ? errno : EIO);
    const qint64 size = input.size();
    const uchar* message = nullptr;
    static const uchar empty = 0;
    if (size > 0) {
        message = input.map(0, size);
        if (!message)
            throw SystemError(
                u"Can't read %1: %2"_s.arg(file, input.errorString()), errno != 0 ? errno : EIO);
    } else {
        message = &empty;
    }

    std::unique_ptr<EVP_MD_CTX, FreeDigest> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return EdDSA::malformed;
    const int verdict
        = EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signatureBytes->constData()),
            std::size_t(signatureBytes->size()), message, std::size_t(size));
    return verdict == 1 ? EdDSA::valid : EdDSA::mismatch;
}

std::optional<Updater::Format> Updater::format(const QString& file)
{
    Descriptor input = openForReading(file);
    struct stat st { };
    if (::fstat(input.fd, &st) != 0)
        throw SystemError::fromErrno(u"Can't read %1"_s.arg(file));
    std::array<unsigned char, 4> head {};
    const qsizetype got = readFrom(input.fd, head.data(), head.size(), 0, file);
    if (got == 4 && head == std::array<unsigned char, 4> { 0x50, 0x4B, 0x03, 0x04 })
        return Format::zip;
    // A UDIF image ends with a 512-byte trailer that starts with "koly".
    if (st.st_size >= 512) {
        std::array<char, 4> trailer {};
        if (readFrom(input.fd, trailer.data(), trailer.size(), st.st_size - 512, file) == 4
            && std::string_view(trailer.data(), 4) == "koly")
            return Format::diskImage;
    }
    return std::nullopt;
}

} // namespace corvanta
