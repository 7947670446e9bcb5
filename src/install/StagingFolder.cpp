#include "install/StagingFolder.h"

#include "base/Error.h"
#include "install/FileTree.h"

#include <cerrno>
#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// An exclusive lock on the folder itself; -1 when someone else holds it.
int lockFolder(const QString& path)
{
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const char* const replacesName = ".replaces";

// "<device> <inode>" of a folder, which a rename keeps.
std::optional<QByteArray> identity(const QString& path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino));
}

// The app in a dead install's staging folder that was the installed one
// before the exchange, if the exchange happened.
std::optional<QString> oldCopyIn(const QString& staging)
{
    QFile note(staging + u'/' + QLatin1StringView(replacesName));
    if (!note.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray replaced = note.readAll();
    const QStringList apps = QDir(staging).entryList({ u"*.app"_s }, QDir::Dirs | QDir::NoSymLinks);
    for (const QString& app : apps) {
        if (identity(staging + u'/' + app) == replaced)
            return staging + u'/' + app;
    }
    return std::nullopt;
}

} // namespace

void StagingFolder::noteReplacing(const QString& staged, const QString& installed)
{
    const auto replaced = identity(installed);
    if (!replaced)
        throw SystemError::fromErrno(u"Can't read "_s + installed);
    QFile note(QFileInfo(staged).absolutePath() + u'/' + QLatin1StringView(replacesName));
    if (!note.open(QIODevice::WriteOnly | QIODevice::Truncate) || note.write(*replaced) != replaced->size())
        throw SystemError(u"Can't write %1: %2"_s.arg(note.fileName(), note.errorString()), EIO);
}

StagingFolder::StagingFolder(const QString& parent, const QString& prefix)
    : m_path(parent + u'/' + prefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    // Made and locked under a name no sweep takes for ours, then renamed (the
    // lock goes with the folder): another process's sweep can never find it
    // unlocked between the two steps and remove it from under us.
    const QString unlocked = m_path + u".new"_s;
    if (::mkdir(QFile::encodeName(unlocked).constData(), 0700) != 0)
        throw SystemError::fromErrno(u"Can't create "_s + unlocked);
    m_lock = lockFolder(unlocked);
    if (m_lock < 0
        || ::rename(QFile::encodeName(unlocked).constData(), QFile::encodeName(m_path).constData()) != 0) {
        const SystemError error = SystemError::fromErrno(u"Can't lock "_s + unlocked);
        if (m_lock >= 0)
            ::close(m_lock);
        files::removeTree(unlocked);
        throw error;
    }
}

StagingFolder::~StagingFolder()
{
    files::removeTree(m_path);
    ::close(m_lock);
}

bool StagingFolder::isOurs(const QString& name, const QString& prefix)
{
    static const QRegularExpression uuid(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);
    if (!name.startsWith(prefix))
        return false;
    QString rest = name.mid(prefix.size());
    if (prefix == stagingPrefix && rest.endsWith(u".app"_s))
        rest.chop(4);
    return uuid.match(rest).hasMatch();
}

int StagingFolder::sweep(const QString& folder, const QString& prefix,
    const std::function<void(const QString& app)>& keep) noexcept
{
    int swept = 0;
    const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!isOurs(name, prefix))
            continue;
        const QString path = folder + u'/' + name;
        struct stat st { };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
            || st.st_uid != ::geteuid())
            continue;
        const int lock = lockFolder(path);
        if (lock < 0)
            continue; // a living install's
        if (keep) {
            if (const auto old = oldCopyIn(path)) {
                try {
                    keep(*old);
                } catch (const Error&) {
                    // Nowhere to keep it: it goes with the folder, as it would have gone to the Trash.
                }
            }
        }
        swept += files::removeTree(path) ? 1 : 0;
        ::close(lock);
    }
    return swept;
}

} // namespace corvanta
