#include "codesign/MappedFile.h"

#include <utility>

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::codesign {

std::optional<MappedFile> MappedFile::open(const QString& path)
{
    // One open and the descriptor's own attributes, no separate stat: opened
    // without blocking, since a FIFO in place of the file would never answer.
    // The mapping outlives the descriptor, so it is closed at once.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st { };
    MappedFile mapped;
    bool readable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (readable && st.st_size > 0) {
        void* data = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        readable = data != MAP_FAILED;
        if (readable)
            mapped.m_bytes = ByteView(static_cast<const std::uint8_t*>(data), std::size_t(st.st_size));
    }
    ::close(fd);
    if (!readable)
        return std::nullopt;
    return mapped;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_bytes(std::exchange(other.m_bytes, ByteView()))
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    // The other object now ends our old mapping.
    std::swap(m_bytes, other.m_bytes);
    return *this;
}

MappedFile::~MappedFile()
{
    if (m_bytes.size() > 0)
        ::munmap(const_cast<std::uint8_t*>(m_bytes.data()), m_bytes.size());
}

} // namespace corvanta::codesign
