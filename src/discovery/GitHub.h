#pragma once

#include <QUrl>

namespace corvanta {

// GitHub's web address, for the Electron updater's "github" provider. The
// scanner takes it as a parameter so a local server can stand in for it.
inline const QUrl githubWeb { QStringLiteral("https://github.com/") };

} // namespace corvanta
