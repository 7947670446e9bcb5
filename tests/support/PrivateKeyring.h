#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace corvanta::test {

// The environment of a child that runs with its own session bus and keyring:
// no display (so nothing could ever show an unlock prompt), and every folder
// the keyring daemon writes to inside `home`. Empty when the folders can't be made.
QProcessEnvironment privateKeyringEnvironment(const QTemporaryDir& home);

// A `sh -c` script for dbus-run-session that starts the keyring daemon with an
// unlocked login keyring (it needs a password to make one), then runs "$@".
inline const QString unlockedKeyringScript = QStringLiteral(
    "printf corvanta | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1; exec \"$@\"");

} // namespace corvanta::test
