#pragma once

#include "codesign/TrustAnchors.h"
#include "codesign/Validator.h"
#include "platform/CodeSigning.h"

#include <functional>

#include <QDateTime>

namespace corvanta::codesign {

// The Linux implementation of the platform's code-signing services: our own
// reader and verifier of Mach-O signatures, judged against `anchors`.
class PortableCodeSigning : public CodeSigning {
public:
    explicit PortableCodeSigning(TrustAnchors anchors, std::uint32_t hostCpuType = CpuType::ofThisBuild());

    // The time certificates are judged at when a signature has no timestamp
    // (the current time unless a test says otherwise).
    void setClock(std::function<QDateTime()> clock) { m_settings.clock = std::move(clock); }
    // How long one validity check may spend asking revocation services.
    void setRevocationDeadline(std::chrono::milliseconds deadline)
    {
        m_settings.revocationDeadline = deadline;
    }

    SigningInformation signing(const QString& path) const override;
    ValidityResult checkValidity(const QString& path, std::uint32_t flags,
        const std::optional<QString>& requirement = std::nullopt) const override;
    std::optional<QString> designatedRequirement(const QString& path) const override;
    bool compilesRequirement(const QString& text) const override;
    std::vector<std::uint32_t> architectures(const QString& path) const override;
    std::uint32_t hostCpuType() const override { return m_settings.hostCpuType; }

    const TrustAnchors& anchors() const { return m_settings.anchors; }
    Validator validator() const { return Validator(m_settings); }

private:
    Validator::Settings m_settings;
};

} // namespace corvanta::codesign
