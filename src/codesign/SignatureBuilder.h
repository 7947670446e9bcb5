#pragma once

#include "codesign/ByteView.h"
#include "codesign/SigningIdentity.h"

#include <functional>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace corvanta::codesign {

// Makes an RFC 3161 timestamp token (DER) for the signature value it is given.
using Timestamper = std::function<QByteArray(const QByteArray& signatureValue)>;

// What goes into the signature of one architecture.
struct SignatureContent {
    QString identifier;
    std::optional<QString> team;
    std::uint32_t flags = 0;
    std::optional<QByteArray> infoPlist; // bytes bound in special slot 1
    std::optional<QByteArray> resourceSeal; // bytes of CodeResources, slot 3
    QByteArray requirements; // the requirements blob, slot 2
    std::optional<QByteArray> entitlements; // an XML property list, slot 5
    std::optional<SigningIdentity> identity; // none: ad hoc
    QDateTime signingTime;
    Timestamper timestamper;
};

// Where the code of a slice lies, as the CodeDirectory records it.
struct CodeRange {
    std::uint64_t codeLimit = 0;
    std::uint64_t execSegmentBase = 0;
    std::uint64_t execSegmentLimit = 0;
    bool mainBinary = false;
};

// A CodeDirectory (SHA-256, 4 KiB pages) over `code`, the bytes before the signature.
QByteArray buildCodeDirectory(ByteView code, const CodeRange& range, const SignatureContent& content);

// A detached CMS signature over `codeDirectory` with Apple's signed CDHash
// attributes, as DER; throws SigningError when OpenSSL refuses.
QByteArray buildCms(const QByteArray& codeDirectory, const SignatureContent& content);

// The embedded-signature SuperBlob of a slice.
QByteArray buildSuperBlob(
    const QByteArray& codeDirectory, const SignatureContent& content, const QByteArray& cms);

// An upper bound on the SuperBlob's size before the code is hashed (the
// headers that record that size are part of the hashed code).
std::uint64_t estimateSuperBlobSize(std::uint64_t codeLimit, const SignatureContent& content);

} // namespace corvanta::codesign
