#pragma once

#include <QString>

#include <openssl/x509.h>

namespace corvanta::demo {

// The pieces a certificate authority shaped like Apple's is built from,
// shared by the demo's authority and the tests' own.

// Appends `field` = `value` (UTF-8) to a distinguished name.
void addNameEntry(X509_NAME* name, const char* field, const QString& value);
// Adds an X.509 v3 extension written as OpenSSL's configuration text
// ("critical,CA:TRUE", "hash"…); `issuer` null for a self-signed certificate.
void addExtension(X509* certificate, X509* issuer, int nid, const char* value);
// Adds one of Apple's marker extensions: the object identifier with an ASN.1
// NULL as its value (Developer ID intermediate and application leaf).
void addMarker(X509* certificate, const char* oid, bool critical);

} // namespace corvanta::demo
