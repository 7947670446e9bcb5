#include "support/TestAuthority.h"

#include "codesign/OpenSsl.h"

#include <openssl/rand.h>
#include <openssl/ts.h>

using namespace Qt::StringLiterals;
using namespace corvanta::codesign;

namespace corvanta::test {

namespace {

KeyPtr newKey()
{
    return KeyPtr(EVP_EC_gen("P-256"));
}

void addName(X509_NAME* name, const char* field, const QString& value)
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

// One of Apple's marker extensions: the OID with an ASN.1 NULL as its value.
void addMarker(X509* certificate, const char* oid, bool critical)
{
    const Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    const unsigned char null[2] = { 0x05, 0x00 };
    ASN1_OCTET_STRING_set(value, null, 2);
    X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, object.get(), critical ? 1 : 0, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    ASN1_OCTET_STRING_free(value);
}

X509Ptr newCertificate(X509_NAME* subject, EVP_PKEY* subjectKey, X509* issuer, const QDateTime& notBefore,
    const QDateTime& notAfter)
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
    X509_set_pubkey(certificate.get(), subjectKey);
    return certificate;
}

Certificate share(const X509Ptr& certificate)
{
    return shareCertificate(certificate.get());
}

QDateTime dayAgo()
{
    return QDateTime::currentDateTimeUtc().addDays(-1);
}

} // namespace

struct TestAuthority::Keys {
    KeyPtr rootKey;
    X509Ptr root;
    KeyPtr intermediateKey;
    X509Ptr intermediate;
};

