#include "codesign/EmbeddedSignature.h"

#include <algorithm>
#include <set>

namespace corvanta::codesign {

namespace {

// A real signature has under a dozen blobs; a count beyond this is hostile.
constexpr std::uint32_t maxBlobs = 64;

} // namespace

std::optional<EmbeddedSignature> EmbeddedSignature::parse(ByteView superBlob, std::uint32_t magic)
{
    const auto headMagic = superBlob.be32(0);
    const auto length = superBlob.be32(4);
    const auto count = superBlob.be32(8);
    if (!headMagic || *headMagic != magic || !length || !count || *length > superBlob.size() || *length < 12
        || *count > maxBlobs)
        return std::nullopt;
    const ByteView bytes = *superBlob.sub(0, *length);
    if (!bytes.contains(12, std::uint64_t(*count) * 8))
        return std::nullopt;

    EmbeddedSignature out;
    out.length = *length;
    std::optional<CodeDirectory> primary;
    std::vector<std::pair<std::uint32_t, CodeDirectory>> alternates;
    std::set<std::uint32_t> seen;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint32_t type = *bytes.be32(12 + i * 8);
        const std::uint32_t offset = *bytes.be32(16 + i * 8);
        if (!seen.insert(type).second)
            return std::nullopt;
        const auto blobMagicValue = bytes.be32(offset);
        const auto blobLength = bytes.be32(std::uint64_t(offset) + 4);
        if (offset < 12 || !blobMagicValue || !blobLength || *blobLength < 8)
            return std::nullopt;
        const auto blob = bytes.sub(offset, *blobLength);
        if (!blob)
            return std::nullopt;
        out.blobsEnd = std::max(out.blobsEnd, offset + *blobLength);
        if (type == blobSlot::codeDirectory
            || (type >= blobSlot::alternateCodeDirectories && type < blobSlot::alternateCodeDirectoryLimit)) {
            auto directory = CodeDirectory::parse(*blob);
            if (!directory)
                return std::nullopt;
            if (type == blobSlot::codeDirectory)
                primary = std::move(*directory);
            else
                alternates.emplace_back(type, std::move(*directory));
            continue;
        }
        const auto expect = [&](std::uint32_t wanted) { return *blobMagicValue == wanted; };
        switch (type) {
        case blobSlot::requirements:
            if (!expect(blobMagic::requirements))
                return std::nullopt;
            out.requirements = blob->toByteArray();
            break;
        case blobSlot::entitlements:
            if (!expect(blobMagic::entitlements))
                return std::nullopt;
            out.entitlements = blob->toByteArray();
            break;
        case blobSlot::derEntitlements:
            if (!expect(blobMagic::derEntitlements))
                return std::nullopt;
            out.derEntitlements = blob->toByteArray();
            break;
        case blobSlot::signature:
            if (!expect(blobMagic::blobWrapper))
                return std::nullopt;
            out.cms = blob->from(8)->toByteArray();
            break;
        default:
            // Blobs we have no use for (launch constraints and the like) are
            // still bound by the signature through their slots, if any.
            break;
        }
    }
    if (!primary)
        return std::nullopt;
    out.directories.push_back(std::move(*primary));
    std::sort(
        alternates.begin(), alternates.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& alternate : alternates)
        out.directories.push_back(std::move(alternate.second));
    return out;
}

const CodeDirectory& EmbeddedSignature::best() const
{
    const CodeDirectory* best = &directories.front();
    for (const CodeDirectory& directory : directories) {
        if (hashStrength(directory.hashType) > hashStrength(best->hashType))
            best = &directory;
    }
    return *best;
}

} // namespace corvanta::codesign
