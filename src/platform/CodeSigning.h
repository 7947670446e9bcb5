#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

namespace corvanta {

// Team and identifier of a piece of signed code; both none for unsigned code,
// and the team none for ad-hoc and linker-signed code.
struct SigningInformation {
    std::optional<QString> team;
    std::optional<QString> identifier;
};

// Options of a validity check, numerically the Security framework's flags.
namespace ValidityFlags {
inline constexpr std::uint32_t checkAllArchitectures = 1u << 0;
inline constexpr std::uint32_t checkNestedCode = 1u << 3;
inline constexpr std::uint32_t strictValidate = 1u << 4;
inline constexpr std::uint32_t enforceRevocationChecks = 1u << 30;
// Expired certificates reject a signature that has no timestamp to vouch for
// when it was made; without this flag expiry alone is not grounds for rejection.
inline constexpr std::uint32_t considerExpiration = 1u << 31;
// What the installer passes for every signature check: 0x40000019.
inline constexpr std::uint32_t installer
    = enforceRevocationChecks | strictValidate | checkNestedCode | checkAllArchitectures;
} // namespace ValidityFlags

// OSStatus-style results, numerically the Security framework's codes.
namespace SigningStatus {
inline constexpr int ok = 0;
inline constexpr int unimplemented = -67072;
inline constexpr int staticCodeNotFound = -67068; // no code object can be made for the path
inline constexpr int notSigned = -67062;
inline constexpr int signatureFailed = -67061;
inline constexpr int signatureNotVerifiable = -67060;
inline constexpr int signatureUnsupported = -67059;
inline constexpr int badDictionaryFormat = -67058;
inline constexpr int resourcesNotSealed = -67057;
inline constexpr int resourcesNotFound = -67056;
inline constexpr int resourcesInvalid = -67055;
inline constexpr int badResource = -67054;
inline constexpr int resourceRulesInvalid = -67053;
inline constexpr int requirementInvalid = -67052;
inline constexpr int requirementUnsupported = -67051;
inline constexpr int requirementFailed = -67050;
inline constexpr int badObjectFormat = -67049;
inline constexpr int signatureInvalid = -67045;
inline constexpr int infoPlistFailed = -67030;
inline constexpr int noMainExecutable = -67029;
inline constexpr int badBundleFormat = -67028;
inline constexpr int resourceDirectoryFailed = -67023;
inline constexpr int unsignedNestedCode = -67022;
inline constexpr int badNestedCode = -67021;
inline constexpr int resourceNotSupported = -67016;
inline constexpr int regularFile = -67015;
inline constexpr int unsealedAppRoot = -67014;
inline constexpr int unsealedFrameworkRoot = -67008;
inline constexpr int weakResourceEnvelope = -67007;
inline constexpr int invalidSymlink = -67003;
inline constexpr int unsupportedDigestAlgorithm = -67000;
inline constexpr int certificateExpired = -2147409654; // CSSMERR_TP_CERT_EXPIRED
inline constexpr int certificateNotValidYet = -2147409653; // CSSMERR_TP_CERT_NOT_VALID_YET
inline constexpr int certificateRevoked = -2147409652; // CSSMERR_TP_CERT_REVOKED

// The platform's message for `status` (what SecCopyErrorMessageString gives);
// none for statuses it has no text for.
inline std::optional<QString> message(int status)
{
    switch (status) {
    case ok:
        return QStringLiteral("No error.");
    case unimplemented:
        return QStringLiteral("unimplemented code signing feature");
    case staticCodeNotFound:
        return QStringLiteral("cannot find code object on disk");
    case notSigned:
        return QStringLiteral("code object is not signed at all");
    case signatureFailed:
        return QStringLiteral("invalid signature (code or signature have been modified)");
    case signatureNotVerifiable:
        return QStringLiteral("the code cannot be read by the verifier (file system permissions etc.)");
    case signatureUnsupported:
        return QStringLiteral("unsupported type or version of signature");
    case badDictionaryFormat:
        return QStringLiteral("a required plist file or resource is malformed");
    case resourcesNotSealed:
        return QStringLiteral("resources are present but not sealed by signature");
    case resourcesNotFound:
        return QStringLiteral("code has no resources but signature indicates they must be present");
    case resourcesInvalid:
        return QStringLiteral("the sealed resource directory is invalid");
    case badResource:
        return QStringLiteral("a sealed resource is missing or invalid");
    case resourceRulesInvalid:
        return QStringLiteral("the resource rules are invalid");
    case requirementInvalid:
        return QStringLiteral("invalid or corrupted code requirement(s)");
    case requirementUnsupported:
        return QStringLiteral("unsupported type or version of code requirement(s)");
    case requirementFailed:
        return QStringLiteral("code failed to satisfy specified code requirement(s)");
    case badObjectFormat:
        return QStringLiteral("object file format unrecognized, invalid, or unsuitable");
    case signatureInvalid:
        return QStringLiteral("invalid or unsupported format for signature");
    case infoPlistFailed:
        return QStringLiteral("invalid Info.plist (plist or signature have been modified)");
    case noMainExecutable:
        return QStringLiteral("the code has no main executable file");
    case badBundleFormat:
        return QStringLiteral("bundle format unrecognized, invalid, or unsuitable");
    case resourceDirectoryFailed:
        return QStringLiteral("invalid resource directory (directory or signature have been modified)");
    case unsignedNestedCode:
        return QStringLiteral("nested code is unsigned");
    case badNestedCode:
        return QStringLiteral("nested code is modified or invalid");
    case resourceNotSupported:
        return QStringLiteral("unsupported resource found (something not a directory, file or symlink)");
    case regularFile:
        return QStringLiteral("the main executable or Info.plist must be a regular file (no symlinks, etc.)");
    case unsealedAppRoot:
        return QStringLiteral("unsealed contents present in the bundle root");
    case unsealedFrameworkRoot:
        return QStringLiteral("unsealed contents present in the root directory of an embedded framework");
    case weakResourceEnvelope:
        return QStringLiteral("resource envelope is obsolete (version 1 signature)");
    case invalidSymlink:
        return QStringLiteral("invalid destination for symbolic link in bundle");
    case unsupportedDigestAlgorithm:
        return QStringLiteral("signature digest algorithm(s) specified are not supported");
    case certificateExpired:
        return QStringLiteral("CSSMERR_TP_CERT_EXPIRED");
    case certificateNotValidYet:
        return QStringLiteral("CSSMERR_TP_CERT_NOT_VALID_YET");
    case certificateRevoked:
        return QStringLiteral("CSSMERR_TP_CERT_REVOKED");
    default:
        return std::nullopt;
    }
}
} // namespace SigningStatus

// The outcome of a validity check.
struct ValidityResult {
    int status = SigningStatus::ok;
    // The platform's text for the status, read after "The new version's code
    // signature is invalid: "; none when the status has no text.
    std::optional<QString> message;
    // With enforceRevocationChecks: why a certificate's revocation couldn't be
    // checked (an unreachable or unusable responder doesn't reject the code),
    // as one sentence for the install log; none when every check was made.
    std::optional<QString> revocationNote;

