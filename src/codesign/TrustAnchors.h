#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvanta::codesign {

// The root certificates that count as Apple's: "anchor apple" and "anchor
// apple generic" hold only for chains that end in one of them. Production
// reads them from defaultFolder(); tests and the demo bring their own roots.
class TrustAnchors {
public:
    TrustAnchors() = default;
    explicit TrustAnchors(QList<QByteArray> derCertificates);

    // Every certificate (DER or PEM; .cer, .crt, .der, .pem) in `folder`;
    // files that hold no certificate are skipped.
    static TrustAnchors fromFolder(const QString& folder);
    // Where a Linux installation keeps Apple's root certificates.
    static QString defaultFolder();

    const QList<QByteArray>& certificates() const { return m_certificates; }
    bool contains(const QByteArray& der) const { return m_certificates.contains(der); }
    void add(const QByteArray& der);
    bool isEmpty() const { return m_certificates.isEmpty(); }

    // DER certificates from DER or PEM bytes (a PEM file may hold several).
    static QList<QByteArray> parseCertificates(const QByteArray& bytes);

private:
    QList<QByteArray> m_certificates;
};

} // namespace corvanta::codesign
