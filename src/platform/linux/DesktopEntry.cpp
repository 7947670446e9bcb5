#include "platform/linux/DesktopEntry.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(lcDesktopEntry, "corvanta.platform.desktopentry")

QString quoted(QString argument)
{
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`="_s;
    const bool plain
        = std::none_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); });
    if (!plain) {
        argument.replace(u'\\', u"\\\\"_s)
            .replace(u'"', u"\\\""_s)
            .replace(u'`', u"\\`"_s)
            .replace(u'$', u"\\$"_s);
        argument = u'"' + argument + u'"';
    }
    return argument.replace(u'%', u"%%"_s);
}

QString home(const QProcessEnvironment& environment)
{
    return environment.value(u"HOME"_s, QDir::homePath());
}

} // namespace

QString DesktopEntry::exec(const QStringList& arguments, const QStringList& fieldCodes)
{
    QStringList words;
    for (const QString& argument : arguments)
        words << quoted(argument);
    // The file's string escape comes on top of the quoting of arguments.
    return (words + fieldCodes).join(u' ').replace(u'\\', u"\\\\"_s);
}

QString DesktopEntry::dataHome(const QProcessEnvironment& environment)
{
    const QString set = environment.value(u"XDG_DATA_HOME"_s);
    return set.isEmpty() ? home(environment) + u"/.local/share"_s : set;
}

QString DesktopEntry::configHome(const QProcessEnvironment& environment)
{
    const QString set = environment.value(u"XDG_CONFIG_HOME"_s);
    return set.isEmpty() ? home(environment) + u"/.config"_s : set;
}

bool DesktopEntry::write(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly)
        || file.write(text.toUtf8()) < 0 || !file.commit()) {
        qCWarning(lcDesktopEntry) << "couldn't write" << path << file.errorString();
        return false;
    }
    return true;
}

} // namespace corvanta
