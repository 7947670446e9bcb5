#include "codesign/SignedImage.h"

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
    for (const SliceSignature& slice : m_slices) {
        if (slice.slice.cpuType == cpuType)
            return slice;
    }
    return m_slices.front();
}

} // namespace corvanta::codesign
