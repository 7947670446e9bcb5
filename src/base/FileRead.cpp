#include "base/FileRead.h"

#include <cerrno>

#include <QFile>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta {

qsizetype readAt(int fd, void* buffer, std::size_t size, off_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return qsizetype(done);
}

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
    const qsizetype done = readAt(fd, data.data(), std::size_t(data.size()), 0);
    if (done < 0 || done > st.st_size)
        return std::nullopt; // unreadable, or it grew while being read
    data.truncate(done);
    return data;
}

} // namespace corvanta
