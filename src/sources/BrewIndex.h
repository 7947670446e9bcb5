#pragma once

#include "sources/CaskCatalog.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

namespace corvanta {

class HostInfo;
class Net;
struct Endpoints;

// The one shared Homebrew cask index. Lives on the main thread; loads at most
// hourly, keeps a copy on disk with its HTTP validators so an unchanged index
// costs one conditional request, and lets concurrent callers share one load.
class BrewIndex : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // `cache` is the folder for "cask.json" and its validator; without one
    // every load downloads the whole index.
    BrewIndex(Net& net, QUrl url, std::optional<QString> cache, const HostInfo& host,
        Clock clock = &QDateTime::currentDateTimeUtc, QObject* parent = nullptr);
    ~BrewIndex() override;

    // "api/cask.json" under the brew base.
    static QUrl indexURL(const Endpoints& endpoints);

    // The best cask for the app, or none; loads the index first (its errors
    // are CheckErrors and propagate).
    QCoro::Task<std::optional<Cask>> cask(QString bundleID, QString fileName);
    // The cask named `token`, or none; loads the index first.
    QCoro::Task<std::optional<Cask>> caskNamed(QString token);

    // Makes sure the indices are at most an hour old. Callers arriving while a
    // load runs wait for it and get its outcome.
    QCoro::Task<> load();

    // Installs the indices of an index body read elsewhere (a file), as a
    // successful load would. Throws CheckError for a body of the wrong format.
    QCoro::Task<> adopt(QByteArray body);

    const QUrl& url() const { return m_url; }
    const std::optional<QString>& cache() const { return m_cache; }
    const std::optional<QString>& variationKey() const { return m_variationKey; }
    std::optional<QDateTime> loadedAt() const { return m_loadedAt; }
    // The indices of the last successful load; empty before the first.
    std::shared_ptr<const CaskCatalog> catalog() const { return m_catalog; }

    static constexpr std::chrono::seconds maxAge { 3600 };
    static inline const QString bodyFile = QStringLiteral("cask.json");
    static inline const QString validatorFile = QStringLiteral("cask.json.validator");

Q_SIGNALS:
    // A load ended, successfully or not.
    void loadFinished();

private:
    struct Load;

    QCoro::Task<> run(std::shared_ptr<Load> load);
    void install(std::shared_ptr<const CaskCatalog> catalog);

    Net& m_net;
    QUrl m_url;
    std::optional<QString> m_cache;
    std::optional<QString> m_variationKey;
    Clock m_clock;
    std::shared_ptr<const CaskCatalog> m_catalog;
    std::optional<QDateTime> m_loadedAt;
    std::shared_ptr<Load> m_loading;
};

} // namespace corvanta
