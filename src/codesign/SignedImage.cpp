#include "codesign/SignedImage.h"

#include "base/FileRead.h"

#include <algorithm>
#include <deque>

#include <QFile>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::codesign {

SignedImage::SignedImage(MappedFile file, MachOFile machO)
    : m_file(std::move(file))
    , m_machO(std::move(machO))
{
    const ByteView all = m_file.bytes();
    for (const MachOSlice& slice : m_machO.slices) {
        SliceSignature entry;
        entry.slice = slice;
        entry.bytes = *all.sub(slice.offset, slice.size);
        if (slice.signature) {
            const auto region = entry.bytes.sub(slice.signature->dataOffset, slice.signature->dataSize);
            if (region)
                entry.signature = EmbeddedSignature::parse(*region);
            entry.malformed = !entry.signature;
        }
        m_slices.push_back(std::move(entry));
    }
}

std::optional<SignedImage> SignedImage::open(const QString& path)
{
    auto file = MappedFile::open(path);
    if (!file)
        return std::nullopt;
    auto machO = MachOFile::parse(file->bytes());
    if (!machO)
        return std::nullopt;
    return SignedImage(std::move(*file), std::move(*machO));
}

const SliceSignature& SignedImage::preferred(std::uint32_t cpuType) const
{
    return m_slices[preferredSlice(m_machO.slices, cpuType)];
}

std::size_t preferredSlice(const std::vector<MachOSlice>& slices, std::uint32_t cpuType)
{
    for (std::size_t i = 0; i < slices.size(); ++i) {
        if (slices[i].cpuType == cpuType)
            return i;
    }
    return 0;
}

std::optional<SigningHeaders> SigningHeaders::read(const QString& path, std::uint32_t cpuType)
{
    // Opened without blocking, since a FIFO in place of the file would never answer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;

    // Every read is kept until parsing ends, since views point into it. The
    // budget covers them all: slices may overlap, and thirty-two of them
    // naming the same large load commands must not cost thirty-two copies.
    std::deque<QByteArray> reads;
    std::uint64_t budget = maxRead;
    const auto readAt = [&](std::uint64_t offset, std::uint64_t length) -> std::optional<ByteView> {
        if (length > budget)
            return std::nullopt;
        budget -= length;
        QByteArray& bytes = reads.emplace_back(qsizetype(length), Qt::Uninitialized);
        bytes.truncate(
            std::max<qsizetype>(corvanta::readAt(fd, bytes.data(), std::size_t(length), off_t(offset)), 0));
        return ByteView(bytes);
    };
    auto machO = MachOFile::read(std::uint64_t(st.st_size), readAt);
    if (!machO)
        return std::nullopt;
    SigningHeaders out { std::move(*machO) };
    out.preferred = preferredSlice(out.machO.slices, cpuType);
    const MachOSlice& slice = out.machO.slices[out.preferred];
    if (const auto& location = slice.signature;
        location && std::uint64_t(location->dataOffset) + location->dataSize <= slice.size) {
        const auto superBlob = readAt(slice.offset + location->dataOffset, location->dataSize);
        if (superBlob && superBlob->size() == location->dataSize)
            out.signature = EmbeddedSignature::parse(*superBlob);
    }
    return out;
}

} // namespace corvanta::codesign
