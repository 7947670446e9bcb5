#include "base/Error.h"
#include "discovery/InstalledApp.h"
#include "install/FileTree.h"
#include "install/Leftovers.h"
#include "install/Updater.h"

#include <filesystem>
#include <functional>
#include <system_error>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

qsizetype depth(const QString& path)
{
    return path.split(u'/', Qt::SkipEmptyParts).size();
}

// Deletes for good, keeping errno so a refusal by the system reads as one.
void removeForGood(const QString& path)
{
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error) {
        throw SystemError(
            u"Can't delete %1: %2"_s.arg(path, QString::fromStdString(error.message())), error.value());
    }
}

// A launch agent's property list directly inside a LaunchAgents folder.
bool isLaunchAgent(const QString& path)
{
    const QFileInfo info(path);
    return info.fileName().endsWith(u".plist"_s) && info.dir().dirName() == u"LaunchAgents";
}

} // namespace

std::optional<QString> Updater::protectedReason(const InstalledApp& app)
{
    if (app.bundleID.startsWith(u"com.apple."_s))
        return u"%1 is part of macOS or an Apple app."_s.arg(app.name);
    if (app.isCorvanta())
        return u"Corvanta can't remove itself. Drag it to the Trash from Applications."_s;
    return std::nullopt;
}

QStringList Updater::uninstall(const InstalledApp& app, const QList<QUrl>& data, const QString& library,
    const QStringList& caskZap, bool permanently, bool sandboxed) const
{
    // Every check before anything moves.
    if (const std::optional<QString> refusal = protectedReason(app))
        throw UpdateError(*refusal);
    const QString appPath = app.url.toLocalFile();
    const std::optional<QString> real = files::realPath(appPath);
    if (!real || !real->startsWith(m_applications + u'/'))
        throw UpdateError(u"%1 isn't inside %2."_s.arg(app.name, m_applications));
    if (!running(app).isEmpty())
        throw UpdateError(u"%1 is running. Quit it first."_s.arg(app.name));
    const std::optional<QString> realLibrary = files::realPath(library);
    if (!realLibrary || !QFileInfo(*realLibrary).isDir())
        throw UpdateError(u"%1 doesn't exist."_s.arg(library));
    const qsizetype minimumDepth = depth(*realLibrary) + 2;
    // Found again here, not taken from the caller: whoever asks, only what
    // the rules tie to this app, as the Library stands now, can go.
    const QSet<QString> leftovers
        = data.isEmpty() ? QSet<QString>() : Leftovers::realPaths(app, library, caskZap);
    QStringList items;
    for (const QUrl& url : data) {
        const QString path = url.toLocalFile();
        const std::optional<QString> item = files::realPath(path);
        if (!item || !item->startsWith(*realLibrary + u'/') || depth(*item) < minimumDepth) {
            throw UpdateError(
                u"Refusing to remove %1: it isn't an app's own folder inside %2."_s.arg(path, *realLibrary));
        }
        if (!leftovers.contains(*item))
            throw UpdateError(
                u"Refusing to remove %1: it isn't one of %2's leftovers."_s.arg(path, app.name));
        items << path;
    }

    const std::function<void(const QString&)> remove = permanently
        ? std::function<void(const QString&)>(&removeForGood)
        : std::function<void(const QString&)>([this](const QString& path) { moveToTrash(path); });

    try {
        remove(appPath);
    } catch (...) {
        std::rethrow_exception(UpdateError::from(std::current_exception(), app.name));
    }
    QStringList removed { appPath };
    const QString domain = u"gui/"_s + QString::number(::getuid());
    for (const QString& item : std::as_const(items)) {
        // A loaded agent would be started again by launchd, and keep running
        // from a file that is gone; where the tool is missing this does nothing.
        if (!sandboxed && isLaunchAgent(item))
            output(u"/bin/launchctl"_s, { u"bootout"_s, domain, item });
        remove(item);
        removed << item;
    }
    return removed;
}

} // namespace corvanta
