#include "package/PackageCheck.h"

#include "install/UpdateError.h"

using namespace Qt::StringLiterals;

namespace corvanta {

QString checkPackage(const PackageSigner& signer, const QString& name, const std::optional<QString>& team)
{
    if (!signer.status.startsWith(u"signed"_s)) {
        throw UpdateError(
            u"%1's installer package isn't signed, so Corvanta can't tell who made it. Refusing to run it."_s
                .arg(name));
    }
    const std::optional<QString> packageTeam = signer.team();
    if (!signer.trusted || !signer.leaf || !signer.leaf->startsWith(PackageSigner::installerPrefix)
        || !packageTeam) {
        throw UpdateError(u"%1's installer package is signed by %2 (%3), not a Developer ID Installer "
                          u"certificate from Apple. Refusing to run it."_s.arg(
                              name, signer.leaf.value_or(u"an unknown certificate"_s), signer.status));
    }
    if (!signer.accepted) {
        throw UpdateError(
            u"Gatekeeper rejects %1's installer package (spctl --assess --type install), for example because "
            u"it isn't notarized or its certificate was revoked. Refusing to run it."_s.arg(name));
    }
    if (team) {
        if (*team == *packageTeam)
            return *team;
        throw UpdateError(u"Team ID mismatch: %1 on your other Mac was signed by %2, this package by %3. "
                          u"Refusing to run it."_s.arg(name, *team, *packageTeam));
    }
    if (signer.notarized)
        return *packageTeam;
    throw UpdateError(u"%1's installer package isn't notarized by Apple, and your other Mac has no developer "
                      u"on record to compare it with. Refusing to run it."_s.arg(name));
}

} // namespace corvanta
