#include "codesign/CodeDirectory.h"

#include <algorithm>

namespace corvanta::codesign {

namespace {

std::uint32_t headerSizeFor(std::uint32_t version)
{
    if (version >= CodeDirectory::versionWithLinkage)
        return 108;
    if (version >= CodeDirectory::versionWithRuntime)
        return 96;
    if (version >= CodeDirectory::versionWithExecSegment)
        return 88;
    if (version >= CodeDirectory::versionWithCodeLimit64)
        return 64;
    if (version >= CodeDirectory::versionWithTeam)
        return 52;
    if (version >= CodeDirectory::versionWithScatter)
        return 48;
    return 44;
}

} // namespace

std::optional<CodeDirectory> CodeDirectory::parse(ByteView blob)
{
    const auto blobMagic = blob.be32(0);
    const auto length = blob.be32(4);
    if (!blobMagic || *blobMagic != magic || !length || *length > blob.size() || *length < 44)
        return std::nullopt;
    const ByteView bytes = *blob.sub(0, *length);

    CodeDirectory out;
    out.version = *bytes.be32(8);
    if (out.version < earliestVersion || out.version >= compatibilityLimit)
        return std::nullopt;
    const std::uint32_t headerSize = headerSizeFor(out.version);
    if (*length < headerSize)
        return std::nullopt;
    out.flags = *bytes.be32(12);
    out.hashOffset = *bytes.be32(16);
    const std::uint32_t identOffset = *bytes.be32(20);
    out.specialSlotCount = *bytes.be32(24);
    out.codeSlotCount = *bytes.be32(28);
    out.codeLimit = *bytes.be32(32);
    out.hashLength = *bytes.u8(36);
    out.hashType = HashType(*bytes.u8(37));
    out.platform = *bytes.u8(38);
    out.pageSizeLog2 = *bytes.u8(39);
    if (out.version >= versionWithScatter)
        out.scatterOffset = *bytes.be32(44);
    std::uint32_t teamOffset = 0;
    if (out.version >= versionWithTeam)
        teamOffset = *bytes.be32(48);
    if (out.version >= versionWithCodeLimit64) {
        const std::uint64_t limit64 = *bytes.be64(56);
        if (limit64 != 0) {
            // The 32-bit field must be zero when the 64-bit one is in use.
            if (out.codeLimit != 0)
                return std::nullopt;
            out.codeLimit = limit64;
        }
    }
    if (out.version >= versionWithExecSegment) {
        out.execSegmentBase = *bytes.be64(64);
        out.execSegmentLimit = *bytes.be64(72);
        out.execSegmentFlags = *bytes.be64(80);
    }
    if (out.version >= versionWithRuntime)
        out.runtimeVersion = *bytes.be32(88);

    const auto expectedLength = hashSize(out.hashType);
    if (!expectedLength || *expectedLength != out.hashLength)
        return std::nullopt;
    if (out.pageSizeLog2 > 31)
        return std::nullopt;
    // Slots: special hashes sit just below hashOffset, code hashes from it upwards.
    const std::uint64_t specialBytes = std::uint64_t(out.specialSlotCount) * out.hashLength;
    const std::uint64_t codeBytes = std::uint64_t(out.codeSlotCount) * out.hashLength;
    if (out.hashOffset < headerSize || specialBytes > out.hashOffset - headerSize
        || !bytes.contains(out.hashOffset, codeBytes))
        return std::nullopt;
    const std::uint64_t pages = out.pageSizeLog2 == 0
        ? (out.codeLimit > 0 ? 1 : 0)
        : (out.codeLimit + out.pageSize() - 1) >> out.pageSizeLog2;
    if (pages != out.codeSlotCount)
        return std::nullopt;

    const auto identifier = bytes.cString(identOffset);
    if (identOffset < headerSize || !identifier)
        return std::nullopt;
    out.identifier = QString::fromUtf8(identifier->data(), qsizetype(identifier->size()));
    if (teamOffset != 0) {
        const auto team = bytes.cString(teamOffset);
        if (teamOffset < headerSize || !team)
            return std::nullopt;
        out.team = QString::fromUtf8(team->data(), qsizetype(team->size()));
    }
    out.bytes = bytes.toByteArray();
    return out;
}

std::optional<ByteView> CodeDirectory::specialSlotHash(int slot) const
{
    if (slot <= 0 || std::uint32_t(slot) > specialSlotCount)
        return std::nullopt;
    return ByteView(bytes).sub(hashOffset - std::uint64_t(slot) * hashLength, hashLength);
}

bool CodeDirectory::hasSpecialSlot(int slot) const
{
    const auto hash = specialSlotHash(slot);
    return hash
        && std::any_of(hash->data(), hash->data() + hash->size(), [](std::uint8_t b) { return b != 0; });
}

ByteView CodeDirectory::codeSlotHash(std::uint32_t index) const
{
    return *ByteView(bytes).sub(hashOffset + std::uint64_t(index) * hashLength, hashLength);
}

QByteArray CodeDirectory::fullHash() const
{
    return Digest::of(hashType, ByteView(bytes));
}

} // namespace corvanta::codesign
