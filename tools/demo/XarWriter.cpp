#include "demo/XarWriter.h"

#include "base/Error.h"
#include "codesign/OpenSsl.h"

#include <filesystem>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <archive.h>
#include <archive_entry.h>
#include <lzma.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

QByteArray zlibCompressed(const QByteArray& data)
{
    uLongf length = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.constData()),
        uLong(data.size()), 9);
    out.resize(qsizetype(length));
    return out;
}

QByteArray rsaSign(EVP_PKEY* key, xar::HashType type, const QByteArray& digest)
{
    std::unique_ptr<EVP_PKEY_CTX, codesign::OpenSslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> context(
        EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_sign_init(context.get());
    EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(context.get(), type == xar::HashType::sha1 ? EVP_sha1() : EVP_sha256());
    std::size_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(digest.constData());
    EVP_PKEY_sign(context.get(), nullptr, &length, in, std::size_t(digest.size()));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    if (EVP_PKEY_sign(context.get(), reinterpret_cast<unsigned char*>(out.data()), &length, in,
            std::size_t(digest.size()))
        != 1)
        throw Error(u"OpenSSL couldn't sign the package."_s);
    out.resize(qsizetype(length));
    return out;
}

QByteArray pbzx(const QByteArray& plain)
{
    constexpr qsizetype chunk = 1 << 20;
    QByteArray out("pbzx");
    const auto be64 = [&out](quint64 value) {
        char bytes[8];
        qToBigEndian(value, bytes);
        out.append(bytes, 8);
    };
    be64(quint64(chunk));
    for (qsizetype at = 0; at < plain.size(); at += chunk) {
        const QByteArray part = plain.mid(at, chunk);
        QByteArray xz(qsizetype(lzma_stream_buffer_bound(std::size_t(part.size()))), Qt::Uninitialized);
        std::size_t written = 0;
        lzma_easy_buffer_encode(0, LZMA_CHECK_CRC64, nullptr,
            reinterpret_cast<const uint8_t*>(part.constData()), std::size_t(part.size()),
            reinterpret_cast<uint8_t*>(xz.data()), &written, std::size_t(xz.size()));
        xz.resize(qsizetype(written));
        be64(quint64(part.size()));
        be64(quint64(xz.size()));
        out += xz;
    }
    return out;
}

la_ssize_t appendTo(archive*, void* data, const void* bytes, size_t length)
{
    static_cast<QByteArray*>(data)->append(static_cast<const char*>(bytes), qsizetype(length));
    return la_ssize_t(length);
}

} // namespace

XarWriter& XarWriter::file(const QString& path, const QByteArray& data, Encoding encoding)
{
    m_items[path] = { 'f', data, encoding, {} };
    return *this;
}

XarWriter& XarWriter::folder(const QString& path)
{
    m_items[path] = { 'd', {}, Encoding::none, {} };
    return *this;
}

XarWriter& XarWriter::link(const QString& path, const QString& target)
{
    m_items[path] = { 'l', {}, Encoding::none, target };
    return *this;
}

XarWriter& XarWriter::checksum(xar::HashType type)
{
    m_checksum = type;
    return *this;
}

XarWriter& XarWriter::sign(const codesign::SigningIdentity& identity)
{
    m_signer = identity;
    return *this;
}

QByteArray XarWriter::toc(const QByteArray& signatureXml, const std::map<QString, QByteArray>& stored,
    const std::map<QString, quint64>& offsets, const QString& edit) const
{
    const QString hash = xar::hashName(m_checksum);
    QString xml = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar>\n <toc>\n"_s
        + u"  <creation-time>2024-01-02T03:04:05</creation-time>\n  <checksum style=\"%1\">"
          u"<offset>0</offset><size>%2</size></checksum>\n"_s.arg(hash)
              .arg(xar::digest(m_checksum, {}).size())
        + QString::fromUtf8(signatureXml) + edit;
    // Items in path order, so a folder opens before what it holds and closes after.
    QStringList open;
    int id = 0;
    for (const auto& [path, item] : m_items) {
        while (!open.isEmpty() && !path.startsWith(open.last() + u'/')) {
            open.removeLast();
            xml += u"</file>\n"_s;
        }
        xml += u"<file id=\"%1\"><name>%2</name>"_s.arg(++id).arg(path.section(u'/', -1).toHtmlEscaped());
        if (item.kind == 'd') {
            xml += u"<type>directory</type>\n"_s;
            open.append(path);
            continue;
        }
        if (item.kind == 'l') {
            xml += u"<type link=\"%1\">symlink</type><link>%1</link></file>\n"_s.arg(
                item.target.toHtmlEscaped());
            continue;
        }
        const QByteArray& bytes = stored.at(path);
        xml += u"<type>file</type><data><length>%1</length><offset>%2</offset><size>%3</size>"
               u"<encoding style=\"%4\"/><archived-checksum style=\"%5\">%6</archived-checksum>"
               u"<extracted-checksum style=\"%5\">%7</extracted-checksum></data></file>\n"_s.arg(bytes.size())
                   .arg(offsets.at(path))
                   .arg(item.data.size())
                   .arg(item.encoding == Encoding::gzip ? u"application/x-gzip"_s
                                                        : u"application/octet-stream"_s)
                   .arg(hash)
                   .arg(QString::fromLatin1(xar::digest(m_checksum, bytes).toHex()))
                   .arg(QString::fromLatin1(xar::digest(m_checksum, item.data).toHex()));
    }
    for (qsizetype i = 0; i < open.size(); ++i)
        xml += u"</file>\n"_s;
    return (xml + u" </toc>\n</xar>\n"_s).toUtf8();
}

