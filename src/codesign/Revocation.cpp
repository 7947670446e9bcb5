#include "codesign/Revocation.h"

#include "codesign/Digest.h"
#include "codesign/OpenSsl.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <QDateTime>
#include <QStringList>

#include <netdb.h>
#include <openssl/http.h>
#include <openssl/httperr.h>
#include <openssl/ocsp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

using Clock = std::chrono::steady_clock;
using OcspRequestPtr = std::unique_ptr<OCSP_REQUEST, OpenSslDeleter<OCSP_REQUEST, OCSP_REQUEST_free>>;
using OcspResponsePtr = std::unique_ptr<OCSP_RESPONSE, OpenSslDeleter<OCSP_RESPONSE, OCSP_RESPONSE_free>>;
using OcspBasicPtr = std::unique_ptr<OCSP_BASICRESP, OpenSslDeleter<OCSP_BASICRESP, OCSP_BASICRESP_free>>;
using OcspIdPtr = std::unique_ptr<OCSP_CERTID, OpenSslDeleter<OCSP_CERTID, OCSP_CERTID_free>>;
using HttpPtr = std::unique_ptr<OSSL_HTTP_REQ_CTX, OpenSslDeleter<OSSL_HTTP_REQ_CTX, OSSL_HTTP_REQ_CTX_free>>;

void freeText(char* text)
{
    OPENSSL_free(text);
}
using TextPtr = std::unique_ptr<char, OpenSslDeleter<char, freeText>>;

// Clocks of responders and of this machine may disagree by this much.
constexpr long skewSeconds = 300;
// An answer that neither echoes our nonce nor says when it expires could be a
// replay; it counts only while this young.
constexpr long unechoedMaxAge = 24 * 60 * 60;

const QString accepted = u"; accepted, as macOS does when it can't check."_s;

QString unreachable(const QString& url, const QString& why)
{
    return u"Couldn't reach the certificate's revocation service at %1 (%2)"_s.arg(url, why) + accepted;
}

QString late(const QString& url)
{
    return u"The certificate's revocation service at %1 didn't answer in time"_s.arg(url) + accepted;
}

QString unusable(const QString& url, const QString& why)
{
    return u"The certificate's revocation service at %1 gave an answer that can't be used (%2)"_s.arg(
               url, why)
        + accepted;
}

QString errnoText(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, INT_MAX));
}

// 1 when `fd` is ready for `events`, 0 at the deadline, -1 on error.
int waitFor(int fd, short events, Clock::time_point deadline)
{
    while (true) {
        pollfd entry { fd, events, 0 };
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready >= 0 || errno != EINTR)
            return ready > 0 ? 1 : ready;
    }
}

// What one question to one responder came to.
struct Outcome {
    enum class Kind { good, revoked, failed } kind = Kind::failed;
    QDateTime goodUntil; // a good answer's nextUpdate; invalid when it names none
    QString note; // why it failed
};

Outcome failed(QString note)
{
    return { Outcome::Kind::failed, {}, std::move(note) };
}

// Answers kept for the process, by certificate.
struct Remembered {
    bool revoked = false;
    QDateTime goodUntil;
};

struct AnswerCache {
    std::mutex mutex;
    std::map<QByteArray, Remembered> answers;
};

AnswerCache& cache()
{
    static AnswerCache instance;
    return instance;
}

// Name lookup has no timeout of its own, so it runs on a thread of its own
// that the caller stops waiting for at the deadline.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int error = 0;
    addrinfo* addresses = nullptr;

    ~Lookup()
    {
        if (addresses)
            ::freeaddrinfo(addresses);
    }
};

// None when the lookup outlasts the deadline.
std::shared_ptr<Lookup> lookUp(const std::string& host, const std::string& port, Clock::time_point deadline)
{
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port] {
            addrinfo hints {};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
            const std::lock_guard lock(lookup->mutex);
            lookup->addresses = found;
            lookup->error = error;
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        lookup->done = true;
        lookup->error = EAI_AGAIN;
        return lookup;
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_until(lock, deadline, [&] { return lookup->done; }))
        return nullptr;
    return lookup;
}

// A socket connected to one of `addresses`; -1 with `why` set (empty when the deadline passed).
int connectTo(const addrinfo* addresses, Clock::time_point deadline, QString& why)
{
    for (const addrinfo* address = addresses; address; address = address->ai_next) {
        const int fd = ::socket(
            address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) {
            why = errnoText(errno);
            continue;
        }
        int error = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            const int ready = waitFor(fd, POLLOUT, deadline);
            if (ready == 0) {
                ::close(fd);
                why.clear();
                return -1;
            }
            socklen_t length = sizeof error;
            if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
        if (error == 0)
            return fd;
        why = errnoText(error);
        ::close(fd);
    }
    return -1;
}

