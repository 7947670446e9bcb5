#include "codesign/SignatureBuilder.h"

#include "codesign/CodeDirectory.h"
#include "codesign/CodeSigner.h"
#include "codesign/Digest.h"
#include "codesign/EmbeddedSignature.h"
#include "codesign/OpenSsl.h"
#include "codesign/PropertyList.h"

#include <QList>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

constexpr std::uint32_t cdVersion = CodeDirectory::versionWithExecSegment;
constexpr std::uint32_t cdHeaderSize = 88;
constexpr std::uint8_t pageSizeLog2 = 12;
constexpr std::uint32_t hashLength = 32;

void put32(QByteArray& out, std::uint32_t value)
{
    const char bytes[4] = { char(value >> 24), char(value >> 16), char(value >> 8), char(value) };
    out.append(bytes, 4);
}

void put64(QByteArray& out, std::uint64_t value)
{
    put32(out, std::uint32_t(value >> 32));
    put32(out, std::uint32_t(value));
}

void set32(QByteArray& out, qsizetype at, std::uint32_t value)
{
    out[at] = char(value >> 24);
    out[at + 1] = char(value >> 16);
    out[at + 2] = char(value >> 8);
    out[at + 3] = char(value);
}

int highestSpecialSlot(const SignatureContent& content)
{
    if (content.entitlements)
        return specialSlot::entitlements;
    if (content.resourceSeal)
        return specialSlot::resourceDirectory;
    return specialSlot::requirements;
}

QByteArray entitlementsBlob(const QByteArray& plist)
{
    QByteArray blob;
    put32(blob, blobMagic::entitlements);
    put32(blob, std::uint32_t(plist.size() + 8));
    blob.append(plist);
    return blob;
}

[[noreturn]] void fail(const QString& why)
{
    ERR_clear_error();
    throw SigningError(u"The code signature couldn't be made: "_s + why + u'.');
}

} // namespace

QByteArray buildCodeDirectory(ByteView code, const CodeRange& range, const SignatureContent& content)
{
    const QByteArray identifier = content.identifier.toUtf8() + '\0';
    const QByteArray team = content.team ? content.team->toUtf8() + '\0' : QByteArray();
    const int specials = highestSpecialSlot(content);
    const std::uint64_t pageSize = std::uint64_t(1) << pageSizeLog2;
    const std::uint32_t codeSlots = std::uint32_t((range.codeLimit + pageSize - 1) / pageSize);
    const std::uint32_t identOffset = cdHeaderSize;
    const std::uint32_t teamOffset = team.isEmpty() ? 0 : identOffset + std::uint32_t(identifier.size());
    const std::uint32_t hashOffset
        = identOffset + std::uint32_t(identifier.size() + team.size()) + std::uint32_t(specials) * hashLength;
    const std::uint32_t length = hashOffset + codeSlots * hashLength;
    const bool wide = range.codeLimit > 0xffffffffu;

    QByteArray out;
    put32(out, CodeDirectory::magic);
    put32(out, length);
    put32(out, cdVersion);
    put32(out, content.flags);
    put32(out, hashOffset);
    put32(out, identOffset);
    put32(out, std::uint32_t(specials));
    put32(out, codeSlots);
    put32(out, wide ? 0 : std::uint32_t(range.codeLimit));
    out.append(char(hashLength));
    out.append(char(HashType::sha256));
    out.append(char(0)); // platform
    out.append(char(pageSizeLog2));
    put32(out, 0); // spare2
    put32(out, 0); // scatterOffset
    put32(out, teamOffset);
    put32(out, 0); // spare3
    put64(out, wide ? range.codeLimit : 0);
    put64(out, range.execSegmentBase);
    put64(out, range.execSegmentLimit);
    put64(out, range.mainBinary ? 1 : 0);
    out.append(identifier);
    out.append(team);

    // Special slots, highest first so that slot n sits n hashes below hashOffset.
    for (int slot = specials; slot >= 1; --slot) {
        std::optional<QByteArray> bound;
        switch (slot) {
        case specialSlot::infoPlist:
            bound = content.infoPlist;
            break;
        case specialSlot::requirements:
            bound = content.requirements;
            break;
        case specialSlot::resourceDirectory:
            bound = content.resourceSeal;
            break;
        case specialSlot::entitlements:
            if (content.entitlements)
                bound = entitlementsBlob(*content.entitlements);
            break;
        default:
            break;
        }
        out.append(bound ? Digest::of(HashType::sha256, ByteView(*bound)) : QByteArray(hashLength, '\0'));
    }
    Digest digest(HashType::sha256);
    std::uint8_t hash[64];
    for (std::uint32_t i = 0; i < codeSlots; ++i) {
        const std::uint64_t start = std::uint64_t(i) * pageSize;
        const std::uint64_t size = std::min(pageSize, range.codeLimit - start);
        digest.into(*code.sub(start, size), hash);
        out.append(reinterpret_cast<const char*>(hash), hashLength);
    }
    return out;
}

