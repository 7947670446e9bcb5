#include "platform/Trash.h"

#include "base/Error.h"

#include <cerrno>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The freedesktop.org Trash of the user, as Qt implements it.
class LinuxTrash : public Trash {
public:
    void moveToTrash(const QString& path) override
    {
        // Qt 6.4 falls back to "files/" under the current folder when the
        // data folder that holds the home Trash is missing: make sure it exists.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (data.isEmpty() || !QDir().mkpath(data))
            throw SystemError(u"Can't move %1 to the Trash: there is no folder for it."_s.arg(path), ENOENT);
        errno = 0;
        QFile file(path);
        if (file.moveToTrash())
            return;
        // Qt keeps no error code; the failed call's errno is still set.
        const int code = errno != 0 ? errno : EIO;
        throw SystemError(u"Can't move %1 to the Trash: %2"_s.arg(path, file.errorString()), code);
    }

    void moveTo(const QString& path, const QString& destination) override
    {
        if (::renameat2(AT_FDCWD, QFile::encodeName(path).constData(), AT_FDCWD,
                QFile::encodeName(destination).constData(), RENAME_NOREPLACE)
            != 0)
            throw SystemError::fromErrno(u"Can't move %1 to %2"_s.arg(path, destination));
    }
};

} // namespace

std::unique_ptr<Trash> Trash::create()
{
    return std::make_unique<LinuxTrash>();
}

} // namespace corvanta
