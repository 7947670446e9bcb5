#pragma once

#include "codesign/ByteView.h"
#include "codesign/Digest.h"

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>

namespace corvanta::codesign {

namespace codeFlags {
inline constexpr std::uint32_t host = 0x1;
inline constexpr std::uint32_t adhoc = 0x2;
inline constexpr std::uint32_t hard = 0x100;
inline constexpr std::uint32_t kill = 0x200;
inline constexpr std::uint32_t forceExpiration = 0x400;
inline constexpr std::uint32_t restrict = 0x800;
inline constexpr std::uint32_t enforcement = 0x1000;
inline constexpr std::uint32_t libraryValidation = 0x2000;
inline constexpr std::uint32_t runtime = 0x10000;
inline constexpr std::uint32_t linkerSigned = 0x20000;
} // namespace codeFlags

// Special slots, counted downwards from the code hashes (slot -n).
namespace specialSlot {
inline constexpr int infoPlist = 1;
inline constexpr int requirements = 2;
inline constexpr int resourceDirectory = 3;
inline constexpr int application = 4;
inline constexpr int entitlements = 5;
inline constexpr int representationSpecific = 6;
inline constexpr int derEntitlements = 7;
} // namespace specialSlot

// The CodeDirectory of one architecture: what the signature seals (hashes of
// code pages and of the special slots) and who the code says it is.
struct CodeDirectory {
    static constexpr std::uint32_t magic = 0xfade0c02;
    static constexpr std::uint32_t earliestVersion = 0x20001;
    static constexpr std::uint32_t compatibilityLimit = 0x2F000;
    static constexpr std::uint32_t versionWithScatter = 0x20100;
    static constexpr std::uint32_t versionWithTeam = 0x20200;
    static constexpr std::uint32_t versionWithCodeLimit64 = 0x20300;
    static constexpr std::uint32_t versionWithExecSegment = 0x20400;
    static constexpr std::uint32_t versionWithRuntime = 0x20500;
    static constexpr std::uint32_t versionWithLinkage = 0x20600;

    QByteArray bytes; // the whole blob, header included
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint32_t hashOffset = 0;
    std::uint32_t specialSlotCount = 0;
    std::uint32_t codeSlotCount = 0;
    std::uint64_t codeLimit = 0;
    HashType hashType = HashType::none;
    std::uint8_t hashLength = 0;
    std::uint8_t platform = 0;
    std::uint8_t pageSizeLog2 = 0;
    std::uint32_t scatterOffset = 0;
    std::uint64_t execSegmentBase = 0;
    std::uint64_t execSegmentLimit = 0;
    std::uint64_t execSegmentFlags = 0;
    std::uint32_t runtimeVersion = 0;
    QString identifier;
    std::optional<QString> team;

    // Parses and checks a CodeDirectory blob: supported version, known hash
    // type, every offset and slot inside the blob. None when any of that fails.
    static std::optional<CodeDirectory> parse(ByteView blob);

    // Bytes per code page; 0 means the whole of codeLimit is one page.
    std::uint64_t pageSize() const { return pageSizeLog2 ? std::uint64_t(1) << pageSizeLog2 : 0; }
    // The stored hash of special slot `slot` (1 = Info.plist …) or none when
    // the directory has fewer special slots.
    std::optional<ByteView> specialSlotHash(int slot) const;
    // Whether the stored special hash is present and not all zeros (zeros mean "absent").
    bool hasSpecialSlot(int slot) const;
    ByteView codeSlotHash(std::uint32_t index) const;

    // The hash of the whole directory with its own hash type, and the first
    // 20 bytes of it, which is the CDHash.
    QByteArray fullHash() const;
    QByteArray cdhash() const { return fullHash().left(20); }
};

} // namespace corvanta::codesign
