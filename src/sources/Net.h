#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

class QNetworkCookieJar;
class QNetworkReply;

namespace corvanta {

// The process's one HTTP session: ephemeral (cookies kept in memory only, no
// cache, no stored credentials), "User-Agent: Corvanta/1.0 (macOS)" on every
// request, a 20-second idle timeout unless a request sets its own. Lives on
// the main thread; created once by the composition root and passed to
// whatever makes requests.
//
// Qt opens at most six connections per host for one access manager, fewer
// than the checks that run at once; `get` spreads its requests over a pool
// of managers that share one cookie jar, so every check has a connection of
// its own. Connections are kept alive, and HTTP/2 is used where the server
// offers it.
class Net {
public:
    Net();
    ~Net();
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    // The manager of the pool for requests made outside `get` (downloads,
    // the account's calls).
    QNetworkAccessManager& session() { return *m_pool.front(); }

    // GET `url` (http or https only) and return its body. Throws CheckError
    // for a status outside 2xx (GitHub's rate-limit text for an exhausted
    // 403), for a transfer that broke off, and for transport failures.
    QCoro::Task<QByteArray> get(QUrl url, std::optional<QString> accept = std::nullopt);

    // Whether a finished reply delivered its whole body with a 2xx status
    // (or, for a response that isn't HTTP, without error).
    static bool succeeded(QNetworkReply& reply);
    // The CheckError text for a finished reply that did not succeed.
    static QString failureText(QNetworkReply& reply);
    // Whether `received` body bytes are all the server announced. Qt takes a
    // connection closed before Content-Length bytes for a normal end.
    static bool bodyComplete(QNetworkReply& reply, qint64 received);
    static inline const QString connectionLost = QStringLiteral("The network connection was lost.");

    // Enough connections per host for this many requests at once (the check
    // limit); Qt gives one manager six.
    static constexpr int concurrency = 8;
    static constexpr int requestTimeoutMs = 60'000;
    static constexpr int sessionTimeoutMs = 20'000;
    static inline const QByteArray userAgent = QByteArrayLiteral("Corvanta/1.0 (macOS)");

private:
    // The manager with the fewest of `get`'s requests in flight.
    std::size_t leastBusy() const;

    std::unique_ptr<QNetworkCookieJar> m_cookies;
    std::vector<std::unique_ptr<QNetworkAccessManager>> m_pool;
    std::vector<int> m_inFlight; // per manager of the pool
};

// Owns a reply and releases it with deleteLater(): a reply must not be
// deleted inside its own finished() signal, which is where co_await resumes.
struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const;
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

} // namespace corvanta
