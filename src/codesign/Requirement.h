#pragma once

#include "codesign/ByteView.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta::codesign {

// Operators of the binary requirement form.
enum class RequirementOp : std::uint32_t {
    alwaysFalse = 0,
    alwaysTrue = 1,
    identifier = 2,
    appleAnchor = 3,
    anchorHash = 4,
    infoKeyValue = 5,
    andOp = 6,
    orOp = 7,
    cdhash = 8,
    notOp = 9,
    infoKeyField = 10,
    certField = 11,
    trustedCert = 12,
    trustedCerts = 13,
    certGeneric = 14,
    appleGenericAnchor = 15,
    entitlementField = 16,
    certPolicy = 17,
    namedAnchor = 18,
    namedCode = 19,
    platform = 20,
    notarized = 21,
    certFieldDate = 22,
    legacyDeveloperId = 23,
};

enum class MatchOp : std::uint32_t {
    exists = 0,
    equal = 1,
    contains = 2,
    beginsWith = 3,
    endsWith = 4,
    lessThan = 5,
    greaterThan = 6,
    lessEqual = 7,
    greaterEqual = 8,
    on = 9,
    before = 10,
    after = 11,
    onOrBefore = 12,
    onOrAfter = 13,
    absent = 14,
};

// Certificate positions: 0 is the leaf, 1 its issuer…; -1 is the anchor (root).
inline constexpr std::int32_t leafCertificate = 0;
inline constexpr std::int32_t anchorCertificate = -1;

// One node of a requirement expression.
struct RequirementExpr {
    RequirementOp op = RequirementOp::alwaysFalse;
    QByteArray data; // identifier, hash, key, field name or OID bytes, anchor or code name
    QByteArray value; // infoKeyValue's value
    std::int32_t certificate = 0;
    std::int32_t integer = 0; // platform
    MatchOp match = MatchOp::exists;
    QByteArray matchValue;
    std::int64_t matchTime = 0; // seconds since 2001-01-01 for the date matches
    std::vector<RequirementExpr> operands; // two for and/or, one for not

    bool operator==(const RequirementExpr&) const = default;
};

// A code requirement: a parsed expression in the binary form that signatures
// carry, its text in the requirement language, and both conversions.
class Requirement {
public:
    static constexpr std::uint32_t exprForm = 1;
    // Deeper nesting than this is refused, so hostile input can't exhaust the stack.
    static constexpr int maxDepth = 200;

    Requirement() = default;
    explicit Requirement(RequirementExpr expression)
        : m_expression(std::move(expression))
    {
    }

    // A requirement blob (magic 0xfade0c00); none when it is malformed, uses an
    // unknown operator or nests too deep.
    static std::optional<Requirement> fromBlob(ByteView blob);
    // Compiles requirement-language text; none with a reason in `error`.
    static std::optional<Requirement> compile(const QString& text, QString* error = nullptr);

    QByteArray toBlob() const;
    QString text() const;

    const RequirementExpr& expression() const { return m_expression; }
    bool operator==(const Requirement&) const = default;

private:
    RequirementExpr m_expression;
};

// The content bytes of the DER encoding of a dotted object identifier
// ("1.2.840.113635.100.6.2.6"), as requirements store it; none when malformed.
std::optional<QByteArray> encodeObjectIdentifier(const QString& dotted);

enum class RequirementType : std::uint32_t {
    host = 1,
    guest = 2,
    designated = 3,
    library = 4,
    plugin = 5,
};

// The requirements blob of a signature: requirements by type.
struct RequirementSet {
    std::vector<std::pair<RequirementType, Requirement>> entries;

    static std::optional<RequirementSet> fromBlob(ByteView blob);
    // Text like "designated => identifier …", one requirement a line.
    static std::optional<RequirementSet> compile(const QString& text, QString* error = nullptr);
    QByteArray toBlob() const;
    QString text() const;

    const Requirement* find(RequirementType type) const;
};

} // namespace corvanta::codesign
