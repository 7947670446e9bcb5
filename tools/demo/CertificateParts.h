#pragma once

#include "codesign/OpenSsl.h"

#include <initializer_list>
#include <memory>
#include <utility>

#include <QDateTime>
#include <QString>

#include <openssl/x509.h>

namespace corvanta::demo {

// The pieces a certificate authority shaped like Apple's is built from,
// shared by the demo's authority and the tests' extras on top of it.

using NamePtr = std::unique_ptr<X509_NAME, codesign::OpenSslDeleter<X509_NAME, X509_NAME_free>>;

// A P-256 key, quick to make. Throws Error when OpenSSL can't.
codesign::KeyPtr newKey();
// A distinguished name of `field` = `value` (UTF-8) entries in this order.
NamePtr distinguishedName(std::initializer_list<std::pair<const char*, QString>> fields);
// An unsigned v3 certificate with a random serial; `issuer` null for a self-signed one.
codesign::X509Ptr newCertificate(
    X509_NAME* subject, EVP_PKEY* key, X509* issuer, const QDateTime& notBefore, const QDateTime& notAfter);

// Appends `field` = `value` (UTF-8) to a distinguished name.
void addNameEntry(X509_NAME* name, const char* field, const QString& value);
// Adds an X.509 v3 extension written as OpenSSL's configuration text
// ("critical,CA:TRUE", "hash"…); `issuer` null for a self-signed certificate.
void addExtension(X509* certificate, X509* issuer, int nid, const char* value);
// Adds one of Apple's marker extensions: the object identifier with an ASN.1
// NULL as its value (Developer ID intermediate and application leaf).
void addMarker(X509* certificate, const char* oid, bool critical);

} // namespace corvanta::demo
