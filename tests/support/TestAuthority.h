#pragma once

#include "codesign/SignatureBuilder.h"
#include "codesign/SigningIdentity.h"
#include "codesign/TrustAnchors.h"

#include <memory>

#include <QDateTime>
#include <QString>

namespace corvanta::test {

// What a leaf certificate of the test authority looks like.
struct LeafOptions {
    QString team = QStringLiteral("TESTTEAM01");
    QString developer = QStringLiteral("Test Developer");
    bool developerIdMark = true; // 1.2.840.113635.100.6.1.13, as Developer ID Application leaves carry
    bool teamInSubject = true; // OU = team
    QDateTime notBefore; // default: a day ago
    QDateTime notAfter; // default: in a year
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
    // A timestamp authority under this root that stamps every token with `at`.
    codesign::Timestamper timestamper(const QDateTime& at) const;

    // A self-signed leaf that chains to nothing.
    static codesign::SigningIdentity selfSigned(
        const QString& commonName, const std::optional<QString>& organizationalUnit);

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
};

} // namespace corvanta::test
