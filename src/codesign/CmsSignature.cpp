#include "codesign/CmsSignature.h"

#include "codesign/ChainVerification.h"
#include "codesign/OpenSsl.h"
#include "codesign/PropertyList.h"
#include "platform/CodeSigning.h"

#include <algorithm>
#include <mutex>

#include <QHash>

#include <openssl/ts.h>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

// Apple's signed attributes naming the CodeDirectories: a property list of
// truncated hashes, and a set of (algorithm, full hash) pairs.
constexpr const char* cdhashesPlistOid = "1.2.840.113635.100.9.1";
constexpr const char* cdhashesOid = "1.2.840.113635.100.9.2";
bool signedBy(X509* certificate, X509* issuer)
{
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool verified = key && X509_verify(certificate, key) == 1;
    ERR_clear_error();
    return verified;
}

// The chain the signer's own certificates form, leaf first, for requirements
// about certificates that lead to no configured root (a self-signed leaf).
// Every link is proven by its issuer's signature, never by names alone: none
// when a certificate names an issuer that is present but didn't sign it (a
// forgery borrowing a real root's name), or when a self-issued certificate
// isn't signed by its own key. The order certificates come in doesn't matter.
std::optional<std::vector<Certificate>> presentedChain(X509* leaf, STACK_OF(X509) * certificates)
{
    std::vector<Certificate> chain { shareCertificate(leaf) };
    X509* current = leaf;
    while (true) {
        const X509_NAME* issuerName = X509_get_issuer_name(current);
        if (X509_NAME_cmp(issuerName, X509_get_subject_name(current)) == 0) {
            if (!signedBy(current, current))
                return std::nullopt;
            return chain;
        }
        bool named = false;
        X509* issuer = nullptr;
        for (int i = 0; i < sk_X509_num(certificates) && !issuer; ++i) {
            X509* candidate = sk_X509_value(certificates, i);
            if (X509_NAME_cmp(issuerName, X509_get_subject_name(candidate)) != 0)
                continue;
            named = true;
            if (signedBy(current, candidate))
                issuer = candidate;
        }
        if (!issuer)
            return named ? std::nullopt : std::optional(std::move(chain));
        const bool seen = std::any_of(chain.begin(), chain.end(),
            [&](const Certificate& link) { return X509_cmp(link.get(), issuer) == 0; });
        if (seen)
            return chain; // certificates that sign each other in a ring: the ring ends the chain
        if (int(chain.size()) >= maxChainLength)
            return std::nullopt;
        chain.push_back(shareCertificate(issuer));
        current = issuer;
    }
}

bool leafMaySignCode(X509* leaf)
{
    if (!(X509_get_extension_flags(leaf) & EXFLAG_XKUSAGE))
        return true;
    return X509_get_extended_key_usage(leaf) & XKU_CODE_SIGN;
}

QByteArray octets(const ASN1_STRING* string)
{
    return QByteArray(
        reinterpret_cast<const char*>(ASN1_STRING_get0_data(string)), ASN1_STRING_length(string));
}

