#pragma once

#include "codesign/SignatureBuilder.h"
#include "codesign/SigningIdentity.h"
#include "codesign/TrustAnchors.h"

#include <memory>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

class QProcess;

namespace corvanta::test {

// What a leaf certificate of the test authority looks like.
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
    QDateTime notAfter; // default: in a year
    QString ocspUrl; // the leaf's OCSP responder (Authority Information Access); empty: none
};

// A certificate authority shaped like Apple's: a root, an intermediate marked
// 1.2.840.113635.100.6.2.6 (Developer ID), and leaves marked
// 1.2.840.113635.100.6.1.13 with the team as subject OU. Keys are P-256 so
// making one takes milliseconds.
class TestAuthority {
public:
    explicit TestAuthority(const QString& name = QStringLiteral("Test Apple Root CA"));
    ~TestAuthority();
    TestAuthority(TestAuthority&&) noexcept;

    QByteArray rootDer() const;
    QByteArray intermediateDer() const;
    // Trust anchors holding just this authority's root.
    codesign::TrustAnchors anchors() const;

    // A Developer ID identity: leaf, intermediate, root.
    codesign::SigningIdentity developerId(
        const QString& team, const QString& developer = QStringLiteral("Test Developer")) const;
    codesign::SigningIdentity identity(const LeafOptions& options) const;
    // A Developer ID Installer identity with an RSA key, for signing packages.
    codesign::SigningIdentity installerId(
        const QString& team, const QString& developer = QStringLiteral("Test Developer")) const;
    // A timestamp authority under this root that stamps every token with `at`.
    codesign::Timestamper timestamper(const QDateTime& at) const;
    // What a forger makes of this authority's public certificates: a leaf for
    // `team` that names the root as its issuer (key identifier included) but
    // is signed by a key of its own, presented with the root's real certificate.
    codesign::SigningIdentity forgery(const QString& team) const;
    // A responder certificate the intermediate issued for signing OCSP answers.
    codesign::SigningIdentity ocspSigner() const;

    // A self-signed leaf that chains to nothing.
    static codesign::SigningIdentity selfSigned(
        const QString& commonName, const std::optional<QString>& organizationalUnit);

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
};

// A live `openssl ocsp` responder for leaves of a TestAuthority, on a free
// loopback port that is known before the leaves are made, since they name it.
class OcspResponder {
public:
    OcspResponder();
    ~OcspResponder();

    QString url() const;
    // Writes index.txt (a V or R line per leaf: revoked when the flag says so)
    // and the responder's certificate and key, starts the responder for
    // `requests` requests and returns once it has answered one of its own;
    // false when it couldn't be started.
    bool start(const TestAuthority& authority,
        const std::vector<std::pair<codesign::Certificate, bool>>& leaves, int requests);

    // A loopback port nothing listens on.
    static quint16 freePort();

private:
    quint16 m_port;
    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_process;
};

} // namespace corvanta::test