// Posts `request` over the connected socket and reads the answer into
// `response`, without blocking past the deadline; why not, when it fails.
// Takes the socket.
std::optional<QString> exchange(int fd, const QString& url, const char* host, const char* port,
    const char* path, OCSP_REQUEST* request, Clock::time_point deadline, OcspResponsePtr& response)
{
    BioPtr socket(BIO_new_socket(fd, BIO_CLOSE));
    if (!socket) {
        ::close(fd);
        return unreachable(url, u"a socket couldn't be opened"_s);
    }
    const std::string hostHeader
        = (std::strchr(host, ':') ? "[" + std::string(host) + "]" : std::string(host))
        + (std::strcmp(port, "80") == 0 ? std::string() : ":" + std::string(port));
    HttpPtr http(OSSL_HTTP_REQ_CTX_new(socket.get(), socket.get(), 0));
    if (!http || OSSL_HTTP_REQ_CTX_set_request_line(http.get(), 1, nullptr, nullptr, path) != 1
        || OSSL_HTTP_REQ_CTX_add1_header(http.get(), "Host", hostHeader.c_str()) != 1
        || OSSL_HTTP_REQ_CTX_set_expected(http.get(), "application/ocsp-response", 1, 0, 0) != 1
        || OSSL_HTTP_REQ_CTX_set1_req(http.get(), "application/ocsp-request", ASN1_ITEM_rptr(OCSP_REQUEST),
               reinterpret_cast<const ASN1_VALUE*>(request))
            != 1) {
        ERR_clear_error();
        return unreachable(url, u"the request couldn't be made"_s);
    }
    while (true) {
        ASN1_VALUE* answer = nullptr;
        const int status = OSSL_HTTP_REQ_CTX_nbio_d2i(http.get(), &answer, ASN1_ITEM_rptr(OCSP_RESPONSE));
        if (status == 1) {
            response.reset(reinterpret_cast<OCSP_RESPONSE*>(answer));
            return std::nullopt;
        }
        if (status == 0) {
            const bool closed = ERR_GET_REASON(ERR_peek_error()) == HTTP_R_FAILED_READING_DATA;
            ERR_clear_error();
            return closed ? unreachable(url, u"the connection closed without an answer"_s)
                          : unusable(url, u"it isn't an OCSP response"_s);
        }
        const int ready = waitFor(fd, BIO_should_read(socket.get()) ? POLLIN : POLLOUT, deadline);
        if (ready == 0)
            return late(url);
        if (ready < 0)
            return unreachable(url, errnoText(errno));
    }
}

// What a response says about `id`, once it is proven to come from `issuer` or
// a responder it delegated to, and to answer this request while current.
Outcome judge(
    const QString& url, OCSP_RESPONSE* response, OCSP_REQUEST* request, OCSP_CERTID* id, X509* issuer)
{
    if (OCSP_response_status(response) != OCSP_RESPONSE_STATUS_SUCCESSFUL)
        return failed(unusable(url, u"the service reported an error"_s));
    const OcspBasicPtr basic(OCSP_response_get1_basic(response));
    if (!basic)
        return failed(unusable(url, u"it holds no answer"_s));
    const int nonce = OCSP_check_nonce(request, basic.get());
    if (nonce == 0)
        return failed(unusable(url, u"it answers another request"_s));

    StorePtr store(X509_STORE_new());
    const CertificateStackPtr untrusted(sk_X509_new_null());
    if (!store || !untrusted || X509_STORE_add_cert(store.get(), issuer) != 1 || X509_up_ref(issuer) != 1
        || !sk_X509_push(untrusted.get(), issuer))
        return failed(unusable(url, u"it can't be checked"_s));
    // The issuer is the anchor here, though it is rarely a root itself.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    X509_STORE_set_verify_cb(store.get(), allowAppleCriticalExtensions);
    const int verified = OCSP_basic_verify(basic.get(), untrusted.get(), store.get(), 0);
    ERR_clear_error();
    if (verified != 1)
        return failed(unusable(url, u"it can't be verified against the certificate's issuer"_s));

    int status = V_OCSP_CERTSTATUS_UNKNOWN;
    int reason = 0;
    ASN1_GENERALIZEDTIME* revokedAt = nullptr;
    ASN1_GENERALIZEDTIME* thisUpdate = nullptr;
    ASN1_GENERALIZEDTIME* nextUpdate = nullptr;
    if (OCSP_resp_find_status(basic.get(), id, &status, &reason, &revokedAt, &thisUpdate, &nextUpdate) != 1)
        return failed(unusable(url, u"it says nothing about this certificate"_s));
    const long maxAge = nonce == 1 || nextUpdate ? -1 : unechoedMaxAge;
    const int current = OCSP_check_validity(thisUpdate, nextUpdate, skewSeconds, maxAge);
    ERR_clear_error();
    if (current != 1)
        return failed(unusable(url, u"it is out of date"_s));
    if (status == V_OCSP_CERTSTATUS_REVOKED)
        return { Outcome::Kind::revoked, {}, {} };
    if (status != V_OCSP_CERTSTATUS_GOOD)
        return failed(unusable(url, u"the service doesn't know the certificate"_s));
    return { Outcome::Kind::good, nextUpdate ? dateOf(nextUpdate) : QDateTime(), {} };
}

