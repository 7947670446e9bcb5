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

Certificate share(X509* certificate)
{
    return shareCertificate(certificate);
}

// A certificate for `subject` issued by `issuer` and signed with
// `issuerKey`; either null: by itself, with its own key.
SigningIdentity issue(const demo::NamePtr& subject, X509* issuer, EVP_PKEY* issuerKey,
    std::initializer_list<std::pair<int, const char*>> extensions, const QDateTime& notBefore,
    const QDateTime& notAfter)
{
    KeyPtr key = demo::newKey();
    X509Ptr certificate = demo::newCertificate(subject.get(), key.get(), issuer, notBefore, notAfter);
    for (const auto& [nid, value] : extensions)
        demo::addExtension(certificate.get(), issuer, nid, value);
    X509_sign(certificate.get(), issuerKey ? issuerKey : key.get(), EVP_sha256());
    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    identity.leaf = share(certificate.get());
    return identity;
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

TestAuthority::TestAuthority(const QString& name)
    : DemoAuthority(name)
{
}

SigningIdentity TestAuthority::developerId(const QString& team, const QString& developer) const
{
    return identity({ .team = team, .developer = developer });
}

SigningIdentity TestAuthority::installerId(const QString& team, const QString& developer) const
{
    return identity(
        { .team = team, .developer = developer, .kind = LeafOptions::Kind::installer, .rsa = true });
}

Timestamper TestAuthority::timestamper(const QDateTime& at) const
{
    // The authority's certificate, valid around `at` so the token verifies then.
    const SigningIdentity signer = issue(
        demo::distinguishedName({ { "CN", u"Test Timestamp Signer"_s }, { "O", u"Test Apple Inc."_s } }),
        root(), rootKey(),
        { { NID_basic_constraints, "critical,CA:FALSE" }, { NID_ext_key_usage, "critical,timeStamping" } },
        at.addDays(-30), at.addDays(30));
    const std::shared_ptr<EVP_PKEY> sharedKey = signer.key;
    const Certificate sharedCertificate = signer.leaf;
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
    // Signed with its own key: the forger hasn't got the root's.
    SigningIdentity identity = issue(
        demo::distinguishedName({ { "CN", u"Developer ID Application: Test Developer (%1)"_s.arg(team) },
            { "OU", team }, { "O", u"Test Developer"_s } }),
        root(), nullptr,
        { { NID_basic_constraints, "critical,CA:FALSE" }, { NID_key_usage, "critical,digitalSignature" },
            { NID_ext_key_usage, "critical,codeSigning" }, { NID_authority_key_identifier, "keyid:always" } },
        dayAgo(), QDateTime::currentDateTimeUtc().addYears(1));
    identity.chain = { share(root()) };
    return identity;
}

SigningIdentity TestAuthority::ocspSigner() const
{
    SigningIdentity identity = issue(
        demo::distinguishedName({ { "CN", u"Test OCSP Responder"_s }, { "O", u"Test Apple Inc."_s } }),
        intermediate(), intermediateKey(),
        { { NID_basic_constraints, "critical,CA:FALSE" }, { NID_key_usage, "critical,digitalSignature" },
            { NID_ext_key_usage, "critical,OCSPSigning" }, { NID_authority_key_identifier, "keyid:always" } },
        dayAgo(), QDateTime::currentDateTimeUtc().addYears(1));
    identity.chain = { share(intermediate()), share(root()) };
    return identity;
}

SigningIdentity TestAuthority::selfSigned(
    const QString& commonName, const std::optional<QString>& organizationalUnit)
{
    const demo::NamePtr subject = demo::distinguishedName({ { "CN", commonName } });
    if (organizationalUnit)
        demo::addNameEntry(subject.get(), "OU", *organizationalUnit);
    return issue(subject, nullptr, nullptr, { { NID_ext_key_usage, "critical,codeSigning" } }, dayAgo(),
        QDateTime::currentDateTimeUtc().addYears(1));
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