// Checks Apple's CodeDirectory hash attributes against the directories; with
// more than one directory, at least one of them must be there, or the
// alternates would be unauthenticated.
bool checkDirectoryAttributes(CMS_SignerInfo* signer, const std::vector<CodeDirectory>& directories)
{
    bool named = false;
    const Asn1ObjectPtr plistOid(OBJ_txt2obj(cdhashesPlistOid, 1));
    const int plistAt = CMS_signed_get_attr_by_OBJ(signer, plistOid.get(), -1);
    if (plistAt >= 0) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, plistAt);
        ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
        if (!value || value->type != V_ASN1_OCTET_STRING)
            return false;
        const auto plist = PropertyList::parse(octets(value->value.octet_string));
        if (!plist)
            return false;
        const QVariantList hashes = plist->toMap().value(u"cdhashes"_s).toList();
        if (hashes.size() != qsizetype(directories.size()))
            return false;
        for (std::size_t i = 0; i < directories.size(); ++i) {
            if (hashes[qsizetype(i)].toByteArray() != directories[i].cdhash())
                return false;
        }
        named = true;
    }
    const Asn1ObjectPtr setOid(OBJ_txt2obj(cdhashesOid, 1));
    const int setAt = CMS_signed_get_attr_by_OBJ(signer, setOid.get(), -1);
    if (setAt >= 0) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, setAt);
        std::vector<QByteArray> listed;
        for (int i = 0; i < X509_ATTRIBUTE_count(attribute); ++i) {
            ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, i);
            if (!value || value->type != V_ASN1_SEQUENCE)
                return false;
            const unsigned char* cursor = ASN1_STRING_get0_data(value->value.sequence);
            ASN1_SEQUENCE_ANY* pair
                = d2i_ASN1_SEQUENCE_ANY(nullptr, &cursor, ASN1_STRING_length(value->value.sequence));
            const bool wellFormed = pair && sk_ASN1_TYPE_num(pair) == 2
                && sk_ASN1_TYPE_value(pair, 0)->type == V_ASN1_OBJECT
                && sk_ASN1_TYPE_value(pair, 1)->type == V_ASN1_OCTET_STRING;
            if (wellFormed)
                listed.push_back(octets(sk_ASN1_TYPE_value(pair, 1)->value.octet_string));
            sk_ASN1_TYPE_pop_free(pair, ASN1_TYPE_free);
            if (!wellFormed)
                return false;
        }
        // Every listed hash must be the full hash of one of our directories,
        // and each directory of a type listed must be among them.
        for (const QByteArray& hash : listed) {
            bool found = false;
            for (const CodeDirectory& directory : directories)
                found = found || directory.fullHash() == hash;
            if (!found)
                return false;
        }
        named = true;
        if (plistAt < 0) {
            for (const CodeDirectory& directory : directories) {
                if (std::find(listed.begin(), listed.end(), directory.fullHash()) == listed.end())
                    return false;
            }
        }
    }
    return named || directories.size() == 1;
}

// The time of a valid RFC 3161 token over the signer's signature value, from
// a timestamp authority that chains to a configured root; none otherwise.
std::optional<QDateTime> checkTimestamp(CMS_SignerInfo* signer, const TrustAnchors& anchors)
{
    const int at = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1);
    if (at < 0)
        return std::nullopt;
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(signer, at), 0);
    if (!value || value->type != V_ASN1_SEQUENCE)
        return std::nullopt;
    const unsigned char* cursor = ASN1_STRING_get0_data(value->value.sequence);
    CmsPtr token(d2i_CMS_ContentInfo(nullptr, &cursor, ASN1_STRING_length(value->value.sequence)));
    if (!token || OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo)
        return std::nullopt;
    BioPtr content(BIO_new(BIO_s_mem()));
    if (CMS_verify(
            token.get(), nullptr, nullptr, nullptr, content.get(), CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY)
        != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(content.get(), &data);
    const unsigned char* tstCursor = reinterpret_cast<const unsigned char*>(data);
    TS_TST_INFO* info = d2i_TS_TST_INFO(nullptr, &tstCursor, length);
    if (!info)
        return std::nullopt;
    const std::unique_ptr<TS_TST_INFO, OpenSslDeleter<TS_TST_INFO, TS_TST_INFO_free>> infoOwner(info);
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
    const EVP_MD* digest = EVP_get_digestbyobj(TS_MSG_IMPRINT_get_algo(imprint)->algorithm);
    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signer);
    if (!digest || !signature)
        return std::nullopt;
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int hashLength = 0;
    if (EVP_Digest(ASN1_STRING_get0_data(signature), std::size_t(ASN1_STRING_length(signature)), hash,
            &hashLength, digest, nullptr)
        != 1)
        return std::nullopt;
    if (QByteArray(reinterpret_cast<const char*>(hash), int(hashLength))
        != octets(TS_MSG_IMPRINT_get_msg(imprint)))
        return std::nullopt;
    const QDateTime when = dateOf(TS_TST_INFO_get_time(info));
    if (!when.isValid())
        return std::nullopt;

    STACK_OF(X509)* signers = CMS_get0_signers(token.get());
    X509* authority = sk_X509_num(signers) == 1 ? sk_X509_value(signers, 0) : nullptr;
    sk_X509_free(signers);
    if (!authority || !(X509_get_extension_flags(authority) & EXFLAG_XKUSAGE)
        || !(X509_get_extended_key_usage(authority) & XKU_TIMESTAMP))
        return std::nullopt;
    const CertificateStackPtr certificates(CMS_get1_certs(token.get()));
    if (verifyChain(authority, certificates.get(), anchors, when, true).outcome != ChainOutcome::trusted)
        return std::nullopt;
    return when;
}

