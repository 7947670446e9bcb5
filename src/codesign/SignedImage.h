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

// The slices of an executable and the embedded signature of the one a Mac
// with a given processor runs, read with a few small reads instead of a
// mapping: signing information needs only the headers and the signature, and
// unmapping a file interrupts every core running the process to flush its
// TLB, which serialises a scan spread over the cores.
struct SigningHeaders {
    MachOFile machO;
    std::size_t preferred = 0; // into machO.slices
    // None when that slice has no signature or it is not a sound SuperBlob.
    std::optional<EmbeddedSignature> signature;

    // None when the file can't be read or is not Mach-O.
    static std::optional<SigningHeaders> read(const QString& path, std::uint32_t cpuType);

    // What one file's headers and signature may take in all; past it the
    // file is refused rather than read.
    static constexpr std::uint64_t maxRead = 64ull << 20;
};

// The slice the platform would run on `cpuType`, else the first one.
std::size_t preferredSlice(const std::vector<MachOSlice>& slices, std::uint32_t cpuType);

} // namespace corvanta::codesign
