#include "codesign/MappedFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::codesign {

std::optional<MappedFile> MappedFile::open(const QString& path)
{
    // One open and the descriptor's own attributes, no separate stat: opened
    // without blocking, since a FIFO in place of the file would never answer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    MappedFile mapped;
    const qint64 size = qint64(st.st_size);
    if (size > 0) {
        uchar* data = file->map(0, size);
        if (!data)
            return std::nullopt;
        mapped.m_bytes = ByteView(data, std::size_t(size));
    }
    mapped.m_file = std::move(file);
    return mapped;
}

MappedFile::MappedFile(MappedFile&&) noexcept = default;
MappedFile& MappedFile::operator=(MappedFile&&) noexcept = default;
MappedFile::~MappedFile() = default;

} // namespace corvanta::codesign
