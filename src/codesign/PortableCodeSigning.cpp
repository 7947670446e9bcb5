#include "codesign/PortableCodeSigning.h"

#include "codesign/CmsSignature.h"
#include "codesign/CodeLocation.h"
#include "codesign/SignedImage.h"

namespace corvanta::codesign {

PortableCodeSigning::PortableCodeSigning(TrustAnchors anchors, std::uint32_t hostCpuType)
    : m_settings { std::move(anchors), hostCpuType, [] { return QDateTime::currentDateTimeUtc(); } }
{
}

namespace {

// The executable at `path`, or the main executable of the bundle there. An
// executable is read straight away: a scan names each app's main executable,
// and locating it again would parse its Info.plist a second time.
std::optional<SigningHeaders> readCode(const QString& path, std::uint32_t cpuType)
{
    if (auto headers = SigningHeaders::read(path, cpuType))
        return headers;
    const auto location = CodeLocation::locate(path);
    if (!location || location->kind == BundleKind::none || location->executablePath.isEmpty())
        return std::nullopt;
    return SigningHeaders::read(location->executablePath, cpuType);
}

} // namespace

SigningInformation PortableCodeSigning::signing(const QString& path) const
{
    const auto code = readCode(path, m_settings.hostCpuType);
    if (!code || !code->signature)
        return {};
    const CodeDirectory& directory = code->signature->primary();
    SigningInformation info;
    info.identifier = directory.identifier;
    // Ad-hoc and linker signatures name no signer, whatever the directory says;
    // a certificate names only a team it carries itself.
    if (!(directory.flags & (codeFlags::adhoc | codeFlags::linkerSigned)) && directory.team
        && !directory.team->isEmpty()) {
        const Certificate leaf = signerCertificate(code->signature->cms.value_or(QByteArray()));
        if (leaf && certificateNamesTeam(leaf.get(), *directory.team))
            info.team = directory.team;
    }
    return info;
}

ValidityResult PortableCodeSigning::checkValidity(
    const QString& path, std::uint32_t flags, const std::optional<QString>& requirement) const
{
    std::optional<Requirement> compiled;
    if (requirement) {
        compiled = Requirement::compile(*requirement);
        if (!compiled)
            return ValidityResult::of(SigningStatus::requirementInvalid);
    }
    return validator().validate(path, flags, compiled ? &*compiled : nullptr);
}

std::optional<QString> PortableCodeSigning::designatedRequirement(const QString& path) const
{
    const auto requirement = validator().designatedRequirement(path);
    if (!requirement)
        return std::nullopt;
    return requirement->text();
}

bool PortableCodeSigning::compilesRequirement(const QString& text) const
{
    return Requirement::compile(text).has_value();
}

std::vector<std::uint32_t> PortableCodeSigning::architectures(const QString& path) const
{
    const auto code = readCode(path, m_settings.hostCpuType);
    if (!code)
        return {};
    std::vector<std::uint32_t> out;
    for (const MachOSlice& slice : code->machO.slices)
        out.push_back(slice.cpuType);
    return out;
}

} // namespace corvanta::codesign
