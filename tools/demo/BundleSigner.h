#pragma once

#include "codesign/SigningIdentity.h"

#include <optional>

#include <QByteArray>
#include <QString>

namespace corvanta::demo {

// How a sample bundle is signed.
struct Signature {
    enum class Kind { none, adHoc, developerID };

    Kind kind = Kind::none;
    QString team; // developerID only
    QString developer; // developerID only

    static Signature unsignedCode() { return {}; }
    static Signature adHoc() { return { Kind::adHoc, {}, {} }; }
    static Signature developerID(const QString& team, const QString& developer)
    {
        return { Kind::developerID, team, developer };
    }

    // "developerID", "adHoc" or "unsigned", as the manifest names them.
    QString name() const
    {
        switch (kind) {
        case Kind::developerID:
            return QStringLiteral("developerID");
        case Kind::adHoc:
            return QStringLiteral("adHoc");
        case Kind::none:
            break;
        }
        return QStringLiteral("unsigned");
    }
};

// Signs the world's bundles once they are written. A world made without a
// signer holds unsigned code: checking works the same, installing doesn't.
class BundleSigner {
public:
    virtual ~BundleSigner() = default;
    // Signs the bundle at `bundle` in place; throws Error on failure.
    virtual void sign(const QString& bundle, const Signature& signature) = 0;
    // The root certificate (PEM) a run must trust for these signatures.
    virtual QByteArray trustAnchorPem() const = 0;
    // The Developer ID Installer identity of a Developer ID signature's team,
    // for packages; none when this signer has none.
    virtual std::optional<codesign::SigningIdentity> installer(const Signature&) { return std::nullopt; }
};

} // namespace corvanta::demo
