#pragma once

#include "codesign/SigningIdentity.h"
#include "package/Xar.h"

#include <map>
#include <optional>

#include <QByteArray>
#include <QString>

namespace corvanta::demo {

// Writes flat packages (xar archives), for the demo world's installer
// package and for tests: files, folders and links by path, a SHA-1 or
// SHA-256 TOC checksum, an RSA signature over it with the signer's
// certificates, and the damage a tampered package shows. Throws Error when
// it can't sign or write.
class XarWriter {
public:
    enum class Encoding { none, gzip };
    // What is changed after signing.
    enum class Tamper {
        none,
        toc, // the TOC edited, checksum and signature kept
        resealedToc, // the TOC edited and its checksum recomputed, the signature kept
        signature, // one byte of the signature flipped
        heap, // one byte of the first file's stored bytes flipped
    };

    XarWriter& file(const QString& path, const QByteArray& data, Encoding encoding = Encoding::gzip);
    XarWriter& folder(const QString& path);
    XarWriter& link(const QString& path, const QString& target);
    XarWriter& checksum(xar::HashType type);
    // Signs with the identity's key, listing its leaf and chain as the certificates.
    XarWriter& sign(const codesign::SigningIdentity& identity);

    QByteArray bytes(Tamper tamper = Tamper::none) const;
    // Writes the package, creating its folder; returns `path`.
    QString write(const QString& path, Tamper tamper = Tamper::none) const;

private:
    struct Item {
        char kind = 'f';
        QByteArray data;
        Encoding encoding = Encoding::gzip;
        QString target;
    };
    QByteArray toc(const QByteArray& signatureXml, const std::map<QString, QByteArray>& stored,
        const std::map<QString, quint64>& offsets, const QString& edit) const;

    std::map<QString, Item> m_items;
    xar::HashType m_checksum = xar::HashType::sha1;
    std::optional<codesign::SigningIdentity> m_signer;
};

// What a payload archive is compressed with.
enum class PayloadCompression { gzip, pbzx };

// The tree at `root` as a package payload: a cpio archive ("odc", entries
// "./…") written by libarchive, gzip or pbzx compressed.
QByteArray cpioPayload(const QString& root, PayloadCompression compression = PayloadCompression::gzip);

// A component package of the tree at `root` (Payload, PackageInfo with
// `location` as the install location and `identifier`, Bom), unsigned until signed.
XarWriter componentPackage(const QString& root, const QString& location = QStringLiteral("/Applications"),
    PayloadCompression compression = PayloadCompression::gzip,
    const QString& identifier = QStringLiteral("com.example.pkg"));

} // namespace corvanta::demo