TestAuthority::TestAuthority(const QString& name)
    : m_keys(std::make_unique<Keys>())
{
    const QDateTime from = QDateTime::currentDateTimeUtc().addYears(-10);
    const QDateTime until = QDateTime::currentDateTimeUtc().addYears(20);

    m_keys->rootKey = newKey();
    X509_NAME* rootName = X509_NAME_new();
    addName(rootName, "C", u"US"_s);
    addName(rootName, "O", u"Test Apple Inc."_s);
    addName(rootName, "OU", u"Test Certification Authority"_s);
    addName(rootName, "CN", name);
    m_keys->root = newCertificate(rootName, m_keys->rootKey.get(), nullptr, from, until);
    X509_NAME_free(rootName);
    addExtension(m_keys->root.get(), nullptr, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(m_keys->root.get(), nullptr, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(m_keys->root.get(), nullptr, NID_subject_key_identifier, "hash");
    X509_sign(m_keys->root.get(), m_keys->rootKey.get(), EVP_sha256());

    m_keys->intermediateKey = newKey();
    X509_NAME* intermediateName = X509_NAME_new();
    addName(intermediateName, "CN", u"Developer ID Certification Authority"_s);
    addName(intermediateName, "OU", u"Test Certification Authority"_s);
    addName(intermediateName, "O", u"Test Apple Inc."_s);
    addName(intermediateName, "C", u"US"_s);
    m_keys->intermediate
        = newCertificate(intermediateName, m_keys->intermediateKey.get(), m_keys->root.get(), from, until);
    X509_NAME_free(intermediateName);
    addExtension(m_keys->intermediate.get(), m_keys->root.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(
        m_keys->intermediate.get(), m_keys->root.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(m_keys->intermediate.get(), m_keys->root.get(), NID_subject_key_identifier, "hash");
    addExtension(
        m_keys->intermediate.get(), m_keys->root.get(), NID_authority_key_identifier, "keyid:always");
    addMarker(m_keys->intermediate.get(), "1.2.840.113635.100.6.2.6", false);
    X509_sign(m_keys->intermediate.get(), m_keys->rootKey.get(), EVP_sha256());
}

TestAuthority::~TestAuthority() = default;
TestAuthority::TestAuthority(TestAuthority&&) noexcept = default;

QByteArray TestAuthority::rootDer() const
{
    return derOf(m_keys->root.get());
}

QByteArray TestAuthority::intermediateDer() const
{
    return derOf(m_keys->intermediate.get());
}

TrustAnchors TestAuthority::anchors() const
{
    return TrustAnchors({ rootDer() });
}

SigningIdentity TestAuthority::developerId(const QString& team, const QString& developer) const
{
    LeafOptions options;
    options.team = team;
    options.developer = developer;
    return identity(options);
}

SigningIdentity TestAuthority::identity(const LeafOptions& options) const
{
    KeyPtr key = newKey();
    X509_NAME* subject = X509_NAME_new();
    addName(subject, "UID", options.team);
    addName(subject, "CN", u"Developer ID Application: %1 (%2)"_s.arg(options.developer, options.team));
    if (options.teamInSubject)
        addName(subject, "OU", options.team);
    addName(subject, "O", options.developer);
    addName(subject, "C", u"US"_s);
    const QDateTime notBefore = options.notBefore.isValid() ? options.notBefore : dayAgo();
    const QDateTime notAfter
        = options.notAfter.isValid() ? options.notAfter : QDateTime::currentDateTimeUtc().addYears(1);
    X509Ptr leaf = newCertificate(subject, key.get(), m_keys->intermediate.get(), notBefore, notAfter);
    X509_NAME_free(subject);
    X509* issuer = m_keys->intermediate.get();
    addExtension(leaf.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(leaf.get(), issuer, NID_key_usage, "critical,digitalSignature");
    addExtension(leaf.get(), issuer, NID_ext_key_usage, "critical,codeSigning");
    addExtension(leaf.get(), issuer, NID_subject_key_identifier, "hash");
    addExtension(leaf.get(), issuer, NID_authority_key_identifier, "keyid:always");
    if (options.developerIdMark)
        addMarker(leaf.get(), "1.2.840.113635.100.6.1.13", true);
    X509_sign(leaf.get(), m_keys->intermediateKey.get(), EVP_sha256());

    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = share(leaf);
    identity.chain = { share(m_keys->intermediate), share(m_keys->root) };
    return identity;
}

Timestamper TestAuthority::timestamper(const QDateTime& at) const
{
    // The authority's certificate, valid around `at` so the token verifies then.
    KeyPtr key = newKey();
    X509_NAME* subject = X509_NAME_new();
    addName(subject, "CN", u"Test Timestamp Signer"_s);
    addName(subject, "O", u"Test Apple Inc."_s);
    X509Ptr certificate
        = newCertificate(subject, key.get(), m_keys->root.get(), at.addDays(-30), at.addDays(30));
    X509_NAME_free(subject);
    addExtension(certificate.get(), m_keys->root.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(certificate.get(), m_keys->root.get(), NID_ext_key_usage, "critical,timeStamping");
    X509_sign(certificate.get(), m_keys->rootKey.get(), EVP_sha256());
    std::shared_ptr<EVP_PKEY> sharedKey(key.release(), EVP_PKEY_free);
    Certificate sharedCertificate = share(certificate);
    const qint64 seconds = at.toSecsSinceEpoch();

    return [sharedKey, sharedCertificate, seconds](const QByteArray& signatureValue) -> QByteArray {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        EVP_Digest(signatureValue.constData(), std::size_t(signatureValue.size()), digest, &digestLength,
            EVP_sha256(), nullptr);
        TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
        X509_ALGOR* algorithm = X509_ALGOR_new();
        X509_ALGOR_set0(algorithm, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
        TS_MSG_IMPRINT_set_algo(imprint, algorithm);
        TS_MSG_IMPRINT_set_msg(imprint, digest, int(digestLength));
        TS_REQ* request = TS_REQ_new();
        TS_REQ_set_version(request, 1);
        TS_REQ_set_msg_imprint(request, imprint);
        TS_REQ_set_cert_req(request, 1);
        X509_ALGOR_free(algorithm);
        TS_MSG_IMPRINT_free(imprint);
        BioPtr requestBio(BIO_new(BIO_s_mem()));
        i2d_TS_REQ_bio(requestBio.get(), request);
        TS_REQ_free(request);

        TS_RESP_CTX* context = TS_RESP_CTX_new();
        TS_RESP_CTX_set_signer_cert(context, sharedCertificate.get());
        TS_RESP_CTX_set_signer_key(context, sharedKey.get());
        const Asn1ObjectPtr policy(OBJ_txt2obj("1.2.3.4.1", 1));
        TS_RESP_CTX_set_def_policy(context, policy.get());
        TS_RESP_CTX_add_md(context, EVP_sha256());
        qint64 when = seconds;
        TS_RESP_CTX_set_time_cb(
            context,
            [](TS_RESP_CTX*, void* data, long* sec, long* usec) {
                *sec = long(*static_cast<qint64*>(data));
                *usec = 0;
                return 1;
            },
            &when);
        TS_RESP* response = TS_RESP_create_response(context, requestBio.get());
        QByteArray out;
        if (response && TS_RESP_get_token(response)) {
            unsigned char* der = nullptr;
            const int length = i2d_PKCS7(TS_RESP_get_token(response), &der);
            if (length > 0)
                out = QByteArray(reinterpret_cast<const char*>(der), length);
            OPENSSL_free(der);
        }
        TS_RESP_free(response);
        TS_RESP_CTX_free(context);
        ERR_clear_error();
        return out;
    };
}

SigningIdentity TestAuthority::selfSigned(
    const QString& commonName, const std::optional<QString>& organizationalUnit)
{
    KeyPtr key = newKey();
    X509_NAME* subject = X509_NAME_new();
    addName(subject, "CN", commonName);
    if (organizationalUnit)
        addName(subject, "OU", *organizationalUnit);
    X509Ptr leaf
        = newCertificate(subject, key.get(), nullptr, dayAgo(), QDateTime::currentDateTimeUtc().addYears(1));
    X509_NAME_free(subject);
    addExtension(leaf.get(), nullptr, NID_ext_key_usage, "critical,codeSigning");
    X509_sign(leaf.get(), key.get(), EVP_sha256());
    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = share(leaf);
    return identity;
}

} // namespace corvanta::test
