#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace corvanta::DesktopEntry {

// The value of an "Exec" key that runs `arguments` as given: each quoted
// when it holds a reserved character, "%" doubled, then the file's own
// string escape on top. `fieldCodes` ("%u") are appended unquoted.
QString exec(const QStringList& arguments, const QStringList& fieldCodes = {});

// $XDG_DATA_HOME or ~/.local/share, and $XDG_CONFIG_HOME or ~/.config, of `environment`.
QString dataHome(const QProcessEnvironment& environment);
QString configHome(const QProcessEnvironment& environment);

// Writes `text` to `path` atomically, making its folder; false with a log line on failure.
bool write(const QString& path, const QString& text);

} // namespace corvanta::DesktopEntry
