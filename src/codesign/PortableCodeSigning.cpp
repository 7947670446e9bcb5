#include "codesign/PortableCodeSigning.h"

#include "codesign/CodeLocation.h"
#include "codesign/SignedImage.h"

namespace corvanta::codesign {

PortableCodeSigning::PortableCodeSigning(TrustAnchors anchors, std::uint32_t hostCpuType)
    : m_anchors(std::move(anchors))
    , m_hostCpuType(hostCpuType)
    , m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
}

SigningInformation PortableCodeSigning::signing(const QString& path) const
{
    const auto location = CodeLocation::locate(path);
    if (!location || location->executablePath.isEmpty())
        return {};
    const auto image = SignedImage::open(location->executablePath);
    if (!image)
        return {};
    const SliceSignature& slice = image->preferred(m_hostCpuType);
    if (!slice.signature)
        return {};
    const CodeDirectory& directory = slice.signature->primary();
    SigningInformation info;
    info.identifier = directory.identifier;
    // Ad-hoc and linker signatures name no signer, whatever the directory says.
    if (!(directory.flags & (codeFlags::adhoc | codeFlags::linkerSigned)) && directory.team
        && !directory.team->isEmpty())
        info.team = directory.team;
    return info;
}

std::vector<std::uint32_t> PortableCodeSigning::architectures(const QString& path) const
{
    const auto location = CodeLocation::locate(path);
    if (!location || location->executablePath.isEmpty())
        return {};
    const auto image = SignedImage::open(location->executablePath);
    if (!image)
        return {};
    std::vector<std::uint32_t> out;
    for (const SliceSignature& slice : image->slices())
        out.push_back(slice.slice.cpuType);
    return out;
}

} // namespace corvanta::codesign
