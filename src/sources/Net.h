#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

class QNetworkReply;

namespace corvanta {

// The process's one HTTP session: ephemeral (cookies kept in memory only, no
// cache, no stored credentials), "User-Agent: Corvanta/1.0 (macOS)" on every
// request, a 20-second idle timeout unless a request sets its own. Lives on
// the main thread; created once by the composition root and passed to
// whatever makes requests.
class Net {
public:
    Net();
    ~Net();
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    QNetworkAccessManager& session() { return *m_session; }

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

    static constexpr int requestTimeoutMs = 60'000;
    static constexpr int sessionTimeoutMs = 20'000;
    static inline const QByteArray userAgent = QByteArrayLiteral("Corvanta/1.0 (macOS)");

private:
    std::unique_ptr<QNetworkAccessManager> m_session;
};

// Owns a reply and releases it with deleteLater(): a reply must not be
// deleted inside its own finished() signal, which is where co_await resumes.
struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const;
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

} // namespace corvanta
