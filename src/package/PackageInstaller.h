#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace corvanta {

// Installs a flat package the way "installer -pkg <package> -target /" does,
// for packages that only put files in place: the payload of each component
// (a cpio archive, gzip or pbzx compressed) is unpacked beside its install
// location and each top-level item renamed into place, never over an existing
// one. With `sandbox`, that folder stands for "/Applications" and nothing may
// go elsewhere. Packages with installation scripts are refused, as those
// would run macOS programs. Returns the installed paths; throws UpdateError.
QStringList installPackage(const QString& package, const std::optional<QString>& sandbox);

} // namespace corvanta
