#pragma once

#include "codesign/SigningIdentity.h"
#include "codesign/TrustAnchors.h"

#include <map>
#include <memory>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <openssl/types.h>

namespace corvanta::demo {

// What a leaf certificate of the authority looks like.
struct LeafOptions {
    // Application leaves sign code (marked ...6.1.13, code-signing usage);
    // installer leaves sign flat packages (marked ...6.1.14, Apple's
    // package-signing usage 1.2.840.113635.100.4.13).
    enum class Kind { application, installer };

    QString team = QStringLiteral("TESTTEAM01");
    QString developer = QStringLiteral("Test Developer");
    Kind kind = Kind::application; // "Developer ID Application: …" or "Developer ID Installer: …"
    bool rsa = false; // an RSA key, as package signatures need; else P-256
    QString commonName; // replaces the "Developer ID …: <developer> (<team>)" name when set
    bool developerIdMark = true; // the Developer ID mark of the leaf's kind
    bool teamInSubject = true; // OU = team
    QDateTime notBefore; // default: a day ago
    QDateTime notAfter; // default: in five years
    QString ocspUrl; // the leaf's OCSP responder (Authority Information Access); empty: none
};

// A certificate authority shaped like Apple's: a root, a Developer ID
// intermediate (marked 1.2.840.113635.100.6.2.6) and leaves marked as
// Developer ID with the team as subject OU. Fresh P-256 keys every time, so
// making one takes milliseconds; the root is the trust anchor of a demo run
// (or a test) and nothing else.
class DemoAuthority {
public:
    explicit DemoAuthority(const QString& rootName = defaultRootName); // throws Error when OpenSSL fails
    ~DemoAuthority();
    DemoAuthority(DemoAuthority&&) noexcept;
    DemoAuthority& operator=(DemoAuthority&&) noexcept;

    QByteArray rootDer() const;
    QByteArray rootPem() const;
    codesign::TrustAnchors anchors() const;

    // A fresh leaf, intermediate and root.
    codesign::SigningIdentity identity(const LeafOptions& options) const;
    // "Developer ID Application: <developer> (<team>)", made on first use
    // and the same identity for the same team afterwards.
    codesign::SigningIdentity developerID(const QString& team, const QString& developer);
    // "Developer ID Installer: <developer> (<team>)" with an RSA key, as
    // package signatures need; the same for the same team afterwards.
    codesign::SigningIdentity developerIDInstaller(const QString& team, const QString& developer);

    // The authority's own certificates and keys, for issuing other kinds
    // (timestamping, OCSP) under it.
    X509* root() const;
    EVP_PKEY* rootKey() const;
    X509* intermediate() const;
    EVP_PKEY* intermediateKey() const;

    static inline const QString defaultRootName = QStringLiteral("Corvanta Demo Root CA");

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
    std::map<QString, codesign::SigningIdentity> m_leaves; // by team, installers' prefixed "pkg:"
};

} // namespace corvanta::demo
