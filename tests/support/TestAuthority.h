#pragma once

#include "codesign/SignatureBuilder.h"
#include "codesign/SigningIdentity.h"
#include "codesign/TrustAnchors.h"
#include "demo/DemoAuthority.h"

#include <memory>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

class QProcess;

namespace corvanta::test {

using demo::LeafOptions;

// The demo's authority under a root of the test's naming, with what only
// tests need: timestamps, forgeries, OCSP responders and strangers.
class TestAuthority : public demo::DemoAuthority {
public:
    explicit TestAuthority(const QString& name = QStringLiteral("Test Apple Root CA"));

    // A fresh Developer ID identity: leaf, intermediate, root.
    codesign::SigningIdentity developerId(
        const QString& team, const QString& developer = QStringLiteral("Test Developer")) const;
    // A fresh Developer ID Installer identity with an RSA key, for signing packages.
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
