#pragma once

#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

class QNetworkReply;

namespace corvanta {

// The process's one HTTP session: ephemeral (cookies kept in memory only, no
// cache), "User-Agent: Corvanta/1.0 (macOS)" on every request, 20-second idle
// timeout unless a request sets its own. Lives on the main thread; created
// once by the composition root and passed to whatever makes requests.
class Net {
public:
    Net();
    ~Net();
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    QNetworkAccessManager& session() { return *m_session; }

    // GET `url` and return its body; throws CheckError for a status outside
    // 2xx (with GitHub's rate-limit text for an exhausted 403) and for
    // transport failures.
    QCoro::Task<QByteArray> get(QUrl url, std::optional<QString> accept = std::nullopt);

    // The CheckError text for a reply that ended without a 2xx status.
    static QString failureText(QNetworkReply& reply);

    static constexpr int requestTimeoutMs = 60'000;
    static constexpr int sessionTimeoutMs = 20'000;
    static inline const QByteArray userAgent = QByteArrayLiteral("Corvanta/1.0 (macOS)");

private:
    std::unique_ptr<QNetworkAccessManager> m_session;
};

} // namespace corvanta
