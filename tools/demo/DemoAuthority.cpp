#include "demo/DemoAuthority.h"

#include "base/Error.h"
#include "codesign/OpenSsl.h"
#include "demo/CertificateParts.h"

#include <openssl/rsa.h>
#include <openssl/x509v3.h>

using namespace Qt::StringLiterals;
using namespace corvanta::codesign;

namespace corvanta::demo {

struct DemoAuthority::Keys {
    KeyPtr rootKey;
    X509Ptr root;
    KeyPtr intermediateKey;
    X509Ptr intermediate;
};

DemoAuthority::DemoAuthority(const QString& rootName)
    : m_keys(std::make_unique<Keys>())
{
    // Valid long before now, so timestamps of the past chain to it too.
    const QDateTime from = QDateTime::currentDateTimeUtc().addYears(-10);
    const QDateTime until = QDateTime::currentDateTimeUtc().addYears(20);
    m_keys->rootKey = newKey();
    const NamePtr rootSubject = distinguishedName({ { "C", u"US"_s }, { "O", u"Corvanta Demo"_s },
        { "OU", u"Demo Certification Authority"_s }, { "CN", rootName } });
    X509* root
        = (m_keys->root = newCertificate(rootSubject.get(), m_keys->rootKey.get(), nullptr, from, until))
              .get();
    addExtension(root, nullptr, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(root, nullptr, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(root, nullptr, NID_subject_key_identifier, "hash");
    X509_sign(root, m_keys->rootKey.get(), EVP_sha256());

    m_keys->intermediateKey = newKey();
    const NamePtr intermediateSubject
        = distinguishedName({ { "CN", u"Developer ID Certification Authority"_s },
            { "OU", u"Demo Certification Authority"_s }, { "O", u"Corvanta Demo"_s }, { "C", u"US"_s } });
    m_keys->intermediate
        = newCertificate(intermediateSubject.get(), m_keys->intermediateKey.get(), root, from, until);
    X509* intermediate = m_keys->intermediate.get();
    addExtension(intermediate, root, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(intermediate, root, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(intermediate, root, NID_subject_key_identifier, "hash");
    addExtension(intermediate, root, NID_authority_key_identifier, "keyid:always");
    addMarker(intermediate, "1.2.840.113635.100.6.2.6", false);
    X509_sign(intermediate, m_keys->rootKey.get(), EVP_sha256());
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

X509* DemoAuthority::root() const
{
    return m_keys->root.get();
}

EVP_PKEY* DemoAuthority::rootKey() const
{
    return m_keys->rootKey.get();
}

X509* DemoAuthority::intermediate() const
{
    return m_keys->intermediate.get();
}

EVP_PKEY* DemoAuthority::intermediateKey() const
{
    return m_keys->intermediateKey.get();
}

SigningIdentity DemoAuthority::identity(const LeafOptions& options) const
{
    const bool installer = options.kind == LeafOptions::Kind::installer;
    // Package signatures are read as RSA (PKCS #1 v1.5) only.
    KeyPtr key = options.rsa ? KeyPtr(EVP_RSA_gen(2048)) : newKey();
    if (!key)
        throw Error(u"OpenSSL couldn't make a key for a certificate."_s);
    const QString commonName = !options.commonName.isEmpty()
        ? options.commonName
        : u"Developer ID %1: %2 (%3)"_s.arg(
            installer ? u"Installer"_s : u"Application"_s, options.developer, options.team);
    const NamePtr subject = distinguishedName({ { "UID", options.team }, { "CN", commonName } });
    if (options.teamInSubject)
        addNameEntry(subject.get(), "OU", options.team);
    addNameEntry(subject.get(), "O", options.developer);
    addNameEntry(subject.get(), "C", u"US"_s);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    X509* issuer = m_keys->intermediate.get();
    X509Ptr leaf = newCertificate(subject.get(), key.get(), issuer,
        options.notBefore.isValid() ? options.notBefore : now.addDays(-1),
        options.notAfter.isValid() ? options.notAfter : now.addYears(5));
    addExtension(leaf.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(leaf.get(), issuer, NID_key_usage, "critical,digitalSignature");
    addExtension(leaf.get(), issuer, NID_ext_key_usage,
        installer ? "critical,1.2.840.113635.100.4.13" : "critical,codeSigning");
    addExtension(leaf.get(), issuer, NID_subject_key_identifier, "hash");
    addExtension(leaf.get(), issuer, NID_authority_key_identifier, "keyid:always");
    if (options.developerIdMark)
        addMarker(leaf.get(), installer ? "1.2.840.113635.100.6.1.14" : "1.2.840.113635.100.6.1.13", true);
    if (!options.ocspUrl.isEmpty()) {
        const QByteArray access = "OCSP;URI:" + options.ocspUrl.toUtf8();
        addExtension(leaf.get(), issuer, NID_info_access, access.constData());
    }
    X509_sign(leaf.get(), m_keys->intermediateKey.get(), EVP_sha256());

    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = shareCertificate(leaf.get());
    identity.chain = { shareCertificate(issuer), shareCertificate(m_keys->root.get()) };
    return identity;
}

SigningIdentity DemoAuthority::developerID(const QString& team, const QString& developer)
{
    if (const auto found = m_leaves.find(team); found != m_leaves.end())
        return found->second;
    return m_leaves.emplace(team, identity({ .team = team, .developer = developer })).first->second;
}

SigningIdentity DemoAuthority::developerIDInstaller(const QString& team, const QString& developer)
{
    const QString slot = u"pkg:"_s + team;
    if (const auto found = m_leaves.find(slot); found != m_leaves.end())
        return found->second;
    const LeafOptions options {
        .team = team, .developer = developer, .kind = LeafOptions::Kind::installer, .rsa = true
    };
    return m_leaves.emplace(slot, identity(options)).first->second;
}

} // namespace corvanta::demo
