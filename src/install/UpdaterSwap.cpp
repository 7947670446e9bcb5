#include "base/Error.h"
#include "discovery/InstalledApp.h"
#include "install/FileTree.h"
#include "install/Updater.h"
#include "platform/Ditto.h"
#include "platform/Rename.h"
#include "platform/Trash.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

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

void Updater::swap(const QString& newApp, const QString& installed) const
{
    const QFileInfo target(installed);
    const QString name = appName(installed);
    const QString staging = target.absolutePath() + u"/.corvanta-"_s + newUuid();
    if (::mkdir(QFile::encodeName(staging).constData(), 0700) != 0)
        std::rethrow_exception(UpdateError::from(
            std::make_exception_ptr(SystemError::fromErrno(u"Can't create "_s + staging)), name));
    // Staged under the installed app's name: after the exchange this is the
    // old copy, and that is the name it should carry into the Trash.
    const QString staged = staging + u'/' + target.fileName();
    try {
        m_services.ditto.copy(newApp, staged);
    } catch (const SystemError& error) {
        files::removeTree(staging);
        throw UpdateError(u"ditto failed: "_s + error.description());
    }
    try {
        m_services.rename.exchange(staged, installed);
    } catch (...) {
        files::removeTree(staging);
        std::rethrow_exception(UpdateError::from(std::current_exception(), name));
    }
    // A failure here leaves the new app in place and the old one in the
    // staging folder beside it, where the user can still find it.
    moveToTrash(staged);
    files::removeTree(staging);
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
    const QString copy = m_applications + u"/.corvanta-"_s + newUuid() + u".app"_s;
    Ditto& ditto = m_services.ditto;
    // Made apart from the co_await: GCC 12 destroys temporaries of a
    // co_await expression twice.
    auto copying = blocking([&ditto, app, copy] {
        try {
            ditto.copy(app, copy);
        } catch (const SystemError& error) {
            files::removeTree(copy);
            throw UpdateError(u"ditto failed: "_s + error.description());
        }
    });
    co_await std::move(copying);
    try {
        m_services.rename.noReplace(copy, destination);
    } catch (const SystemError& error) {
        files::removeTree(copy);
        // Someone put an app of that name there while the copy ran.
        if (error.code() == EEXIST)
            throw alreadyThere();
        std::rethrow_exception(UpdateError::from(std::current_exception(), name));
    }
    co_return destination;
}

} // namespace corvanta
