#pragma once

#include "package/PackageTools.h"

#include <QString>

namespace corvanta {

// The one-line administrator shell script that installs `package`: a private
// folder under `tempBase` (removed by its exit trap), a copy of the package
// there, and on that copy the checks made before consent again, as root: the
// SHA-256 (exit 92), the signature report's status (93), certificate 1 of
// team `team` (94) and Gatekeeper (95); 91 when the copy can't be made. With
// `dryRun` the last step only says what it would install. Throws UpdateError
// before anything runs when a value could break out of its quotes.
QString rootCommand(const QString& package, const QString& sha256, const QString& team,
    const QString& tempBase, bool dryRun, const ScriptTools& tools);

// `text` as an AppleScript string literal: control characters dropped,
// backslashes and double quotes escaped, wrapped in double quotes.
QString appleScriptLiteral(const QString& text);

// Whether `path` is absolute and made only of letters, digits and . _ / -,
// with no ".." component: safe inside single quotes and as one shell word.
bool isPlainPath(const QString& path);

} // namespace corvanta
