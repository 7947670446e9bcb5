#include "platform/Workspace.h"

#include "base/Error.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

class LinuxWorkspace : public Workspace {
public:
    QList<RunningProcess> running(const QString& bundle) const override
    {
        QList<RunningProcess> found;
        const QString root = QFileInfo(bundle).canonicalFilePath();
        if (root.isEmpty())
            return found;
        const QString prefix = root.endsWith(u'/') ? root : root + u'/';
        const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            bool isPid = false;
            const qint64 pid = entry.toLongLong(&isPid);
            if (!isPid)
                continue;
            // Other users' processes can't be read without privileges; they
            // are skipped like processes that ended meanwhile.
            char target[4096];
            const QByteArray link = QFile::encodeName(u"/proc/"_s + entry + u"/exe"_s);
            const ssize_t length = ::readlink(link.constData(), target, sizeof target);
            if (length <= 0 || length == sizeof target)
                continue;
            QString executable = QFile::decodeName(QByteArray(target, length));
            // The kernel marks executables replaced on disk; the process still runs the old code.
            if (executable.endsWith(u" (deleted)"_s))
                executable.chop(10);
            if (executable.startsWith(prefix))
                found.append({ pid, executable });
        }
        return found;
    }

    void terminate(qint64 pid) override
    {
        // 0 and negative numbers address whole process groups, ours included.
        if (pid <= 0)
            throw SystemError(u"There is no process %1."_s.arg(pid), ESRCH);
        if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0)
            throw SystemError::fromErrno(u"Can't ask process %1 to quit"_s.arg(pid));
    }
};

} // namespace

std::unique_ptr<Workspace> Workspace::create()
{
    return std::make_unique<LinuxWorkspace>();
}

} // namespace corvanta
