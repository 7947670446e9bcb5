#include "support/PrivateKeyring.h"

#include <QDir>
#include <QFile>

namespace corvanta::test {

QProcessEnvironment privateKeyringEnvironment(const QTemporaryDir& home)
{
    const QString runtime = home.filePath(QStringLiteral("run"));
    if (!home.isValid() || !QDir().mkpath(runtime)
        || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return {};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
        { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "GNOME_KEYRING_CONTROL" })
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    return env;
}

} // namespace corvanta::test
