#include "base/Error.h"
#include "discovery/InstalledApp.h"
#include "install/FileTree.h"
#include "install/StagingFolder.h"
#include "install/Updater.h"
#include "platform/Rename.h"
#include "platform/Trash.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// "Foo.app" → ("Foo", "app"); "Foo" → ("Foo", ""); a leading dot starts no extension.
std::pair<QString, QString> splitName(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return { name, QString() };
    return { name.left(dot), name.mid(dot + 1) };
}

// The installed app's file name without its extension, as the texts name it.
QString appName(const QString& path)
{
    return splitName(QFileInfo(path).fileName()).first;
}

} // namespace

Updater::Updater(Services services, const QString& applications, std::optional<QString> trash)
    : m_services(services)
    , m_trash(std::move(trash))
{
    const auto real = files::realPath(applications);
    if (!real || !QFileInfo(*real).isDir())
        throw UpdateError(u"%1 doesn't exist."_s.arg(applications));
    m_applications = *real;
}

QList<RunningProcess> Updater::running(const InstalledApp& app) const
{
    return m_services.workspace.running(app.url.toLocalFile());
}

QString Updater::swap(const QString& staged, const QString& installed) const
{
    const QString name = appName(installed);
    try {
        StagingFolder::noteReplacing(staged, installed);
        m_services.rename.exchange(staged, installed);
    } catch (...) {
        std::rethrow_exception(UpdateError::from(std::current_exception(), name));
    }
    // The new version is in place from here on: whatever happens to the old
    // copy, the update happened, and the log says where the old copy is.
    try {
        moveToTrash(staged);
        return m_trash ? u"Swapped in; the old copy moved to "_s + *m_trash
                       : u"Swapped in; the old copy is in the Trash"_s;
    } catch (const Error& error) {
        const QString kept = keepOldCopy(staged, installed);
        return u"Swapped in, but the old copy couldn't be moved to the Trash (%1). It is at %2; "
               u"delete it when you no longer need it."_s.arg(error.description(), kept);
    }
}

QString Updater::keepOldCopy(const QString& old, const QString& installed) const
{
    const QFileInfo target(installed);
    const auto [base, extension] = splitName(target.fileName());
    for (int n = 1;; ++n) {
        const QString numbered
            = n == 1 ? base + u" (old version)"_s : u"%1 (old version %2)"_s.arg(base).arg(n);
        const QString destination
            = target.absolutePath() + u'/' + numbered + (extension.isEmpty() ? QString() : u'.' + extension);
        try {
            m_services.rename.noReplace(old, destination);
            return destination;
        } catch (const SystemError& error) {
            // Taken: try the next number. Anything else leaves it where it is.
            if (error.code() != EEXIST)
                return old;
        }
    }
}

QString Updater::moveToTrash(const QString& item) const
{
    if (!m_trash) {
        m_services.trash.moveToTrash(item);
        return {};
    }
    if (!QDir().mkpath(*m_trash))
        throw SystemError(u"Can't create the folder %1"_s.arg(*m_trash), errno != 0 ? errno : EIO);
    const QString fileName = QFileInfo(item).fileName();
    const auto [base, extension] = splitName(fileName);
    for (int n = 1;; ++n) {
        QString candidate = fileName;
        if (n > 1)
            candidate = extension.isEmpty() ? u"%1 %2"_s.arg(base, QString::number(n))
                                            : u"%1 %2.%3"_s.arg(base, QString::number(n), extension);
        const QString destination = *m_trash + u'/' + candidate;
        if (files::exists(destination))
            continue;
        try {
            m_services.trash.moveTo(item, destination);
            return destination;
        } catch (const SystemError& error) {
            // Taken between the look and the move: try the next number.
            if (error.code() != EEXIST)
                throw;
        }
    }
}

QCoro::Task<QString> Updater::place(QString app, QString name) const
{
    const QString fileName = QFileInfo(app).fileName();
    const QString destination = m_applications + u'/' + fileName;
    const auto alreadyThere
        = [&] { return UpdateError(u"%1 is already in %2."_s.arg(fileName, m_applications)); };
    if (files::exists(destination))
        throw alreadyThere();
    // The app was staged and verified beside the apps: one rename puts that
    // very tree in place, and never over another.
    try {
        m_services.rename.noReplace(app, destination);
    } catch (const SystemError& error) {
        // Someone put an app of that name there meanwhile.
        if (error.code() == EEXIST)
            throw alreadyThere();
        std::rethrow_exception(UpdateError::from(std::current_exception(), name));
    }
    co_return destination;
}

} // namespace corvanta
