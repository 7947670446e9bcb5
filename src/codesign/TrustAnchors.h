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
    // Where a Linux installation keeps Apple's root certificates:
    // /etc/corvanta/apple-roots, holding "Apple Root CA" and "Apple Root CA - G3"
    // as published by Apple (DER .cer or PEM). Without them no signature is
    // anchored at Apple, so every update that needs a developer match is refused.
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
