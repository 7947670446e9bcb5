#include "package/Xar.h"

#include "package/XarToc.h"

#include <array>
#include <cerrno>
#include <memory>

#include <QFile>
#include <QtEndian>

#include <bzlib.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace corvanta::xar {

namespace {

constexpr quint32 magic = 0x78617221; // "xar!"
constexpr int fixedHeader = 28;
constexpr qint64 chunkSize = 1 << 20;

XarError damaged(const QString& detail)
{
    return XarError(u"The installer package is damaged: %1."_s.arg(detail));
}

const EVP_MD* algorithm(HashType type)
{
    switch (type) {
    case HashType::sha1:
        return EVP_sha1();
    case HashType::sha256:
        return EVP_sha256();
    case HashType::sha512:
        return EVP_sha512();
    }
    return EVP_sha1();
}

// An incremental digest of one of the package's hash types.
class Hasher {
public:
    explicit Hasher(HashType type)
        : m_context(EVP_MD_CTX_new())
    {
        if (!m_context || EVP_DigestInit_ex(m_context.get(), algorithm(type), nullptr) != 1)
            throw XarError(u"The package's checksums can't be computed here."_s);
    }
    void add(const char* bytes, qsizetype length)
    {
        EVP_DigestUpdate(m_context.get(), bytes, std::size_t(length));
    }
    QByteArray finish()
    {
        std::array<unsigned char, EVP_MAX_MD_SIZE> out {};
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context.get(), out.data(), &length);
        return QByteArray(reinterpret_cast<const char*>(out.data()), int(length));
    }

private:
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> m_context;
};

using Sink = std::function<void(const char*, qsizetype)>;

// Decodes one of the heap's encodings chunk by chunk; `sink` gets the decoded bytes.
class Decoder {
public:
    Decoder(const QString& encoding, Sink sink)
        : m_sink(std::move(sink))
    {
        if (encoding.isEmpty() || encoding == u"application/octet-stream") {
            m_kind = Kind::none;
        } else if (encoding == u"application/x-gzip") {
            m_kind = Kind::zlib;
            // 15 + 32: zlib or gzip framing, whichever the writer chose.
            if (inflateInit2(&m_zlib, 15 + 32) != Z_OK)
                throw XarError(u"The package can't be decompressed here."_s);
        } else if (encoding == u"application/x-bzip2") {
            m_kind = Kind::bzip2;
            if (BZ2_bzDecompressInit(&m_bzip2, 0, 0) != BZ_OK)
                throw XarError(u"The package can't be decompressed here."_s);
        } else {
            throw XarError(
                u"The installer package stores a file as \u201c%1\u201d, which Corvanta can't read."_s.arg(
                    encoding));
        }
    }
    ~Decoder()
    {
        if (m_kind == Kind::zlib)
            inflateEnd(&m_zlib);
        else if (m_kind == Kind::bzip2)
            BZ2_bzDecompressEnd(&m_bzip2);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    void add(const char* bytes, qsizetype length)
    {
        if (m_kind == Kind::none) {
            m_sink(bytes, length);
            return;
        }
        char out[1 << 16];
        if (m_kind == Kind::zlib) {
            m_zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
            m_zlib.avail_in = uInt(length);
            while (m_zlib.avail_in > 0 && !m_ended) {
                m_zlib.next_out = reinterpret_cast<Bytef*>(out);
                m_zlib.avail_out = sizeof out;
                const int status = inflate(&m_zlib, Z_NO_FLUSH);
                if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                    throw damaged(u"a compressed file in it can't be decompressed"_s);
                m_ended = status == Z_STREAM_END;
                m_sink(out, qsizetype(sizeof out - m_zlib.avail_out));
            }
        } else {
            m_bzip2.next_in = const_cast<char*>(bytes);
            m_bzip2.avail_in = unsigned(length);
            while (m_bzip2.avail_in > 0 && !m_ended) {
                m_bzip2.next_out = out;
                m_bzip2.avail_out = sizeof out;
                const int status = BZ2_bzDecompress(&m_bzip2);
                if (status != BZ_OK && status != BZ_STREAM_END)
                    throw damaged(u"a compressed file in it can't be decompressed"_s);
                m_ended = status == BZ_STREAM_END;
                m_sink(out, qsizetype(sizeof out - m_bzip2.avail_out));
            }
        }
    }

    // Whatever the stream still holds; a stream cut short is damage.
    void finish()
    {
        if (m_kind == Kind::zlib) {
            char out[1 << 16];
            while (!m_ended) {
                m_zlib.next_in = nullptr;
                m_zlib.avail_in = 0;
                m_zlib.next_out = reinterpret_cast<Bytef*>(out);
                m_zlib.avail_out = sizeof out;
                const int status = inflate(&m_zlib, Z_FINISH);
                m_sink(out, qsizetype(sizeof out - m_zlib.avail_out));
                if (status == Z_STREAM_END)
                    m_ended = true;
                else if (m_zlib.avail_out != 0)
                    throw damaged(u"a compressed file in it ends early"_s);
            }
        } else if (m_kind == Kind::bzip2 && !m_ended) {
            throw damaged(u"a compressed file in it ends early"_s);
        }
    }

private:
    enum class Kind { none, zlib, bzip2 };
    Kind m_kind = Kind::none;
    Sink m_sink;
    z_stream m_zlib {};
    bz_stream m_bzip2 {};
    bool m_ended = false;
};

QByteArray inflateToc(const QByteArray& compressed, quint64 expected)
{
    QByteArray out;
    out.reserve(qsizetype(expected));
    Decoder decoder(u"application/x-gzip"_s, [&out, expected](const char* bytes, qsizetype length) {
        if (quint64(out.size()) + quint64(length) > expected)
            throw damaged(u"its table of contents is longer than its header says"_s);
        out.append(bytes, length);
    });
    decoder.add(compressed.constData(), compressed.size());
    decoder.finish();
    if (quint64(out.size()) != expected)
        throw damaged(u"its table of contents is shorter than its header says"_s);
    return out;
}

} // namespace

