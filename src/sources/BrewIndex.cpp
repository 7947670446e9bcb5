#include "sources/BrewIndex.h"

#include "platform/HostInfo.h"
#include "sources/CheckError.h"
#include "sources/Endpoints.h"
#include "sources/Net.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroSignal>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFuture>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(logBrew, "corvanta.sources.brew", QtWarningMsg)

const QString formatError = QStringLiteral("The cask index has an unexpected format");

// What a download needs, copied so it never reads the index object after
// a suspension (the index may be gone by then).
struct Source {
    Net* net;
    QUrl url;
    std::optional<QString> cache;
};

bool writeAtomically(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Separate parameters: GCC 12 destroys a braced aggregate argument of a
// coroutine twice.
QCoro::Task<QByteArray> download(Net* net, QUrl url, std::optional<QString> cache)
{
    const Source source { net, std::move(url), std::move(cache) };
    if (!source.cache)
        co_return co_await source.net->get(source.url);

    const QDir folder(*source.cache);
    const QString bodyPath = folder.filePath(BrewIndex::bodyFile);
    const QString validatorPath = folder.filePath(BrewIndex::validatorFile);

    QNetworkRequest request(source.url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(Net::requestTimeoutMs);
    if (QFile::exists(bodyPath)) {
        QFile validator(validatorPath);
        if (validator.open(QIODevice::ReadOnly)) {
            // Two lines, ETag then Last-Modified; anything else is not ours to trust.
            const QStringList lines = QString::fromUtf8(validator.readAll()).split(u'\n');
            if (lines.size() == 2) {
                // Servers that send both expect the ETag to decide; never send both.
                if (!lines[0].isEmpty())
                    request.setRawHeader("If-None-Match", lines[0].toUtf8());
                else if (!lines[1].isEmpty())
                    request.setRawHeader("If-Modified-Since", lines[1].toUtf8());
            }
        }
    }

    ReplyPtr reply(co_await source.net->session().get(request));
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;

    if (status == 304) {
        QFile cached(bodyPath);
        if (cached.open(QIODevice::ReadOnly)) {
            qCDebug(logBrew) << "index unchanged; using the copy on disk";
            co_return cached.readAll();
        }
    }
    // No response at all (refused, offline, timed out): the transport's own words.
    if (!statusAttribute.isValid() && reply->error() != QNetworkReply::NoError)
        throw CheckError(Net::failureText(*reply));
    if (status < 200 || status > 299)
        throw CheckError(u"The server answered HTTP %1"_s.arg(status));
    // A 2xx whose body broke off is no index.
    if (reply->error() != QNetworkReply::NoError)
        throw CheckError(Net::failureText(*reply));

    const QByteArray body = reply->readAll();
    // Caching is an optimisation: a disk that refuses it costs a full download next time.
    if (QDir().mkpath(*source.cache) && writeAtomically(bodyPath, body)) {
        const QByteArray validator = reply->rawHeader("ETag") + '\n' + reply->rawHeader("Last-Modified");
        writeAtomically(validatorPath, validator);
    }
    co_return body;
}

QCoro::Task<std::shared_ptr<const CaskCatalog>> parseOffThread(QByteArray body, std::optional<QString> key)
{
    // A shared pointer crosses the future: the catalog is never copied. The
    // lambda and future are named: GCC 12 destroys temporaries of a co_await
    // expression twice.
    auto parse = [body = std::move(body), key = std::move(key)]() mutable {
        QElapsedTimer timer;
        timer.start();
        CaskCatalog::makeRoom(body);
        std::optional<CaskCatalog> catalog = CaskCatalog::parse(body, key);
        qCDebug(logBrew) << "parsed" << body.size() << "bytes in" << timer.elapsed() << "ms";
        return catalog ? std::make_shared<const CaskCatalog>(std::move(*catalog))
                       : std::shared_ptr<const CaskCatalog>();
    };
    QFuture<std::shared_ptr<const CaskCatalog>> parsing = QtConcurrent::run(std::move(parse));
    co_return co_await parsing;
}

} // namespace

struct BrewIndex::Load {
    bool done = false;
    std::exception_ptr error;
};

BrewIndex::BrewIndex(
    Net& net, QUrl url, std::optional<QString> cache, const HostInfo& host, Clock clock, QObject* parent)
    : QObject(parent)
    , m_net(net)
    , m_url(std::move(url))
    , m_cache(std::move(cache))
    , m_variationKey(Cask::variationKey(host.isAppleSilicon(), host.systemVersion().major))
    , m_clock(std::move(clock))
    , m_catalog(std::make_shared<const CaskCatalog>())
{
}

BrewIndex::~BrewIndex() = default;

QUrl BrewIndex::indexURL(const Endpoints& endpoints)
{
    return appendPath(endpoints.brew, u"api/cask.json"_s);
}

QCoro::Task<std::optional<Cask>> BrewIndex::cask(QString bundleID, QString fileName)
{
    co_await load();
    co_return m_catalog->find(bundleID, fileName);
}

QCoro::Task<std::optional<Cask>> BrewIndex::caskNamed(QString token)
{
    co_await load();
    co_return m_catalog->token(token);
}

QCoro::Task<> BrewIndex::load()
{
    if (m_loadedAt && m_loadedAt->msecsTo(m_clock()) < std::chrono::milliseconds(maxAge).count())
        co_return;
    std::shared_ptr<Load> load = m_loading;
    if (!load) {
        load = std::make_shared<Load>();
        m_loading = load;
        // Runs on by itself; every caller, this one included, waits for its signal.
        run(load);
    }
    while (!load->done)
        co_await qCoro(this, &BrewIndex::loadFinished);
    if (load->error)
        std::rethrow_exception(load->error);
}

QCoro::Task<> BrewIndex::run(std::shared_ptr<Load> load)
{
    QPointer<BrewIndex> self(this);
    const std::optional<QString> key = m_variationKey;
    const std::optional<QString> cache = m_cache;
    try {
        QByteArray body = co_await download(&m_net, m_url, m_cache);
        const std::shared_ptr<const CaskCatalog> catalog = co_await parseOffThread(std::move(body), key);
        if (!catalog) {
            // The next download must not be conditional, or a bad copy would stick.
            if (cache)
                QFile::remove(QDir(*cache).filePath(validatorFile));
            throw CheckError(formatError);
        }
        if (self)
            self->install(catalog);
    } catch (...) {
        load->error = std::current_exception();
    }
    load->done = true;
    if (!self)
        co_return;
    if (m_loading == load)
        m_loading.reset();
    Q_EMIT loadFinished();
}

QCoro::Task<> BrewIndex::adopt(QByteArray body)
{
    QPointer<BrewIndex> self(this);
    const std::shared_ptr<const CaskCatalog> catalog
        = co_await parseOffThread(std::move(body), m_variationKey);
    if (!catalog)
        throw CheckError(formatError);
    if (self)
        self->install(catalog);
}

void BrewIndex::install(std::shared_ptr<const CaskCatalog> catalog)
{
    // Replaced whole: lookups in flight keep the catalog they started with.
    m_catalog = std::move(catalog);
    m_loadedAt = m_clock();
    qCDebug(logBrew) << "cask index ready:" << m_catalog->casks.size() << "casks";
}

} // namespace corvanta
