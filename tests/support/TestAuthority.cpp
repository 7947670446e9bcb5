#include "support/TestAuthority.h"

#include "codesign/OpenSsl.h"
#include "demo/CertificateParts.h"
#include "support/SigningFixtures.h"

#include <optional>

#include <QDeadlineTimer>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ocsp.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <sys/socket.h>
#include <unistd.h>

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

QByteArray pemOf(X509* certificate)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

QByteArray pemOf(EVP_PKEY* key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

// A time as index.txt writes it.
QByteArray indexTime(const QDateTime& time)
{
    return time.toUTC().toString(u"yyMMddHHmmss'Z'"_s).toLatin1();
}

// Posts an OCSP request to the responder and reads its answer to the end:
// none while nothing listens, whether it answered 200 otherwise.
std::optional<bool> post(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    const timeval patience { 10, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    const QByteArray message = "POST / HTTP/1.0\r\nContent-Type: application/ocsp-request\r\nContent-Length: "
        + QByteArray::number(request.size()) + "\r\n\r\n" + request;
    QByteArray answer;
    if (::send(fd, message.constData(), std::size_t(message.size()), MSG_NOSIGNAL) == message.size()) {
        char buffer[4096];
        ssize_t length = 0;
        while ((length = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, length);
    }
    ::close(fd);
    return answer.startsWith("HTTP/1.0 200");
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

SigningIdentity TestAuthority::installerId(const QString& team, const QString& developer) const
{
    LeafOptions options;
    options.team = team;
    options.developer = developer;
    options.kind = LeafOptions::Kind::installer;
    options.rsa = true;
    return identity(options);
}

SigningIdentity TestAuthority::identity(const LeafOptions& options) const
{
    const bool installer = options.kind == LeafOptions::Kind::installer;
    KeyPtr key = options.rsa ? KeyPtr(EVP_RSA_gen(2048)) : newKey();
    X509_NAME* subject = X509_NAME_new();
    demo::addNameEntry(subject, "UID", options.team);
    demo::addNameEntry(subject, "CN",
        !options.commonName.isEmpty()
            ? options.commonName
            : u"Developer ID %1: %2 (%3)"_s.arg(
                installer ? u"Installer"_s : u"Application"_s, options.developer, options.team));
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
    demo::addExtension(leaf.get(), issuer, NID_ext_key_usage,
        installer ? "critical,1.2.840.113635.100.4.13" : "critical,codeSigning");
    demo::addExtension(leaf.get(), issuer, NID_subject_key_identifier, "hash");
    demo::addExtension(leaf.get(), issuer, NID_authority_key_identifier, "keyid:always");
    if (options.developerIdMark)
        demo::addMarker(
            leaf.get(), installer ? "1.2.840.113635.100.6.1.14" : "1.2.840.113635.100.6.1.13", true);
    if (!options.ocspUrl.isEmpty()) {
        const QByteArray access = "OCSP;URI:" + options.ocspUrl.toUtf8();
        demo::addExtension(leaf.get(), issuer, NID_info_access, access.constData());
    }
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

SigningIdentity TestAuthority::forgery(const QString& team) const
{
    KeyPtr key = newKey();
    X509_NAME* subject = X509_NAME_new();
    demo::addNameEntry(subject, "CN", u"Developer ID Application: Test Developer (%1)"_s.arg(team));
    demo::addNameEntry(subject, "OU", team);
    demo::addNameEntry(subject, "O", u"Test Developer"_s);
    X509* root = m_keys->root.get();
    X509Ptr leaf
        = newCertificate(subject, key.get(), root, dayAgo(), QDateTime::currentDateTimeUtc().addYears(1));
    X509_NAME_free(subject);
    demo::addExtension(leaf.get(), root, NID_basic_constraints, "critical,CA:FALSE");
    demo::addExtension(leaf.get(), root, NID_key_usage, "critical,digitalSignature");
    demo::addExtension(leaf.get(), root, NID_ext_key_usage, "critical,codeSigning");
    demo::addExtension(leaf.get(), root, NID_authority_key_identifier, "keyid:always");
    X509_sign(leaf.get(), key.get(), EVP_sha256()); // the forger hasn't got the root's key
    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = share(leaf);
    identity.chain = { share(m_keys->root) };
    return identity;
}

SigningIdentity TestAuthority::ocspSigner() const
{
    KeyPtr key = newKey();
    X509_NAME* subject = X509_NAME_new();
    demo::addNameEntry(subject, "CN", u"Test OCSP Responder"_s);
    demo::addNameEntry(subject, "O", u"Test Apple Inc."_s);
    X509* issuer = m_keys->intermediate.get();
    X509Ptr certificate
        = newCertificate(subject, key.get(), issuer, dayAgo(), QDateTime::currentDateTimeUtc().addYears(1));
    X509_NAME_free(subject);
    demo::addExtension(certificate.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    demo::addExtension(certificate.get(), issuer, NID_key_usage, "critical,digitalSignature");
    demo::addExtension(certificate.get(), issuer, NID_ext_key_usage, "critical,OCSPSigning");
    demo::addExtension(certificate.get(), issuer, NID_authority_key_identifier, "keyid:always");
    X509_sign(certificate.get(), m_keys->intermediateKey.get(), EVP_sha256());
    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = share(certificate);
    identity.chain = { share(m_keys->intermediate), share(m_keys->root) };
    return identity;
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

OcspResponder::OcspResponder()
    : m_port(freePort())
{
}

OcspResponder::~OcspResponder()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished();
    }
}

QString OcspResponder::url() const
{
    return u"http://127.0.0.1:%1/"_s.arg(m_port);
}

bool OcspResponder::start(
    const TestAuthority& authority, const std::vector<std::pair<Certificate, bool>>& leaves, int requests)
{
    const SigningIdentity signer = authority.ocspSigner();
    X509* issuer = signer.chain.front().get();
    QByteArray index;
    for (const auto& [leaf, revoked] : leaves) {
        BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(leaf.get()), nullptr);
        char* hex = BN_bn2hex(serial);
        char name[1024];
        X509_NAME_oneline(X509_get_subject_name(leaf.get()), name, sizeof name);
        index += (revoked ? "R\t" : "V\t") + indexTime(dateOf(X509_get0_notAfter(leaf.get()))) + '\t'
            + (revoked ? indexTime(QDateTime::currentDateTimeUtc().addSecs(-3600)) : QByteArray()) + '\t'
            + hex + "\tunknown\t" + QByteArray(name) + '\n';
        OPENSSL_free(hex);
        BN_free(serial);
    }
    const QString folder = m_folder.path();
    writeFile(folder + u"/index.txt"_s, index);
    writeFile(folder + u"/index.txt.attr"_s, "unique_subject = no\n");
    writeFile(folder + u"/ca.pem"_s, pemOf(issuer));
    writeFile(folder + u"/responder.pem"_s, pemOf(signer.leaf.get()));
    writeFile(folder + u"/responder.key"_s, pemOf(signer.key.get()));

    // Its own question about the responder's certificate tells when it is
    // ready: a connection that sends nothing upsets it, so it answers one more.
    OCSP_REQUEST* request = OCSP_REQUEST_new();
    OCSP_request_add0_id(request, OCSP_cert_to_id(nullptr, signer.leaf.get(), issuer));
    unsigned char* der = nullptr;
    const int length = i2d_OCSP_REQUEST(request, &der);
    const QByteArray probe(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    OCSP_REQUEST_free(request);

    m_process = std::make_unique<QProcess>();
    m_process->setWorkingDirectory(folder);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(u"openssl"_s,
        { u"ocsp"_s, u"-index"_s, u"index.txt"_s, u"-port"_s, QString::number(m_port), u"-rsigner"_s,
            u"responder.pem"_s, u"-rkey"_s, u"responder.key"_s, u"-CA"_s, u"ca.pem"_s, u"-ndays"_s, u"1"_s,
            u"-nrequest"_s, QString::number(requests + 1) });
    if (!m_process->waitForStarted())
        return false;
    const QDeadlineTimer patience(std::chrono::seconds(10));
    while (!patience.hasExpired() && m_process->state() == QProcess::Running) {
        if (const auto answered = post(m_port, probe))
            return *answered;
        m_process->waitForReadyRead(20); // its "waiting for connections" line
    }
    return false;
}

quint16 OcspResponder::freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace corvanta::test
