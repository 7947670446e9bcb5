#pragma once

#include "base/Error.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QString>

class QFile;

namespace corvanta::xar {

// A flat package that can't be read: no xar archive, or a damaged one. The
// description is the sentence for the user.
class XarError : public Error {
public:
    using Error::Error;
};

// The digests a package's checksums may use; MD5 and "none" are refused.
enum class HashType { sha1, sha256, sha512 };

// "sha1", "sha256", "sha512" (any case); none for anything else.
std::optional<HashType> hashTypeNamed(QStringView name);
QString hashName(HashType type);
QByteArray digest(HashType type, const QByteArray& bytes);

struct Checksum {
    HashType type = HashType::sha1;
    QByteArray value; // raw digest bytes
};

// Where a file's bytes lie in the heap and how they are stored.
struct Data {
    quint64 offset = 0; // from the start of the heap
    quint64 length = 0; // archived bytes
    quint64 size = 0; // bytes once decoded
    QString encoding; // "application/octet-stream", "application/x-gzip", "application/x-bzip2"
    std::optional<Checksum> archived;
    std::optional<Checksum> extracted;
};

// One item of the table of contents.
struct Entry {
    enum class Kind { file, directory, symlink, other };
    QString path; // names joined with '/', e.g. "Foo.pkg/Payload"
    Kind kind = Kind::file;
    QString link; // a symbolic link's target
    std::optional<Data> data;
};

// The classic signature: bytes in the heap, the certificates in the TOC.
struct Signature {
    quint64 offset = 0;
    quint64 size = 0;
    QList<QByteArray> certificates; // DER, in the order stored (the signer's first)
};

// A xar archive read from disk: the header, the zlib-compressed table of
// contents, and the heap behind it. Every offset is checked against the file
// before it is read, so a hostile TOC can't reach past the heap.
class Archive {
public:
    // Reads the header and the TOC. Throws XarError for anything that isn't a
    // sound archive; a TOC checksum that differs is not an error here but
    // reported by checksumMatches().
    static Archive open(const QString& path);

    static constexpr qint64 maxTocBytes = 32LL << 20;

    const QString& path() const { return m_path; }
    HashType checksumType() const { return m_checksumType; }
    // The TOC checksum as stored in the heap, and whether it is the digest of
    // the compressed TOC as it stands.
    const QByteArray& storedChecksum() const { return m_storedChecksum; }
    bool checksumMatches() const { return m_checksumMatches; }
    const std::optional<Signature>& signature() const { return m_signature; }
    bool hasCmsSignature() const { return m_cmsSignature; }
    // The signature's bytes from the heap; empty without a signature.
    QByteArray signatureBytes() const;
    const QByteArray& tocXml() const { return m_toc; }
    const std::vector<Entry>& entries() const { return m_entries; }
    // The entry at `path`; none when there is none.
    const Entry* find(const QString& path) const;

    // Streams the decoded bytes of `entry` to `sink`, checking its archived
    // and extracted checksums and lengths as they pass. Throws XarError.
    void read(const Entry& entry, const std::function<void(const char*, qsizetype)>& sink) const;
    // The same into memory, refused past `limit` bytes.
    QByteArray readAll(const Entry& entry, qint64 limit = 16LL << 20) const;
    // The first file whose archived bytes have no checksum or don't match it;
    // none when all do.
    std::optional<QString> damagedFile() const;

private:
    Archive() = default;
    QByteArray heapBytes(quint64 offset, quint64 length) const;
    void streamHeap(
        quint64 offset, quint64 length, const std::function<void(const char*, qsizetype)>& sink) const;

    QString m_path;
    std::shared_ptr<QFile> m_file;
    quint64 m_heap = 0; // where the heap starts in the file
    quint64 m_fileSize = 0;
    HashType m_checksumType = HashType::sha1;
    QByteArray m_storedChecksum;
    bool m_checksumMatches = false;
    std::optional<Signature> m_signature;
    bool m_cmsSignature = false;
    QByteArray m_toc;
    std::vector<Entry> m_entries;
};

// Whether the file at `path` starts with the xar magic "xar!"; false when it
// can't be read or is a symbolic link.
bool isFlatPackage(const QString& path);

} // namespace corvanta::xar