// One BER element: where its content starts and how long it is (-1: indefinite).
struct Element {
    int tag = 0;
    int tagClass = 0;
    bool constructed = false;
    const unsigned char* content = nullptr;
    long length = 0;
};

std::optional<Element> readElement(const unsigned char*& cursor, const unsigned char* end)
{
    if (cursor >= end)
        return std::nullopt;
    Element element;
    long length = 0;
    int tag = 0;
    int tagClass = 0;
    const unsigned char* p = cursor;
    const int flags = ASN1_get_object(&p, &length, &tag, &tagClass, long(end - cursor));
    ERR_clear_error();
    if (flags & 0x80)
        return std::nullopt;
    element.tag = tag;
    element.tagClass = tagClass;
    element.constructed = flags & V_ASN1_CONSTRUCTED;
    element.content = p;
    element.length = (flags & 1) ? -1 : length;
    if (element.length >= 0 && element.length > end - p)
        return std::nullopt;
    cursor = p;
    return element;
}

// Moves past an element whose header has been read, nested indefinite lengths included.
bool skipContent(const Element& element, const unsigned char*& cursor, const unsigned char* end, int depth)
{
    if (element.length >= 0) {
        cursor = element.content + element.length;
        return true;
    }
    if (!element.constructed || depth > 64)
        return false;
    while (end - cursor >= 2) {
        if (cursor[0] == 0 && cursor[1] == 0) {
            cursor += 2;
            return true;
        }
        const auto child = readElement(cursor, end);
        if (!child || !skipContent(*child, cursor, end, depth + 1))
            return false;
    }
    return false;
}

std::optional<long> smallInteger(const Element& element)
{
    if (element.tag != V_ASN1_INTEGER || element.tagClass != V_ASN1_UNIVERSAL || element.length != 1)
        return std::nullopt;
    return long(element.content[0]);
}

// The version numbers of SignedData and of its SignerInfo, which OpenSSL reads
// but never checks: a signature whose versions CMS doesn't define is damaged.
bool versionsAreSound(const QByteArray& bytes)
{
    const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.constData());
    const unsigned char* end = cursor + bytes.size();
    const auto enter = [&](int tag, int tagClass) {
        const auto element = readElement(cursor, end);
        return element && element->tag == tag && element->tagClass == tagClass && element->constructed;
    };
    const auto skip = [&]() {
        const auto element = readElement(cursor, end);
        return element && skipContent(*element, cursor, end, 0);
    };
    const auto version = [&]() -> std::optional<long> {
        const auto element = readElement(cursor, end);
        if (!element)
            return std::nullopt;
        const auto value = smallInteger(*element);
        if (value)
            cursor = element->content + element->length;
        return value;
    };
    // ContentInfo { contentType, [0] SignedData { version, … } }
    if (!enter(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL) || !skip() || !enter(0, V_ASN1_CONTEXT_SPECIFIC)
        || !enter(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL))
        return false;
    const auto signedDataVersion = version();
    if (!signedDataVersion
        || (*signedDataVersion != 1 && *signedDataVersion != 3 && *signedDataVersion != 4
            && *signedDataVersion != 5))
        return false;
    // digestAlgorithms and encapContentInfo, then certificates [0] and crls [1] when present.
    if (!skip() || !skip())
        return false;
    while (true) {
        const auto element = readElement(cursor, end);
        if (!element)
            return false;
        if (element->tagClass == V_ASN1_CONTEXT_SPECIFIC) {
            if (!skipContent(*element, cursor, end, 0))
                return false;
            continue;
        }
        if (element->tag != V_ASN1_SET || element->tagClass != V_ASN1_UNIVERSAL)
            return false;
        break;
    }
    if (!enter(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL))
        return false;
    const auto signerVersion = version();
    return signerVersion && (*signerVersion == 1 || *signerVersion == 3);
}

