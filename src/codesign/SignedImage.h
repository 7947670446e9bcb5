#pragma once

#include "codesign/EmbeddedSignature.h"
#include "codesign/MachO.h"
#include "codesign/MappedFile.h"

#include <optional>
#include <vector>

namespace corvanta::codesign {

// What one architecture of an executable carries.
struct SliceSignature {
    MachOSlice slice;
    ByteView bytes; // the whole slice
    // The embedded signature; none when the slice has no LC_CODE_SIGNATURE or
    // what it points at is not a sound SuperBlob (see `malformed`).
    std::optional<EmbeddedSignature> signature;
    bool malformed = false;
};

// A Mach-O executable mapped into memory with the signature of every slice
// taken apart.
class SignedImage {
public:
    // None when the file can't be read or is not Mach-O.
    static std::optional<SignedImage> open(const QString& path);

    const MachOFile& machO() const { return m_machO; }
    const std::vector<SliceSignature>& slices() const { return m_slices; }
    ByteView bytes() const { return m_file.bytes(); }

    // The slice the platform would run on `cpuType`, else the first one.
    const SliceSignature& preferred(std::uint32_t cpuType) const;

private:
    SignedImage(MappedFile file, MachOFile machO);

    MappedFile m_file;
    MachOFile m_machO;
    std::vector<SliceSignature> m_slices;
};

} // namespace corvanta::codesign
