#include "codesign/TrustAnchors.h"

#include "codesign/OpenSsl.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

TrustAnchors::TrustAnchors(QList<QByteArray> derCertificates)
{
    for (QByteArray& der : derCertificates)
        add(der);
}

void TrustAnchors::add(const QByteArray& der)
{
    if (!der.isEmpty() && !m_certificates.contains(der))
        m_certificates.append(der);
}

QString TrustAnchors::defaultFolder()
{
    return u"/etc/corvanta/apple-roots"_s;
}

QList<QByteArray> TrustAnchors::parseCertificates(const QByteArray& bytes)
{
    QList<QByteArray> out;
    if (bytes.contains("-----BEGIN CERTIFICATE-----")) {
        BioPtr bio(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
        while (X509Ptr certificate { PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) })
            out.append(derOf(certificate.get()));
        ERR_clear_error();
        return out;
    }
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (X509Ptr certificate { d2i_X509(nullptr, &cursor, long(bytes.size())) })
        out.append(derOf(certificate.get()));
    ERR_clear_error();
    return out;
}

TrustAnchors TrustAnchors::fromFolder(const QString& folder)
{
    TrustAnchors anchors;
    const QDir dir(folder);
    const QStringList names = dir.entryList(
        { u"*.cer"_s, u"*.crt"_s, u"*.der"_s, u"*.pem"_s }, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly) || file.size() > 1 << 20)
            continue;
        for (const QByteArray& der : parseCertificates(file.readAll()))
            anchors.add(der);
    }
    return anchors;
}

} // namespace corvanta::codesign
