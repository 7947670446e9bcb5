#pragma once

#include "package/PackageSigner.h"

#include <optional>

#include <QString>

namespace corvanta {

// Decides whether the installer package of the app `name` may run: signed,
// by a Developer ID Installer certificate Apple trusts, accepted by
// Gatekeeper, and by the library's team `team`, or notarized when the
// library has none. Returns the Team ID to enforce; throws UpdateError.
QString checkPackage(const PackageSigner& signer, const QString& name, const std::optional<QString>& team);

} // namespace corvanta