std::optional<HashType> hashTypeNamed(QStringView name)
{
    if (name.compare(u"sha1", Qt::CaseInsensitive) == 0)
        return HashType::sha1;
    if (name.compare(u"sha256", Qt::CaseInsensitive) == 0)
        return HashType::sha256;
    if (name.compare(u"sha512", Qt::CaseInsensitive) == 0)
        return HashType::sha512;
    return std::nullopt;
}

QString hashName(HashType type)
{
    switch (type) {
    case HashType::sha1:
        return u"sha1"_s;
    case HashType::sha256:
        return u"sha256"_s;
    case HashType::sha512:
        return u"sha512"_s;
    }
    return {};
}

QByteArray digest(HashType type, const QByteArray& bytes)
{
    Hasher hasher(type);
    hasher.add(bytes.constData(), bytes.size());
    return hasher.finish();
}

Archive Archive::open(const QString& path)
{
    Archive archive;
    archive.m_path = path;
    archive.m_file = std::make_shared<QFile>(path);
    QFile& file = *archive.m_file;
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(u"Can't read %1: %2"_s.arg(path, file.errorString()), errno != 0 ? errno : EIO);
    archive.m_fileSize = quint64(file.size());
    const QByteArray head = file.read(fixedHeader);
    if (head.size() < fixedHeader || qFromBigEndian<quint32>(head.constData()) != magic)
        throw XarError(u"The installer package isn't a flat package Corvanta can read."_s);
    const quint16 headerSize = qFromBigEndian<quint16>(head.constData() + 4);
    const quint16 version = qFromBigEndian<quint16>(head.constData() + 6);
    const quint64 tocCompressed = qFromBigEndian<quint64>(head.constData() + 8);
    const quint64 tocLength = qFromBigEndian<quint64>(head.constData() + 16);
    const quint32 checksumKind = qFromBigEndian<quint32>(head.constData() + 24);
    if (headerSize < fixedHeader || version != 1)
        throw damaged(u"its header is of a version Corvanta doesn't know"_s);
    if (tocCompressed == 0 || tocCompressed > quint64(maxTocBytes) || tocLength == 0
        || tocLength > quint64(maxTocBytes))
        throw damaged(u"its table of contents has an impossible size"_s);
    switch (checksumKind) {
    case 1:
        archive.m_checksumType = HashType::sha1;
        break;
    case 3: {
        // The algorithm's name follows the fixed header.
        const QByteArray rest = file.read(headerSize - fixedHeader);
        const auto type = hashTypeNamed(QString::fromLatin1(rest.left(rest.indexOf('\0'))));
        if (!type)
            throw damaged(u"its checksum algorithm isn't one Corvanta accepts"_s);
        archive.m_checksumType = *type;
        break;
    }
    default:
        // None or MD5: nothing a signature could rest on.
        throw damaged(u"its checksum algorithm isn't one Corvanta accepts"_s);
    }
    archive.m_heap = headerSize + tocCompressed;
    if (archive.m_heap > archive.m_fileSize)
        throw damaged(u"it ends inside its table of contents"_s);
    if (!file.seek(headerSize))
        throw damaged(u"its table of contents can't be read"_s);
    const QByteArray compressed = file.read(qint64(tocCompressed));
    if (quint64(compressed.size()) != tocCompressed)
        throw damaged(u"its table of contents can't be read"_s);
    archive.m_toc = inflateToc(compressed, tocLength);

    Toc toc = parseToc(archive.m_toc);
    const auto style = hashTypeNamed(toc.checksumStyle);
    if (!style || *style != archive.m_checksumType)
        throw damaged(u"its table of contents names another checksum than its header"_s);
    const QByteArray computed = digest(archive.m_checksumType, compressed);
    if (toc.checksumSize != quint64(computed.size()))
        throw damaged(u"its checksum has the wrong size"_s);
    archive.m_storedChecksum = archive.heapBytes(toc.checksumOffset, toc.checksumSize);
    archive.m_checksumMatches = archive.m_storedChecksum == computed;
    archive.m_signature = std::move(toc.signature);
    archive.m_cmsSignature = toc.cmsSignature;
    archive.m_entries = std::move(toc.entries);
    for (const Entry& entry : archive.m_entries) {
        const quint64 available = archive.m_fileSize - archive.m_heap;
        if (entry.data
            && (entry.data->offset > available || entry.data->length > available - entry.data->offset))
            throw damaged(u"\u201c%1\u201d lies outside it"_s.arg(entry.path));
    }
    return archive;
}

