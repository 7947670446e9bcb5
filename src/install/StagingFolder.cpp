#include "install/StagingFolder.h"

#include "base/Error.h"
#include "install/FileTree.h"

#include <QDir>
#include <QFile>
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

} // namespace

StagingFolder::StagingFolder(const QString& parent)
    : m_path(parent + u"/.corvanta-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    if (::mkdir(QFile::encodeName(m_path).constData(), 0700) != 0)
        throw SystemError::fromErrno(u"Can't create "_s + m_path);
    m_lock = lockFolder(m_path);
    if (m_lock < 0) {
        const SystemError error = SystemError::fromErrno(u"Can't lock "_s + m_path);
        files::removeTree(m_path);
        throw error;
    }
}

StagingFolder::~StagingFolder()
{
    files::removeTree(m_path);
    ::close(m_lock);
}

bool StagingFolder::isStagingName(const QString& name)
{
    static const QRegularExpression pattern(
        u"^\\.corvanta-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}(\\.app)?$"_s);
    return pattern.match(name).hasMatch();
}

int StagingFolder::sweep(const QString& folder) noexcept
{
    int swept = 0;
    const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!isStagingName(name))
            continue;
        const QString path = folder + u'/' + name;
        struct stat st { };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
            || st.st_uid != ::geteuid())
            continue;
        const int lock = lockFolder(path);
        if (lock < 0)
            continue; // a living install's
        swept += files::removeTree(path) ? 1 : 0;
        ::close(lock);
    }
    return swept;
}

} // namespace corvanta
