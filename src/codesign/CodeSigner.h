#pragma once

#include "base/Error.h"
#include "codesign/SignatureBuilder.h"
#include "codesign/SigningIdentity.h"

#include <optional>

#include <QDateTime>
#include <QString>

namespace corvanta::codesign {

// Signing failed: the code isn't a Mach-O file or bundle we can sign, or a
// file couldn't be read or written.
class SigningError : public Error {
public:
    using Error::Error;
};

struct SigningOptions {
    // Who signs; none signs ad hoc (no certificate, no team).
    std::optional<SigningIdentity> identity;
    // Empty: the bundle's CFBundleIdentifier, or a bare file's name.
    QString identifier;
    // Default: the leaf's subject OU; ad-hoc signatures never carry a team.
    std::optional<QString> team;
    // CodeDirectory flags such as codeFlags::runtime; the ad-hoc flag is added for ad-hoc signatures.
    std::uint32_t flags = 0;
    // Requirement text; default: what the platform would derive for the identity
    // (the Developer ID shape for a Developer ID identity), none for ad hoc.
    std::optional<QString> designatedRequirement;
    // Whether the identity's root is one of Apple's: derived requirements then
    // name Apple's anchor; otherwise they name the root certificate by hash, as
    // code signed through a private authority does.
    bool appleRoot = true;
    // An XML property list, bound in the signature of the main executable only.
    std::optional<QByteArray> entitlements;
    // Default: now.
    QDateTime signingTime;
    // Adds an RFC 3161 timestamp to the CMS signature when set.
    Timestamper timestamper;
    // Nested code (frameworks, helpers, XPC services, login items, plug-ins)
    // is signed with the same identity before the bundle that holds it.
    bool signNestedCode = true;
};

// Signs bundles and Mach-O executables the way the platform's codesign does:
// nested code first, then the resource seal (_CodeSignature/CodeResources),
// then the main executable's embedded signature: CodeDirectory, requirements,
// entitlements and CMS signature (or an ad-hoc one), for every architecture.
class CodeSigner {
public:
    explicit CodeSigner(SigningOptions options);

    // Signs the bundle or Mach-O file at `path` in place; throws SigningError.
    void sign(const QString& path) const;

private:
    void signBundle(const QString& path, const QString& identifier, bool main, int depth) const;
    void signFile(const QString& path, const SignatureContent& content) const;
    SignatureContent contentFor(const QString& identifier, bool main) const;

    SigningOptions m_options;
};

// Signs every slice of the Mach-O bytes and returns the new file: the
// signature replaces any there was, or a load command is added for it.
QByteArray signMachO(const QByteArray& file, const SignatureContent& content);

} // namespace corvanta::codesign
