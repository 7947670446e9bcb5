#include "demo/CertificateParts.h"

#include "codesign/OpenSsl.h"

#include <openssl/x509v3.h>

namespace corvanta::demo {

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
