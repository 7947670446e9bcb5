#pragma once

#include "codesign/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace corvanta::codesign {

namespace cpu {
inline constexpr std::uint32_t abi64 = 0x01000000;
inline constexpr std::uint32_t x86 = 7;
inline constexpr std::uint32_t x86_64 = x86 | abi64;
inline constexpr std::uint32_t arm = 12;
inline constexpr std::uint32_t arm64 = arm | abi64;
inline constexpr std::uint32_t powerPC = 18;
inline constexpr std::uint32_t powerPC64 = powerPC | abi64;
} // namespace cpu

namespace machO {
inline constexpr std::uint32_t magic32 = 0xfeedface;
inline constexpr std::uint32_t magic64 = 0xfeedfacf;
inline constexpr std::uint32_t fatMagic = 0xcafebabe;
inline constexpr std::uint32_t fatMagic64 = 0xcafebabf;
inline constexpr std::uint32_t loadSegment = 0x1;
inline constexpr std::uint32_t loadSegment64 = 0x19;
inline constexpr std::uint32_t loadCodeSignature = 0x1d;
inline constexpr std::uint32_t fileExecute = 0x2;
inline constexpr std::uint32_t fileDylib = 0x6;
inline constexpr std::uint32_t fileBundle = 0x8;
} // namespace machO

struct MachOSegment {
    std::string name;
    std::uint64_t fileOffset = 0;
    std::uint64_t fileSize = 0;
    std::uint64_t vmSize = 0;
    std::uint32_t commandOffset = 0; // of its load command, from the slice start
};

// Where LC_CODE_SIGNATURE says the signature lives, relative to the slice.
struct SignatureLocation {
    std::uint32_t dataOffset = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t commandOffset = 0;
};

// One architecture of a Mach-O file: the whole file for a thin one, one member
// of a universal one. Offsets inside are relative to the slice's start.
struct MachOSlice {
    std::uint32_t cpuType = 0;
    std::uint32_t cpuSubtype = 0;
    std::uint32_t fileType = 0;
    bool is64 = false;
    std::uint64_t offset = 0; // of the slice within the file
    std::uint64_t size = 0;
    std::uint32_t alignment = 0; // log2, from the universal header (0 for thin files)
    std::uint32_t headerSize = 0;
    std::uint32_t commandCount = 0;
    std::uint32_t commandsSize = 0;
    std::vector<MachOSegment> segments;
    // Where the first section's bytes start: load commands may grow up to here.
    std::uint64_t firstSectionOffset = 0;
    std::optional<SignatureLocation> signature;
    // The __TEXT,__info_plist section a bare executable may carry, as (offset, size).
    std::optional<std::pair<std::uint64_t, std::uint64_t>> infoPlist;

    const MachOSegment* segment(std::string_view name) const;
};

struct MachOFile {
    // Bytes [offset, offset + length) of the file or slice being read; none, or
    // fewer bytes, when they can't be read.
    using ReadAt = std::function<std::optional<ByteView>(std::uint64_t offset, std::uint64_t length)>;

    bool universal = false;
    bool universal64 = false;
    std::vector<MachOSlice> slices;

    // The slices of a thin or universal Mach-O file; none when the bytes are not
    // one, or when any header or load command points outside the file.
    static std::optional<MachOFile> parse(ByteView file);
    // The same, reading only the headers and load commands through `read`:
    // what a reader of signing information needs from a large executable.
    static std::optional<MachOFile> read(std::uint64_t fileSize, const ReadAt& read);
    // Just the slice at [offset, offset + size) of `file`.
    static std::optional<MachOSlice> parseSlice(ByteView file, std::uint64_t offset, std::uint64_t size);
    // The slice at `offset` of a file, `read` taking offsets from its start.
    static std::optional<MachOSlice> readSlice(std::uint64_t offset, std::uint64_t size, const ReadAt& read);
};

// "x86_64", "arm64", "i386"…; the hexadecimal type for others.
QString architectureName(std::uint32_t cpuType);

} // namespace corvanta::codesign