// The signature algorithm must be one for the signer's key and the digest it names.
bool algorithmsAgree(CMS_SignerInfo* signer)
{
    EVP_PKEY* key = nullptr;
    X509_ALGOR* digest = nullptr;
    X509_ALGOR* signature = nullptr;
    CMS_SignerInfo_get0_algs(signer, &key, nullptr, &digest, &signature);
    if (!key || !digest || !signature)
        return false;
    const int signatureNid = OBJ_obj2nid(signature->algorithm);
    int digestNid = NID_undef;
    int keyNid = NID_undef;
    if (OBJ_find_sigid_algs(signatureNid, &digestNid, &keyNid)) {
        if (digestNid != NID_undef && digestNid != OBJ_obj2nid(digest->algorithm))
            return false;
    } else {
        keyNid = signatureNid; // a bare key algorithm such as rsaEncryption
    }
    return keyNid != NID_undef && keyNid == EVP_PKEY_get_base_id(key);
}

} // namespace

SignerCheck checkSignature(const QByteArray& cms, const std::vector<CodeDirectory>& directories,
    const TrustAnchors& anchors, const QDateTime& now, bool considerExpiration)
{
    SignerCheck result;
    result.status = SigningStatus::signatureFailed;
    if (cms.isEmpty() || directories.empty())
        return result;
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(cms.constData());
    CmsPtr message(d2i_CMS_ContentInfo(nullptr, &cursor, long(cms.size())));
    ERR_clear_error();
    if (!message || OBJ_obj2nid(CMS_get0_type(message.get())) != NID_pkcs7_signed
        || !CMS_is_detached(message.get())
        || OBJ_obj2nid(CMS_get0_eContentType(message.get())) != NID_pkcs7_data || !versionsAreSound(cms))
        return result;
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(message.get());
    if (sk_CMS_SignerInfo_num(signers) != 1)
        return result;
    CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
    // Signed attributes are what binds the directory hashes; a bare signature over the content won't do.
    if (CMS_signed_get_attr_count(signer) <= 0)
        return result;

    const QByteArray& signedContent = directories.front().bytes;
    // Behind a pass-through filter: handed a memory BIO, CMS_verify copies it
    // into one of its own that it leaks when the message turns out malformed.
    BioPtr content(BIO_push(
        BIO_new(BIO_f_null()), BIO_new_mem_buf(signedContent.constData(), int(signedContent.size()))));
    if (CMS_verify(
            message.get(), nullptr, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY)
        != 1) {
        ERR_clear_error();
        return result;
    }
    if (!checkDirectoryAttributes(signer, directories) || !algorithmsAgree(signer))
        return result;

    X509* leaf = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, &leaf, nullptr, nullptr);
    if (!leaf)
        return result;
    if (const int at = CMS_signed_get_attr_by_NID(signer, NID_pkcs9_signingTime, -1); at >= 0) {
        const ASN1_TYPE* signingTime = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(signer, at), 0);
        if (signingTime
            && (signingTime->type == V_ASN1_UTCTIME || signingTime->type == V_ASN1_GENERALIZEDTIME))
            result.signingTime = dateOf(signingTime->value.utctime);
    }
    result.timestamp = checkTimestamp(signer, anchors);

    const CertificateStackPtr certificates(CMS_get1_certs(message.get()));
    const QDateTime judgedAt = result.timestamp.value_or(now);
    ChainResult chain = verifyChain(leaf, certificates.get(), anchors, judgedAt, true);
    if (chain.outcome == ChainOutcome::expired || chain.outcome == ChainOutcome::notYetValid) {
        // A timestamp fixes when the signature was made, so a certificate that
        // wasn't valid then fails; without one, expiry alone isn't grounds for
        // rejection unless the caller asks for it.
        if (result.timestamp || considerExpiration) {
            result.status = chain.outcome == ChainOutcome::expired ? SigningStatus::certificateExpired
                                                                   : SigningStatus::certificateNotValidYet;
            return result;
        }
        result.expired = true;
        chain = verifyChain(leaf, certificates.get(), anchors, judgedAt, false);
    }
    if (chain.outcome == ChainOutcome::trusted && leafMaySignCode(leaf)) {
        result.anchoredAtApple = true;
        result.chain = std::move(chain.chain);
    } else {
        auto presented = presentedChain(leaf, certificates.get());
        if (!presented)
            return result;
        result.chain = std::move(*presented);
        // A chain that leads nowhere is still judged by its dates.
        if (!result.expired) {
            for (const Certificate& certificate : result.chain) {
                const bool expired = dateOf(X509_get0_notAfter(certificate.get())) < judgedAt;
                const bool early = dateOf(X509_get0_notBefore(certificate.get())) > judgedAt;
                if (!expired && !early)
                    continue;
                if (result.timestamp || considerExpiration) {
                    result.status
                        = expired ? SigningStatus::certificateExpired : SigningStatus::certificateNotValidYet;
                    result.chain.clear();
                    return result;
                }
                result.expired = true;
            }
        }
    }
    result.status = SigningStatus::ok;
    return result;
}

