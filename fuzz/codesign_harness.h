#pragma once

// What the code-signature fuzz targets run on each input, shared with the unit
// tests so that every input the fuzzers found becomes a regression row there.
// Each function returns false when an invariant breaks (the fuzz targets trap
// on that); memory errors are the sanitizers' to find.

#include "codesign/CmsSignature.h"
#include "codesign/EmbeddedSignature.h"
#include "codesign/MachO.h"
#include "codesign/Requirement.h"
#include "codesign/RequirementEvaluator.h"
#include "codesign/ResourceSeal.h"

#include <cstdint>

namespace corvanta::codesign::fuzz {

// Whatever parses prints as text that compiles back to the same text, and
// what that compiles to survives the binary form.
inline bool requirementRoundTrips(const Requirement& requirement)
{
    const auto again = Requirement::compile(requirement.text());
    if (!again || again->text() != requirement.text())
        return false;
    const auto fromBlob = Requirement::fromBlob(ByteView(again->toBlob()));
    if (!fromBlob || !(*fromBlob == *again))
        return false;
    EvaluationContext context;
    context.identifier = QStringLiteral("com.example.fuzz");
    context.cdhashes = { QByteArray(20, '\0') };
    (void)satisfies(requirement, context);
    return true;
}

inline bool examineSignature(const EmbeddedSignature& signature)
{
    for (const CodeDirectory& directory : signature.directories) {
        (void)directory.cdhash();
        for (int slot = 1; slot <= 7; ++slot)
            (void)directory.hasSpecialSlot(slot);
        for (std::uint32_t i = 0; i < directory.codeSlotCount && i < 64; ++i)
            (void)directory.codeSlotHash(i);
    }
    if (signature.requirements) {
        if (const auto set = RequirementSet::fromBlob(ByteView(*signature.requirements))) {
            for (const auto& entry : set->entries) {
                if (!requirementRoundTrips(entry.second))
                    return false;
            }
        }
    }
    if (signature.cms && !signature.cms->isEmpty())
        (void)checkSignature(
            *signature.cms, signature.directories, TrustAnchors(), QDateTime::currentDateTimeUtc(), true);
    return true;
}

// A Mach-O file (thin or universal) and everything the verifier reads out of
// it; the same bytes also go to the blob parsers directly.
inline bool machOInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView bytes(data, size);
    if (const auto file = MachOFile::parse(bytes)) {
        for (const MachOSlice& slice : file->slices) {
            if (!slice.signature || slice.signature->dataOffset > slice.size)
                continue;
            const auto region
                = bytes.sub(slice.offset + slice.signature->dataOffset, slice.signature->dataSize);
            if (!region)
                continue;
            if (const auto signature = EmbeddedSignature::parse(*region);
                signature && !examineSignature(*signature))
                return false;
        }
    }
    if (const auto signature = EmbeddedSignature::parse(bytes); signature && !examineSignature(*signature))
        return false;
    (void)CodeDirectory::parse(bytes);
    (void)ResourceSeal::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return true;
}

// Requirements as the binary form and as text.
inline bool requirementInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto blob = Requirement::fromBlob(ByteView(bytes)); blob && !requirementRoundTrips(*blob))
        return false;
    if (const auto set = RequirementSet::fromBlob(ByteView(bytes))) {
        for (const auto& entry : set->entries) {
            if (!requirementRoundTrips(entry.second))
                return false;
        }
    }
    if (const auto text = Requirement::compile(QString::fromUtf8(bytes));
        text && !requirementRoundTrips(*text))
        return false;
    (void)RequirementSet::compile(QString::fromUtf8(bytes));
    return true;
}

} // namespace corvanta::codesign::fuzz
