#include "demo/DemoAuthority.h"

#include "base/Error.h"
#include "codesign/OpenSsl.h"
#include "demo/CertificateParts.h"

#include <QDateTime>

#include <openssl/rand.h>

using namespace Qt::StringLiterals;
using namespace corvanta::codesign;

namespace corvanta::demo {

namespace {

using NamePtr = std::unique_ptr<X509_NAME, OpenSslDeleter<X509_NAME, X509_NAME_free>>;

KeyPtr newKey()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        throw Error(u"OpenSSL couldn't make a key for the demo certificate authority."_s);
    return key;
}

NamePtr name(std::initializer_list<std::pair<const char*, QString>> fields)
{
    NamePtr result(X509_NAME_new());
    for (const auto& [field, value] : fields)
        addNameEntry(result.get(), field, value);
    return result;
}

X509Ptr newCertificate(X509_NAME* subject, EVP_PKEY* key, X509* issuer, int validYears)
{
    X509Ptr certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    unsigned char serial[12];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    ASN1_TIME_set(X509_getm_notBefore(certificate.get()), time_t(now.addDays(-1).toSecsSinceEpoch()));
    ASN1_TIME_set(X509_getm_notAfter(certificate.get()), time_t(now.addYears(validYears).toSecsSinceEpoch()));
    X509_set_subject_name(certificate.get(), subject);
    X509_set_issuer_name(certificate.get(), issuer ? X509_get_subject_name(issuer) : subject);
    X509_set_pubkey(certificate.get(), key);
    return certificate;
}

} // namespace

struct DemoAuthority::Keys {
    KeyPtr rootKey;
    X509Ptr root;
    KeyPtr intermediateKey;
    X509Ptr intermediate;
};

DemoAuthority::DemoAuthority()
    : m_keys(std::make_unique<Keys>())
{
    m_keys->rootKey = newKey();
    const NamePtr rootSubject = name({ { "C", u"US"_s }, { "O", u"Corvanta Demo"_s },
        { "OU", u"Demo Certification Authority"_s }, { "CN", rootName } });
    m_keys->root = newCertificate(rootSubject.get(), m_keys->rootKey.get(), nullptr, 20);
    addExtension(m_keys->root.get(), nullptr, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(m_keys->root.get(), nullptr, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(m_keys->root.get(), nullptr, NID_subject_key_identifier, "hash");
    X509_sign(m_keys->root.get(), m_keys->rootKey.get(), EVP_sha256());

    m_keys->intermediateKey = newKey();
    const NamePtr intermediateSubject = name({ { "CN", u"Developer ID Certification Authority"_s },
        { "OU", u"Demo Certification Authority"_s }, { "O", u"Corvanta Demo"_s }, { "C", u"US"_s } });
    X509* root = m_keys->root.get();
    m_keys->intermediate = newCertificate(intermediateSubject.get(), m_keys->intermediateKey.get(), root, 10);
    addExtension(m_keys->intermediate.get(), root, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(m_keys->intermediate.get(), root, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(m_keys->intermediate.get(), root, NID_subject_key_identifier, "hash");
    addExtension(m_keys->intermediate.get(), root, NID_authority_key_identifier, "keyid:always");
    addMarker(m_keys->intermediate.get(), "1.2.840.113635.100.6.2.6", false);
    X509_sign(m_keys->intermediate.get(), m_keys->rootKey.get(), EVP_sha256());
}

DemoAuthority::~DemoAuthority() = default;
DemoAuthority::DemoAuthority(DemoAuthority&&) noexcept = default;
DemoAuthority& DemoAuthority::operator=(DemoAuthority&&) noexcept = default;

QByteArray DemoAuthority::rootDer() const
{
    return derOf(m_keys->root.get());
}

QByteArray DemoAuthority::rootPem() const
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), m_keys->root.get());
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

TrustAnchors DemoAuthority::anchors() const
{
    return TrustAnchors({ rootDer() });
}

SigningIdentity DemoAuthority::developerID(const QString& team, const QString& developer)
{
    if (const auto found = m_leaves.find(team); found != m_leaves.end())
        return found->second;
    KeyPtr key = newKey();
    const NamePtr subject
        = name({ { "UID", team }, { "CN", u"Developer ID Application: %1 (%2)"_s.arg(developer, team) },
            { "OU", team }, { "O", developer }, { "C", u"US"_s } });
    X509* issuer = m_keys->intermediate.get();
    X509Ptr leaf = newCertificate(subject.get(), key.get(), issuer, 5);
    addExtension(leaf.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(leaf.get(), issuer, NID_key_usage, "critical,digitalSignature");
    addExtension(leaf.get(), issuer, NID_ext_key_usage, "critical,codeSigning");
    addExtension(leaf.get(), issuer, NID_subject_key_identifier, "hash");
    addExtension(leaf.get(), issuer, NID_authority_key_identifier, "keyid:always");
    addMarker(leaf.get(), "1.2.840.113635.100.6.1.13", true);
    X509_sign(leaf.get(), m_keys->intermediateKey.get(), EVP_sha256());

    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = shareCertificate(leaf.get());
    identity.chain = { shareCertificate(m_keys->intermediate.get()), shareCertificate(m_keys->root.get()) };
    m_leaves.emplace(team, identity);
    return identity;
}

} // namespace corvanta::demo