    bool isValid() const noexcept { return status == SigningStatus::ok; }
    static ValidityResult of(int status) { return { status, SigningStatus::message(status), std::nullopt }; }
};

// Processor types of Mach-O headers.
namespace CpuType {
inline constexpr std::uint32_t x86_64 = 0x01000007;
inline constexpr std::uint32_t arm64 = 0x0100000C;

// The processor this build runs on.
constexpr std::uint32_t ofThisBuild()
{
#if defined(__aarch64__) || defined(__arm64__)
    return arm64;
#else
    return x86_64;
#endif
}
} // namespace CpuType

// The platform's code-signing services (the Security framework on macOS; our
// own Mach-O signature reader and verifier elsewhere). Every call is
// synchronous, never throws, and may run on any thread. The defaults refuse
// (no validity, no requirement, no architectures), so a stand-in that only
// reads signing information can never let code through.
class CodeSigning {
public:
    virtual ~CodeSigning() = default;

    // Signing information of the bundle or executable at `path`, read without
    // verifying anything.
    virtual SigningInformation signing(const QString& path) const = 0;

    // Whether the code at `path` is validly signed under `flags` (see
    // ValidityFlags) and, when `requirement` is given, satisfies that code
    // requirement text. A requirement that doesn't compile fails with
    // SigningStatus::requirementInvalid; a path with no code at all with
    // SigningStatus::staticCodeNotFound.
    virtual ValidityResult checkValidity(const QString& path, std::uint32_t flags,
        const std::optional<QString>& requirement = std::nullopt) const
    {
        Q_UNUSED(path);
        Q_UNUSED(flags);
        Q_UNUSED(requirement);
        return ValidityResult::of(SigningStatus::unimplemented);
    }

    // The text of the code's designated requirement: the explicit one in its
    // signature, or the one implied by how it is signed. None for unsigned or
    // unreadable code.
    virtual std::optional<QString> designatedRequirement(const QString& path) const
    {
        Q_UNUSED(path);
        return std::nullopt;
    }

    // Whether `text` compiles as a code requirement.
    virtual bool compilesRequirement(const QString& text) const
    {
        Q_UNUSED(text);
        return false;
    }

    // The processor types of the main executable of the bundle (or executable)
    // at `path`, one per architecture; empty when it can't be read.
    virtual std::vector<std::uint32_t> architectures(const QString& path) const
    {
        Q_UNUSED(path);
        return {};
    }

    // The processor this Mac runs on (CpuType::ofThisBuild() unless a test says otherwise).
    virtual std::uint32_t hostCpuType() const { return CpuType::ofThisBuild(); }
};

} // namespace corvanta
