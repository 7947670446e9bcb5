#include "package/PackageSignature.h"

#include "codesign/ChainVerification.h"
#include "codesign/OpenSsl.h"

#include <openssl/rsa.h>

using namespace Qt::StringLiterals;
using namespace corvanta::codesign;

namespace corvanta {

namespace {

const EVP_MD* algorithm(xar::HashType type)
{
    switch (type) {
    case xar::HashType::sha1:
        return EVP_sha1();
    case xar::HashType::sha256:
        return EVP_sha256();
    case xar::HashType::sha512:
        return EVP_sha512();
    }
    return nullptr;
}

// PKCS #1 v1.5 over the checksum as a digest of its own type.
bool verifyRsa(X509* signer, xar::HashType type, const QByteArray& checksum, const QByteArray& signature)
{
    EVP_PKEY* key = X509_get0_pubkey(signer);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> context(
        EVP_PKEY_CTX_new(key, nullptr));
    const bool verified = context && EVP_PKEY_verify_init(context.get()) == 1
        && EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1
        && EVP_PKEY_CTX_set_signature_md(context.get(), algorithm(type)) == 1
        && EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
               std::size_t(signature.size()), reinterpret_cast<const unsigned char*>(checksum.constData()),
               std::size_t(checksum.size()))
            == 1;
    ERR_clear_error();
    return verified;
}

PackageSignature invalid(PackageSignature result, const QString& problem)
{
    result.state = PackageSignature::State::invalid;
    result.problem = problem;
    result.chain.clear();
    return result;
}

} // namespace

bool hasExtension(const Certificate& certificate, const char* oid)
{
    const Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    return certificate && object && X509_get_ext_by_OBJ(certificate.get(), object.get(), -1) >= 0;
}

QString withoutControls(QString text)
{
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line
            || c.category() == QChar::Separator_Paragraph)
            c = QChar::ReplacementCharacter;
    }
    return text;
}

QString displayName(const Certificate& certificate)
{
    X509_NAME* subject = certificate ? X509_get_subject_name(certificate.get()) : nullptr;
    if (!subject)
        return {};
    const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (at >= 0) {
        unsigned char* text = nullptr;
        const int length
            = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
        if (length >= 0) {
            const QString name = QString::fromUtf8(reinterpret_cast<const char*>(text), length);
            OPENSSL_free(text);
            return withoutControls(name);
        }
    }
    char buffer[512];
    X509_NAME_oneline(subject, buffer, sizeof buffer);
    return withoutControls(QString::fromUtf8(buffer));
}

PackageSignature PackageSignature::check(
    const xar::Archive& archive, const TrustAnchors& anchors, const QDateTime& now)
{
    PackageSignature result;
    result.hashType = archive.checksumType();
    result.hash = archive.storedChecksum();
    if (!archive.signature()) {
        result.state = archive.hasCmsSignature() ? State::unsupported : State::none;
        return result;
    }
    const xar::Signature& signature = *archive.signature();
    std::vector<X509Ptr> certificates;
    for (const QByteArray& der : signature.certificates) {
        X509Ptr certificate = certificateFromDer(der);
        ERR_clear_error();
        if (!certificate)
            return invalid(result, u"a certificate of the signature can't be read"_s);
        certificates.push_back(std::move(certificate));
    }
    if (certificates.empty())
        return invalid(result, u"the signature names no certificate"_s);
    for (const X509Ptr& certificate : certificates)
        result.chain.push_back(shareCertificate(certificate.get()));
    if (!archive.checksumMatches())
        return invalid(result, u"the table of contents doesn't match its checksum"_s);
    if (!verifyRsa(certificates.front().get(), archive.checksumType(), archive.storedChecksum(),
            archive.signatureBytes()))
        return invalid(result, u"the signature doesn't match the table of contents"_s);
    if (const std::optional<QString> file = archive.damagedFile())
        return invalid(result, u"\u201c%1\u201d doesn't match its checksum"_s.arg(*file));

    const CertificateStackPtr others(sk_X509_new_null());
    for (std::size_t i = 1; i < certificates.size(); ++i)
        sk_X509_push(others.get(), X509_dup(certificates[i].get()));
    X509* leaf = certificates.front().get();
    ChainResult verified = verifyChain(leaf, others.get(), anchors, now, true);
    if (verified.outcome == ChainOutcome::expired || verified.outcome == ChainOutcome::notYetValid) {
        // Only a chain that would lead to an anchor in its time counts as expired.
        const bool anchored
            = verifyChain(leaf, others.get(), anchors, now, false).outcome == ChainOutcome::trusted;
        result.state = anchored ? State::expired : State::untrusted;
        return result;
    }
    if (verified.outcome == ChainOutcome::untrusted) {
        result.state = State::untrusted;
        return result;
    }
    result.chain = std::move(verified.chain);
    bool authority = false;
    for (std::size_t i = 1; i + 1 < result.chain.size(); ++i)
        authority = authority || hasExtension(result.chain[i], developerIdAuthorityMark);
    result.state = authority && hasExtension(result.chain.front(), developerIdInstallerMark)
        ? State::developerId
        : State::anchored;
    return result;
}

} // namespace corvanta