QByteArray Archive::heapBytes(quint64 offset, quint64 length) const
{
    const quint64 available = m_fileSize - m_heap;
    if (offset > available || length > available - offset || length > quint64(maxTocBytes))
        throw damaged(u"its table of contents points outside it"_s);
    if (!m_file->seek(qint64(m_heap + offset)))
        throw damaged(u"it can't be read"_s);
    const QByteArray bytes = m_file->read(qint64(length));
    if (quint64(bytes.size()) != length)
        throw damaged(u"it can't be read"_s);
    return bytes;
}

void Archive::streamHeap(quint64 offset, quint64 length, const Sink& sink) const
{
    if (!m_file->seek(qint64(m_heap + offset)))
        throw damaged(u"it can't be read"_s);
    quint64 left = length;
    QByteArray chunk;
    while (left > 0) {
        chunk = m_file->read(qint64(std::min<quint64>(left, chunkSize)));
        if (chunk.isEmpty())
            throw damaged(u"it ends inside a file"_s);
        sink(chunk.constData(), chunk.size());
        left -= quint64(chunk.size());
    }
}

QByteArray Archive::signatureBytes() const
{
    return m_signature ? heapBytes(m_signature->offset, m_signature->size) : QByteArray();
}

const Entry* Archive::find(const QString& path) const
{
    for (const Entry& entry : m_entries) {
        if (entry.path == path)
            return &entry;
    }
    return nullptr;
}

void Archive::read(const Entry& entry, const Sink& sink) const
{
    if (!entry.data) {
        if (entry.kind == Entry::Kind::file)
            return; // an empty file stores nothing
        throw XarError(u"\u201c%1\u201d in the installer package holds no data."_s.arg(entry.path));
    }
    const Data& data = *entry.data;
    std::optional<Hasher> archived;
    std::optional<Hasher> extracted;
    if (data.archived)
        archived.emplace(data.archived->type);
    if (data.extracted)
        extracted.emplace(data.extracted->type);
    quint64 decoded = 0;
    Decoder decoder(data.encoding, [&](const char* bytes, qsizetype length) {
        decoded += quint64(length);
        if (decoded > data.size)
            throw damaged(
                u"\u201c%1\u201d in it is longer than its table of contents says"_s.arg(entry.path));
        if (extracted)
            extracted->add(bytes, length);
        sink(bytes, length);
    });
    streamHeap(data.offset, data.length, [&](const char* bytes, qsizetype length) {
        if (archived)
            archived->add(bytes, length);
        decoder.add(bytes, length);
    });
    decoder.finish();
    if (decoded != data.size)
        throw damaged(u"\u201c%1\u201d in it is shorter than its table of contents says"_s.arg(entry.path));
    if ((archived && archived->finish() != data.archived->value)
        || (extracted && extracted->finish() != data.extracted->value))
        throw damaged(u"\u201c%1\u201d in it doesn't match its checksum"_s.arg(entry.path));
}

QByteArray Archive::readAll(const Entry& entry, qint64 limit) const
{
    if (entry.data && entry.data->size > quint64(limit))
        throw XarError(u"\u201c%1\u201d in the installer package is too large to read."_s.arg(entry.path));
    QByteArray out;
    read(entry, [&out](const char* bytes, qsizetype length) { out.append(bytes, length); });
    return out;
}

std::optional<QString> Archive::damagedFile() const
{
    for (const Entry& entry : m_entries) {
        if (!entry.data)
            continue;
        // Bytes no checksum covers aren't covered by the signature either.
        if (!entry.data->archived)
            return entry.path;
        Hasher hasher(entry.data->archived->type);
        streamHeap(entry.data->offset, entry.data->length,
            [&hasher](const char* bytes, qsizetype length) { hasher.add(bytes, length); });
        if (hasher.finish() != entry.data->archived->value)
            return entry.path;
    }
    return std::nullopt;
}

bool isFlatPackage(const QString& path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(4) == "xar!";
}

} // namespace corvanta::xar
