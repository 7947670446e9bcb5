#pragma once

#include "codesign/SigningIdentity.h"
#include "codesign/TrustAnchors.h"

#include <map>
#include <memory>

#include <QByteArray>
#include <QString>

namespace corvanta::demo {

// The demo world's certificate authority, shaped like Apple's: a root, a
// Developer ID intermediate (marked 1.2.840.113635.100.6.2.6) and one
// Developer ID Application leaf per team (marked 1.2.840.113635.100.6.1.13,
// the team as subject OU). Fresh P-256 keys every time, so making one takes
// milliseconds; the root is the trust anchor of a demo run and nothing else.
class DemoAuthority {
public:
    DemoAuthority(); // throws Error when OpenSSL fails
    ~DemoAuthority();
    DemoAuthority(DemoAuthority&&) noexcept;
    DemoAuthority& operator=(DemoAuthority&&) noexcept;

    QByteArray rootDer() const;
    QByteArray rootPem() const;
    codesign::TrustAnchors anchors() const;

    // "Developer ID Application: <developer> (<team>)", made on first use
    // and the same identity for the same team afterwards.
    codesign::SigningIdentity developerID(const QString& team, const QString& developer);

    static inline const QString rootName = QStringLiteral("Corvanta Demo Root CA");

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
    std::map<QString, codesign::SigningIdentity> m_leaves;
};

} // namespace corvanta::demo
