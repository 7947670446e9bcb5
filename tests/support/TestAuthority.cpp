#include "support/TestAuthority.h"

#include "codesign/OpenSsl.h"
#include "demo/CertificateParts.h"

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
    demo::addNameEntry(rootName, "C", u"US"_s);
    demo::addNameEntry(rootName, "O", u"Test Apple Inc."_s);
    demo::addNameEntry(rootName, "OU", u"Test Certification Authority"_s);
    demo::addNameEntry(rootName, "CN", name);
    m_keys->root = newCertificate(rootName, m_keys->rootKey.get(), nullptr, from, until);
    X509_NAME_free(rootName);
    demo::addExtension(m_keys->root.get(), nullptr, NID_basic_constraints, "critical,CA:TRUE");
    demo::addExtension(m_keys->root.get(), nullptr, NID_key_usage, "critical,keyCertSign,cRLSign");
    demo::addExtension(m_keys->root.get(), nullptr, NID_subject_key_identifier, "hash");
    X509_sign(m_keys->root.get(), m_keys->rootKey.get(), EVP_sha256());

    m_keys->intermediateKey = newKey();
    X509_NAME* intermediateName = X509_NAME_new();
    demo::addNameEntry(intermediateName, "CN", u"Developer ID Certification Authority"_s);
    demo::addNameEntry(intermediateName, "OU", u"Test Certification Authority"_s);
    demo::addNameEntry(intermediateName, "O", u"Test Apple Inc."_s);
    demo::addNameEntry(intermediateName, "C", u"US"_s);
    m_keys->intermediate
        = newCertificate(intermediateName, m_keys->intermediateKey.get(), m_keys->root.get(), from, until);
    X509_NAME_free(intermediateName);
    demo::addExtension(
        m_keys->intermediate.get(), m_keys->root.get(), NID_basic_constraints, "critical,CA:TRUE");
    demo::addExtension(
        m_keys->intermediate.get(), m_keys->root.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    demo::addExtension(m_keys->intermediate.get(), m_keys->root.get(), NID_subject_key_identifier, "hash");
    demo::addExtension(
        m_keys->intermediate.get(), m_keys->root.get(), NID_authority_key_identifier, "keyid:always");
    demo::addMarker(m_keys->intermediate.get(), "1.2.840.113635.100.6.2.6", false);
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
    demo::addNameEntry(subject, "UID", options.team);
    demo::addNameEntry(
        subject, "CN", u"Developer ID Application: %1 (%2)"_s.arg(options.developer, options.team));
    if (options.teamInSubject)
        demo::addNameEntry(subject, "OU", options.team);
    demo::addNameEntry(subject, "O", options.developer);
    demo::addNameEntry(subject, "C", u"US"_s);
    const QDateTime notBefore = options.notBefore.isValid() ? options.notBefore : dayAgo();
    const QDateTime notAfter
        = options.notAfter.isValid() ? options.notAfter : QDateTime::currentDateTimeUtc().addYears(1);
    X509Ptr leaf = newCertificate(subject, key.get(), m_keys->intermediate.get(), notBefore, notAfter);
    X509_NAME_free(subject);
    X509* issuer = m_keys->intermediate.get();
    demo::addExtension(leaf.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    demo::addExtension(leaf.get(), issuer, NID_key_usage, "critical,digitalSignature");
    demo::addExtension(leaf.get(), issuer, NID_ext_key_usage, "critical,codeSigning");
    demo::addExtension(leaf.get(), issuer, NID_subject_key_identifier, "hash");
    demo::addExtension(leaf.get(), issuer, NID_authority_key_identifier, "keyid:always");
    if (options.developerIdMark)
        demo::addMarker(leaf.get(), "1.2.840.113635.100.6.1.13", true);
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
    demo::addNameEntry(subject, "CN", u"Test Timestamp Signer"_s);
    demo::addNameEntry(subject, "O", u"Test Apple Inc."_s);
    X509Ptr certificate
        = newCertificate(subject, key.get(), m_keys->root.get(), at.addDays(-30), at.addDays(30));
    X509_NAME_free(subject);
    demo::addExtension(certificate.get(), m_keys->root.get(), NID_basic_constraints, "critical,CA:FALSE");
    demo::addExtension(certificate.get(), m_keys->root.get(), NID_ext_key_usage, "critical,timeStamping");
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
    demo::addNameEntry(subject, "CN", commonName);
    if (organizationalUnit)
        demo::addNameEntry(subject, "OU", *organizationalUnit);
    X509Ptr leaf
        = newCertificate(subject, key.get(), nullptr, dayAgo(), QDateTime::currentDateTimeUtc().addYears(1));
    X509_NAME_free(subject);
    demo::addExtension(leaf.get(), nullptr, NID_ext_key_usage, "critical,codeSigning");
    X509_sign(leaf.get(), key.get(), EVP_sha256());
    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = share(leaf);
    return identity;
}

} // namespace corvanta::test