// Asks the responder at `url` about `certificate`.
Outcome query(const QString& url, X509* certificate, X509* issuer, Clock::time_point deadline)
{
    if (Clock::now() >= deadline)
        return failed(late(url));
    int tls = 0;
    char* host = nullptr;
    char* port = nullptr;
    char* path = nullptr;
    const bool parsed = OSSL_HTTP_parse_url(url.toUtf8().constData(), &tls, nullptr, &host, &port, nullptr,
                            &path, nullptr, nullptr)
        == 1;
    ERR_clear_error();
    const TextPtr hostOwner(host);
    const TextPtr portOwner(port);
    const TextPtr pathOwner(path);
    if (!parsed)
        return failed(unreachable(url, u"the address can't be read"_s));
    if (tls)
        return failed(unreachable(url, u"only plain HTTP revocation services are supported"_s));

    const OcspIdPtr id(OCSP_cert_to_id(EVP_sha1(), certificate, issuer));
    OcspRequestPtr request(OCSP_REQUEST_new());
    OCSP_CERTID* requested = id ? OCSP_CERTID_dup(id.get()) : nullptr;
    if (!request || !requested || !OCSP_request_add0_id(request.get(), requested)) {
        OCSP_CERTID_free(requested);
        ERR_clear_error();
        return failed(unreachable(url, u"the request couldn't be made"_s));
    }
    if (OCSP_request_add1_nonce(request.get(), nullptr, -1) != 1) {
        ERR_clear_error();
        return failed(unreachable(url, u"the request couldn't be made"_s));
    }

    const auto lookup = lookUp(host, port, deadline);
    if (!lookup)
        return failed(late(url));
    if (lookup->error != 0)
        return failed(unreachable(url, u"the name %1 didn't resolve"_s.arg(QString::fromUtf8(host))));
    QString why = u"the name %1 has no address"_s.arg(QString::fromUtf8(host));
    const int fd = connectTo(lookup->addresses, deadline, why);
    if (fd < 0)
        return failed(why.isEmpty() ? late(url) : unreachable(url, why));
    OcspResponsePtr response;
    if (auto lost = exchange(fd, url, host, port, path, request.get(), deadline, response))
        return failed(std::move(*lost));
    return judge(url, response.get(), request.get(), id.get(), issuer);
}

// The OCSP responders a certificate names, plain text.
QStringList respondersOf(X509* certificate)
{
    QStringList out;
    STACK_OF(OPENSSL_STRING)* urls = X509_get1_ocsp(certificate);
    for (int i = 0; i < sk_OPENSSL_STRING_num(urls); ++i)
        out.append(QString::fromUtf8(sk_OPENSSL_STRING_value(urls, i)));
    X509_email_free(urls);
    return out;
}

bool selfIssued(X509* certificate)
{
    return X509_NAME_cmp(X509_get_issuer_name(certificate), X509_get_subject_name(certificate)) == 0;
}

std::optional<bool> rememberedRevoked(const QByteArray& key)
{
    AnswerCache& answers = cache();
    const std::lock_guard lock(answers.mutex);
    const auto found = answers.answers.find(key);
    if (found == answers.answers.end())
        return std::nullopt;
    if (found->second.revoked)
        return true;
    if (found->second.goodUntil > QDateTime::currentDateTimeUtc())
        return false;
    answers.answers.erase(found);
    return std::nullopt;
}

void remember(const QByteArray& key, const Outcome& outcome)
{
    const bool revoked = outcome.kind == Outcome::Kind::revoked;
    if (!revoked && !outcome.goodUntil.isValid())
        return;
    AnswerCache& answers = cache();
    const std::lock_guard lock(answers.mutex);
    answers.answers[key] = { revoked, outcome.goodUntil };
}

} // namespace

RevocationChecker::RevocationChecker(std::chrono::milliseconds deadline)
    : m_deadline(Clock::now() + deadline)
{
}

bool RevocationChecker::passes(const std::vector<Certificate>& chain)
{
    for (std::size_t i = 0; i < chain.size(); ++i) {
        X509* certificate = chain[i].get();
        if (selfIssued(certificate))
            break;
        const QStringList urls = respondersOf(certificate);
        if (urls.isEmpty())
            continue;
        const QByteArray key = Digest::of(HashType::sha256, ByteView(derOf(certificate)));
        if (const auto revoked = rememberedRevoked(key)) {
            if (*revoked)
                return false;
            continue;
        }
        if (m_unanswered.count(key))
            continue;
        QString note;
        if (i + 1 == chain.size()) {
            note = u"Couldn't check whether the certificate is revoked because its issuer isn't among the "
                   u"signature's certificates"_s
                + accepted;
        } else {
            Outcome outcome;
            for (const QString& url : urls) {
                outcome = query(url, certificate, chain[i + 1].get(), m_deadline);
                if (outcome.kind != Outcome::Kind::failed)
                    break;
            }
            if (outcome.kind != Outcome::Kind::failed) {
                remember(key, outcome);
                if (outcome.kind == Outcome::Kind::revoked)
                    return false;
                continue;
            }
            note = outcome.note;
        }
        m_unanswered.insert(key);
        if (!m_note)
            m_note = note;
    }
    return true;
}

} // namespace corvanta::codesign
