#include "base/SmallFile.h"

#include <cerrno>

#include <QFile>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta {

std::optional<QByteArray> readSmallFile(const QString& path, qint64 maxSize)
{
    // Opened without blocking, because a FIFO or device in place of the file
    // would block or never end; the descriptor's own attributes say what it
    // is, so there is no separate stat of the path to race with.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxSize)
        return std::nullopt;
    // One byte more than the file had a moment ago tells a file that grew since.
    QByteArray data(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd, data.data() + done, std::size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        done += n;
    }
    if (done > st.st_size)
        return std::nullopt;
    data.truncate(done);
    return data;
}

} // namespace corvanta