QByteArray XarWriter::bytes(Tamper tamper) const
{
    const qsizetype checksumSize = xar::digest(m_checksum, {}).size();
    const qsizetype signatureSize = m_signer ? EVP_PKEY_get_size(m_signer->key.get()) : 0;
    QByteArray signatureXml;
    if (m_signer) {
        signatureXml = "  <signature style=\"RSA\"><offset>" + QByteArray::number(checksumSize)
            + "</offset><size>" + QByteArray::number(signatureSize)
            + "</size><KeyInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><X509Data>";
        signatureXml
            += "<X509Certificate>" + codesign::derOf(m_signer->leaf.get()).toBase64() + "</X509Certificate>";
        for (const codesign::Certificate& certificate : m_signer->chain)
            signatureXml
                += "<X509Certificate>" + codesign::derOf(certificate.get()).toBase64() + "</X509Certificate>";
        signatureXml += "</X509Data></KeyInfo></signature>\n";
    }
    std::map<QString, QByteArray> stored;
    std::map<QString, quint64> offsets;
    QByteArray files;
    for (const auto& [path, item] : m_items) {
        if (item.kind != 'f')
            continue;
        stored[path] = item.encoding == Encoding::gzip ? zlibCompressed(item.data) : item.data;
        offsets[path] = quint64(checksumSize + signatureSize + files.size());
        files += stored[path];
    }
    const QByteArray signedPlain = toc(signatureXml, stored, offsets, {});
    const QByteArray signedToc = zlibCompressed(signedPlain);
    const QByteArray checksum = xar::digest(m_checksum, signedToc);
    QByteArray signature = m_signer ? rsaSign(m_signer->key.get(), m_checksum, checksum) : QByteArray();

    const bool edited = tamper == Tamper::toc || tamper == Tamper::resealedToc;
    const QByteArray plain
        = edited ? toc(signatureXml, stored, offsets, u"  <!-- edited -->\n"_s) : signedPlain;
    const QByteArray finalToc = edited ? zlibCompressed(plain) : signedToc;
    const QByteArray finalChecksum
        = tamper == Tamper::resealedToc ? xar::digest(m_checksum, finalToc) : checksum;
    if (tamper == Tamper::signature && !signature.isEmpty())
        signature[signature.size() / 2] = char(signature[signature.size() / 2] ^ 0xff);
    if (tamper == Tamper::heap && !files.isEmpty())
        files[0] = char(files[0] ^ 0xff);

    const bool named = m_checksum != xar::HashType::sha1;
    QByteArray header(named ? 64 : 28, '\0');
    qToBigEndian<quint32>(0x78617221, header.data());
    qToBigEndian<quint16>(quint16(header.size()), header.data() + 4);
    qToBigEndian<quint16>(1, header.data() + 6);
    qToBigEndian<quint64>(quint64(finalToc.size()), header.data() + 8);
    qToBigEndian<quint64>(quint64(plain.size()), header.data() + 16);
    qToBigEndian<quint32>(named ? 3 : 1, header.data() + 24);
    if (named)
        header.replace(28, xar::hashName(m_checksum).size(), xar::hashName(m_checksum).toLatin1());
    return header + finalToc + finalChecksum + signature + files;
}

QString XarWriter::write(const QString& path, Tamper tamper) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes(tamper)) < 0)
        throw Error(u"Couldn't write %1: %2"_s.arg(path, out.errorString()));
    return path;
}

QByteArray cpioPayload(const QString& root, PayloadCompression compression)
{
    QByteArray out;
    archive* writer = archive_write_new();
    archive_write_set_format_cpio_odc(writer);
    if (compression == PayloadCompression::gzip)
        archive_write_add_filter_gzip(writer);
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open(writer, &out, nullptr, appendTo, nullptr);
    QStringList paths { root };
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (walk.hasNext())
        paths << walk.next();
    std::sort(paths.begin(), paths.end());
    for (const QString& path : std::as_const(paths)) {
        struct stat st { };
        ::lstat(QFile::encodeName(path).constData(), &st);
        const QString relative = path == root ? u"."_s : u"./"_s + QDir(root).relativeFilePath(path);
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_stat(entry, &st);
        archive_entry_set_pathname(entry, QFile::encodeName(relative).constData());
        QByteArray data;
        if (S_ISLNK(st.st_mode)) {
            const std::string target = std::filesystem::read_symlink(QFile::encodeName(path).toStdString());
            archive_entry_set_symlink(entry, target.c_str());
        } else if (S_ISREG(st.st_mode)) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            data = file.readAll();
        }
        archive_write_header(writer, entry);
        if (!data.isEmpty())
            archive_write_data(writer, data.constData(), std::size_t(data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return compression == PayloadCompression::pbzx ? pbzx(out) : out;
}

XarWriter componentPackage(
    const QString& root, const QString& location, PayloadCompression compression, const QString& identifier)
{
    XarWriter writer;
    const QByteArray info = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<pkg-info format-version=\"2\" "
                            "identifier=\""
        + identifier.toHtmlEscaped().toUtf8() + "\" version=\"1.0\" install-location=\""
        + location.toHtmlEscaped().toUtf8() + "\" auth=\"root\"><payload/></pkg-info>\n";
    writer.file(u"Bom"_s, "BOMStore test bill of materials")
        .file(u"PackageInfo"_s, info)
        .file(u"Payload"_s, cpioPayload(root, compression), XarWriter::Encoding::none);
    return writer;
}

} // namespace corvanta::demo