namespace {

Certificate decodeSignerCertificate(const QByteArray& cms)
{
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(cms.constData());
    CmsPtr message(d2i_CMS_ContentInfo(nullptr, &cursor, long(cms.size())));
    Certificate out;
    if (message && OBJ_obj2nid(CMS_get0_type(message.get())) == NID_pkcs7_signed
        && sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(message.get())) == 1
        && CMS_set1_signers_certs(message.get(), nullptr, 0) == 1) {
        X509* leaf = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(message.get()), 0), nullptr,
            &leaf, nullptr, nullptr);
        out = shareCertificate(leaf);
    }
    ERR_clear_error();
    return out;
}

} // namespace

Certificate signerCertificate(const QByteArray& cms)
{
    // Every scan reads the same signatures again, and decoding one costs more
    // than the rest of reading its app (OpenSSL 3 decodes each certificate's
    // public key through its provider machinery). The same bytes name the same
    // leaf, so a scan decodes each signature once per run of the program.
    static std::mutex guard;
    // Never destroyed: certificates must not outlive OpenSSL's own clean-up at exit.
    static auto* decoded = new QHash<QByteArray, Certificate>();
    {
        const std::lock_guard lock(guard);
        if (const auto found = decoded->constFind(cms); found != decoded->cend())
            return *found;
    }
    const Certificate leaf = decodeSignerCertificate(cms);
    const std::lock_guard lock(guard);
    // About one signature per installed app; a bound keeps hostile churn small.
    if (decoded->size() >= 2048)
        decoded->clear();
    decoded->insert(QByteArray(cms.constData(), cms.size()), leaf);
    return leaf;
}

bool certificateNamesTeam(X509* leaf, const QString& team)
{
    X509_NAME* subject = leaf ? X509_get_subject_name(leaf) : nullptr;
    for (int at = subject ? X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, -1) : -1; at >= 0;
         at = X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, at)) {
        unsigned char* text = nullptr;
        const int length
            = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
        if (length < 0)
            continue;
        const bool same = QString::fromUtf8(reinterpret_cast<const char*>(text), length) == team;
        OPENSSL_free(text);
        if (same)
            return true;
    }
    return false;
}

} // namespace corvanta::codesign