QByteArray buildCms(const QByteArray& codeDirectory, const SignatureContent& content)
{
    const SigningIdentity& identity = *content.identity;
    BioPtr data(BIO_new_mem_buf(codeDirectory.constData(), int(codeDirectory.size())));
    const int flags = CMS_PARTIAL | CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    if (!cms)
        fail(u"no CMS structure"_s);
    CMS_SignerInfo* signer
        = CMS_add1_signer(cms.get(), identity.leaf.get(), identity.key.get(), EVP_sha256(), flags);
    if (!signer)
        fail(u"the key doesn't sign with its certificate"_s);
    for (const Certificate& certificate : identity.chain)
        CMS_add1_cert(cms.get(), certificate.get());

    ASN1_TIME* signingTime = ASN1_TIME_set(nullptr, time_t(content.signingTime.toSecsSinceEpoch()));
    CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_signingTime, signingTime->type, signingTime, -1);
    ASN1_TIME_free(signingTime);

    // Apple's attributes naming the directory: a property list of truncated
    // hashes, and (algorithm, full hash) pairs.
    const QByteArray fullHash = Digest::of(HashType::sha256, ByteView(codeDirectory));
    const QByteArray plist = PropertyList::serialize(
        { { u"cdhashes"_s, QVariantList { fullHash.left(20) } } }, PropertyList::Format::xml);
    const Asn1ObjectPtr plistOid(OBJ_txt2obj("1.2.840.113635.100.9.1", 1));
    CMS_signed_add1_attr_by_OBJ(
        signer, plistOid.get(), V_ASN1_OCTET_STRING, plist.constData(), int(plist.size()));
    QByteArray pair;
    pair.append(
        QByteArray::fromHex("300d06096086480165030402010420")); // SEQUENCE { sha256, OCTET STRING (32)
    pair.append(fullHash);
    pair[1] = char(pair.size() - 2);
    const Asn1ObjectPtr pairOid(OBJ_txt2obj("1.2.840.113635.100.9.2", 1));
    CMS_signed_add1_attr_by_OBJ(signer, pairOid.get(), V_ASN1_SEQUENCE, pair.constData(), int(pair.size()));

    if (CMS_final(cms.get(), data.get(), nullptr, flags) != 1)
        fail(u"OpenSSL couldn't sign the code directory"_s);

    if (content.timestamper) {
        const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(signer);
        const QByteArray token = content.timestamper(QByteArray(
            reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)), ASN1_STRING_length(value)));
        if (token.isEmpty())
            fail(u"the timestamp authority gave no token"_s);
        CMS_unsigned_add1_attr_by_NID(
            signer, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, token.constData(), int(token.size()));
    }

    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    if (length <= 0)
        fail(u"the signature couldn't be encoded"_s);
    QByteArray out(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return out;
}

QByteArray buildSuperBlob(
    const QByteArray& codeDirectory, const SignatureContent& content, const QByteArray& cms)
{
    QList<std::pair<std::uint32_t, QByteArray>> blobs;
    blobs.append({ blobSlot::codeDirectory, codeDirectory });
    blobs.append({ blobSlot::requirements, content.requirements });
    if (content.entitlements)
        blobs.append({ blobSlot::entitlements, entitlementsBlob(*content.entitlements) });
    QByteArray wrapper;
    put32(wrapper, blobMagic::blobWrapper);
    put32(wrapper, std::uint32_t(cms.size() + 8));
    wrapper.append(cms);
    blobs.append({ blobSlot::signature, wrapper });

    QByteArray out;
    put32(out, blobMagic::embeddedSignature);
    put32(out, 0);
    put32(out, std::uint32_t(blobs.size()));
    std::uint32_t offset = 12 + 8 * std::uint32_t(blobs.size());
    for (const auto& [slot, blob] : blobs) {
        put32(out, slot);
        put32(out, offset);
        offset += std::uint32_t(blob.size());
    }
    for (const auto& blob : blobs)
        out.append(blob.second);
    set32(out, 4, std::uint32_t(out.size()));
    return out;
}

std::uint64_t estimateSuperBlobSize(std::uint64_t codeLimit, const SignatureContent& content)
{
    const std::uint64_t pages = (codeLimit + 4095) / 4096;
    std::uint64_t size = 12 + 8 * 4; // header and index
    size += cdHeaderSize + std::uint64_t(content.identifier.toUtf8().size()) + 1
        + (content.team ? std::uint64_t(content.team->toUtf8().size()) + 1 : 0)
        + std::uint64_t(highestSpecialSlot(content) + pages) * hashLength;
    size += std::uint64_t(content.requirements.size());
    if (content.entitlements)
        size += std::uint64_t(content.entitlements->size()) + 8;
    size += 8; // the CMS wrapper
    if (content.identity) {
        size += 4096; // signer info, attributes and signature
        size += std::uint64_t(derOf(content.identity->leaf.get()).size());
        for (const Certificate& certificate : content.identity->chain)
            size += std::uint64_t(derOf(certificate.get()).size());
        if (content.timestamper)
            size += 8192;
    }
    return (size + 15) & ~std::uint64_t(15);
}

} // namespace corvanta::codesign
