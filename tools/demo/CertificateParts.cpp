#include "demo/CertificateParts.h"

#include "base/Error.h"

#include <openssl/rand.h>
#include <openssl/x509v3.h>

using namespace Qt::StringLiterals;
using namespace corvanta::codesign;

namespace corvanta::demo {

KeyPtr newKey()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        throw Error(u"OpenSSL couldn't make a key for a certificate."_s);
    return key;
}

NamePtr distinguishedName(std::initializer_list<std::pair<const char*, QString>> fields)
{
    NamePtr result(X509_NAME_new());
    for (const auto& [field, value] : fields)
        addNameEntry(result.get(), field, value);
    return result;
}

X509Ptr newCertificate(
    X509_NAME* subject, EVP_PKEY* key, X509* issuer, const QDateTime& notBefore, const QDateTime& notAfter)
{
    X509Ptr certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    unsigned char serial[12];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    ASN1_TIME_set(X509_getm_notBefore(certificate.get()), time_t(notBefore.toSecsSinceEpoch()));
    ASN1_TIME_set(X509_getm_notAfter(certificate.get()), time_t(notAfter.toSecsSinceEpoch()));
    X509_set_subject_name(certificate.get(), subject);
    X509_set_issuer_name(certificate.get(), issuer ? X509_get_subject_name(issuer) : subject);
    X509_set_pubkey(certificate.get(), key);
    return certificate;
}

void addNameEntry(X509_NAME* name, const char* field, const QString& value)
{
    const QByteArray text = value.toUtf8();
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
        reinterpret_cast<const unsigned char*>(text.constData()), int(text.size()), -1, 0);
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuer : certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

void addMarker(X509* certificate, const char* oid, bool critical)
{
    const codesign::Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    const unsigned char null[2] = { 0x05, 0x00 };
    ASN1_OCTET_STRING_set(value, null, 2);
    X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, object.get(), critical ? 1 : 0, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    ASN1_OCTET_STRING_free(value);
}

} // namespace corvanta::demo
