#pragma once

#include <memory>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace corvanta::codesign {

// Owners for OpenSSL objects, so every early return frees what it made.
template<typename T, void (*Free)(T*)> struct OpenSslDeleter {
    void operator()(T* object) const { Free(object); }
};

using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSslDeleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using StorePtr = std::unique_ptr<X509_STORE, OpenSslDeleter<X509_STORE, X509_STORE_free>>;
using StoreContextPtr = std::unique_ptr<X509_STORE_CTX, OpenSslDeleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslDeleter<ASN1_OBJECT, ASN1_OBJECT_free>>;

inline void freeCertificateStack(STACK_OF(X509) * stack)
{
    sk_X509_pop_free(stack, X509_free);
}
using CertificateStackPtr
    = std::unique_ptr<STACK_OF(X509), OpenSslDeleter<STACK_OF(X509), freeCertificateStack>>;

// The DER encoding of a certificate.
inline QByteArray derOf(X509* certificate)
{
    unsigned char* buffer = nullptr;
    const int length = i2d_X509(certificate, &buffer);
    if (length <= 0)
        return {};
    QByteArray out(reinterpret_cast<const char*>(buffer), length);
    OPENSSL_free(buffer);
    return out;
}

inline X509Ptr certificateFromDer(const QByteArray& der)
{
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &cursor, long(der.size())));
}

// An ASN.1 time as a UTC date; invalid when it can't be read.
inline QDateTime dateOf(const ASN1_TIME* time)
{
    struct tm parts { };
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
        QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

// The dotted text of an object identifier ("1.2.840.113635.100.6.2.6").
inline QString oidText(const ASN1_OBJECT* object)
{
    char buffer[256];
    const int length = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    if (length <= 0 || length >= int(sizeof buffer))
        return {};
    return QString::fromLatin1(buffer, length);
}

// Apple marks its certificates with critical extensions of its own that
// OpenSSL doesn't know; those, and only those, don't make a chain unusable.
inline int allowAppleCriticalExtensions(int ok, X509_STORE_CTX* context)
{
    if (ok || X509_STORE_CTX_get_error(context) != X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION)
        return ok;
    X509* certificate = X509_STORE_CTX_get_current_cert(context);
    for (int i = 0; i < X509_get_ext_count(certificate); ++i) {
        X509_EXTENSION* extension = X509_get_ext(certificate, i);
        if (!X509_EXTENSION_get_critical(extension) || X509_supported_extension(extension))
            continue;
        if (!oidText(X509_EXTENSION_get_object(extension))
                 .startsWith(QLatin1StringView("1.2.840.113635.100.")))
            return 0;
    }
    X509_STORE_CTX_set_error(context, X509_V_OK);
    return 1;
}

} // namespace corvanta::codesign
