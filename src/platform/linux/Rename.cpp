#include "platform/Rename.h"

#include "base/Error.h"

#include <cstdio>

#include <QFile>

#include <fcntl.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

class LinuxRename : public Rename {
public:
    void exchange(const QString& a, const QString& b) override
    {
        if (::renameat2(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD,
                QFile::encodeName(b).constData(), RENAME_EXCHANGE)
            != 0)
            throw SystemError::fromErrno(u"Can't exchange %1 and %2"_s.arg(a, b));
    }

    void noReplace(const QString& from, const QString& to) override
    {
        if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                QFile::encodeName(to).constData(), RENAME_NOREPLACE)
            != 0)
            throw SystemError::fromErrno(u"Can't move %1 to %2"_s.arg(from, to));
    }
};

} // namespace

std::unique_ptr<Rename> Rename::create()
{
    return std::make_unique<LinuxRename>();
}

} // namespace corvanta
