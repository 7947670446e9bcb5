#pragma once

#include "codesign/ByteView.h"
#include "codesign/CodeDirectory.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>

namespace corvanta::codesign {

namespace blobMagic {
inline constexpr std::uint32_t requirement = 0xfade0c00;
inline constexpr std::uint32_t requirements = 0xfade0c01;
inline constexpr std::uint32_t codeDirectory = 0xfade0c02;
inline constexpr std::uint32_t embeddedSignature = 0xfade0cc0;
inline constexpr std::uint32_t detachedSignature = 0xfade0cc1;
inline constexpr std::uint32_t blobWrapper = 0xfade0b01;
inline constexpr std::uint32_t entitlements = 0xfade7171;
inline constexpr std::uint32_t derEntitlements = 0xfade7172;
} // namespace blobMagic

// Index types of the SuperBlob.
namespace blobSlot {
inline constexpr std::uint32_t codeDirectory = 0;
inline constexpr std::uint32_t requirements = 2;
inline constexpr std::uint32_t resourceDirectory = 3;
inline constexpr std::uint32_t entitlements = 5;
inline constexpr std::uint32_t derEntitlements = 7;
inline constexpr std::uint32_t alternateCodeDirectories = 0x1000;
inline constexpr std::uint32_t alternateCodeDirectoryLimit = 0x1005;
inline constexpr std::uint32_t signature = 0x10000;
} // namespace blobSlot

// The signature embedded in one architecture: the SuperBlob that
// LC_CODE_SIGNATURE points at, taken apart.
struct EmbeddedSignature {
    // Slot 0 first, then the alternates in slot order.
    std::vector<CodeDirectory> directories;
    std::optional<QByteArray> requirements; // whole blobs, header included, as the slots hash them
    std::optional<QByteArray> entitlements;
    std::optional<QByteArray> derEntitlements;
    std::optional<QByteArray> cms; // the wrapper's payload; empty for ad-hoc signatures
    std::uint32_t length = 0; // of the SuperBlob
    std::uint32_t blobsEnd = 0; // where its last blob ends; the length says the same in a sound one

    // None when the bytes are not a SuperBlob, an index entry or blob lies
    // outside it, a slot repeats, or there is no valid CodeDirectory.
    static std::optional<EmbeddedSignature> parse(
        ByteView superBlob, std::uint32_t magic = blobMagic::embeddedSignature);

    const CodeDirectory& primary() const { return directories.front(); }
    // The directory with the strongest hash type: the one code pages are checked against.
    const CodeDirectory& best() const;
};

} // namespace corvanta::codesign
