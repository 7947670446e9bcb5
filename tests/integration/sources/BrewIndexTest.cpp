#include "sources/BrewIndex.h"

#include "demo/Files.h"
#include "platform/HostInfo.h"
#include "sources/CheckError.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/TestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {
namespace {

using demo::readFile;
using demo::writeFile;
using test::await;
using test::Response;
using test::TestServer;

const QString indexPath = u"/api/cask.json"_s;

// Two casks that install "Notes.app" (a plain and a beta edition) and one
// whose Apple-silicon download on Sequoia differs from the default.
const QByteArray indexBody = R"([
        {"token":"notes","version":"2.0,200","url":"https://e.com/Notes-2.0.zip","sha256":"aa",
         "homepage":"https://github.com/example/notes","artifacts":[{"app":["Notes.app"]},
         {"zap":[{"trash":["~/Library/Preferences/com.example.notes.plist"]}]}]},
        {"token":"notes@beta","version":"2.1b1","artifacts":[{"app":["Notes.app"]},{"uninstall":[{"quit":"com.example.notes"}]}]},
        {"token":"split","version":"5.0","url":"https://e.com/split-intel.dmg",
         "artifacts":[{"app":["Split.app"]}],
         "variations":{"arm64_sequoia":{"url":"https://e.com/split-arm.dmg","sha256":"arm"}}}
    ])";

const QByteArray otherBody = R"([{"token":"other","version":"1","artifacts":[{"app":["Other.app"]}]}])";

QString errorOf(QCoro::Task<> task)
{
    try {
        await(std::move(task));
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"(no error)"_s;
}

class BrewIndexTest : public testing::Test {
protected:
    QString cacheDir() const { return m_dir.filePath(u"Caches/com.brenmoral.corvanta"_s); }
    QString bodyFile() const { return cacheDir() + u"/cask.json"_s; }
    QString validatorFile() const { return cacheDir() + u"/cask.json.validator"_s; }

    // A new index, as after a restart; the disk cache is shared between them.
    std::unique_ptr<BrewIndex> makeIndex(bool withCache = true)
    {
        return std::make_unique<BrewIndex>(m_net, m_server.url(indexPath),
            withCache ? std::optional<QString>(cacheDir()) : std::nullopt, m_host, [this] { return m_now; });
    }

    // Backdates the cache files so an unwanted rewrite shows in the times too.
    void backdateCache()
    {
        const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
        for (const QString& path : { bodyFile(), validatorFile() }) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
    }

    QDateTime modified(const QString& path) const { return QFileInfo(path).lastModified(); }

    TestServer m_server;
    Net m_net;
    FixedHostInfo m_host { SystemVersion { 15, 3, 0 }, true };
    QDateTime m_now { QDate(2025, 3, 1), QTime(9, 0), Qt::UTC };
    QTemporaryDir m_dir;
};

TEST_F(BrewIndexTest, ConcurrentLookupsShareOneDownload)
{
    m_server.on(indexPath, Response::json(indexBody));
    auto index = makeIndex();
    std::vector<QCoro::Task<std::optional<Cask>>> lookups;
    for (int i = 0; i < 8; ++i)
        lookups.push_back(index->cask(u"com.example.notes"_s, u"Notes.app"_s));
    lookups.push_back(index->cask(u"com.example.split"_s, u"Split.app"_s));
    std::vector<std::optional<Cask>> found;
    for (auto& lookup : lookups)
        found.push_back(await(std::move(lookup)));

    EXPECT_EQ(m_server.count(indexPath), 1);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(found[std::size_t(i)]);
        EXPECT_EQ(found[std::size_t(i)]->token, u"notes"_s);
    }
    ASSERT_TRUE(found[8]);
    // Apple silicon on 15.x takes the arm64_sequoia variation.
    EXPECT_EQ(found[8]->url, QUrl(u"https://e.com/split-arm.dmg"_s));
    EXPECT_EQ(found[8]->sha256, u"arm"_s);
    EXPECT_EQ(index->loadedAt(), m_now);
}

TEST_F(BrewIndexTest, ConcurrentCallersShareOneFailure)
{
    m_server.on(indexPath, Response::text("busy", 503));
    auto index = makeIndex();
    std::vector<QCoro::Task<>> loads;
    for (int i = 0; i < 5; ++i)
        loads.push_back(index->load());
    for (auto& load : loads)
        EXPECT_EQ(errorOf(std::move(load)), u"The server answered HTTP 503"_s);
    EXPECT_EQ(m_server.count(indexPath), 1);
    EXPECT_FALSE(index->loadedAt());

    // A failed load is not remembered: the next call tries again.
    m_server.on(indexPath, Response::json(indexBody));
    await(index->load());
    EXPECT_EQ(m_server.count(indexPath), 2);
    EXPECT_EQ(index->catalog()->casks.size(), 3u);
}

TEST_F(BrewIndexTest, LoadsAtMostHourly)
{
    m_server.on(indexPath, Response::json(indexBody));
    auto index = makeIndex();
    await(index->load());
    const QDateTime first = m_now;
    m_now = first.addSecs(3599);
    await(index->load());
    EXPECT_EQ(m_server.count(indexPath), 1);
    EXPECT_EQ(index->loadedAt(), first);

    m_now = first.addSecs(3600);
    await(index->load());
    EXPECT_EQ(m_server.count(indexPath), 2);
    EXPECT_EQ(index->loadedAt(), m_now);
}

TEST_F(BrewIndexTest, FailedLoadKeepsTheOldIndices)
{
    m_server.on(indexPath, Response::json(indexBody));
    auto index = makeIndex();
    await(index->load());
    const auto catalog = index->catalog();
    const QDateTime loadedAt = *index->loadedAt();

    m_now = m_now.addSecs(7200);
    for (const Response& failure :
        { Response::text("down", 500), Response::json("{\"not\":\"an array\"}") }) {
        m_server.on(indexPath, failure);
        EXPECT_NE(errorOf(index->load()), u"(no error)"_s);
        EXPECT_EQ(index->catalog(), catalog);
        EXPECT_EQ(index->loadedAt(), loadedAt);
        // While the index is stale every lookup tries again and reports the failure.
        EXPECT_THROW(await(index->cask(u"com.example.notes"_s, u"Notes.app"_s)), CheckError);
    }

    m_server.on(indexPath, Response::json(otherBody));
    await(index->load());
    EXPECT_NE(index->catalog(), catalog);
    EXPECT_EQ(index->catalog()->casks.size(), 1u);
}

TEST_F(BrewIndexTest, DownloadWritesBodyAndValidator)
{
    m_server.onConditional(indexPath, indexBody, "\"v1\"", "Sat, 01 Mar 2025 08:00:00 GMT");
    auto index = makeIndex();
    await(index->load());
    EXPECT_EQ(readFile(bodyFile()), indexBody);
    EXPECT_EQ(readFile(validatorFile()), QByteArray("\"v1\"\nSat, 01 Mar 2025 08:00:00 GMT"));
    const auto request = m_server.requests(indexPath).at(0);
    EXPECT_FALSE(request.hasHeader("If-None-Match"));
    EXPECT_FALSE(request.hasHeader("If-Modified-Since"));
    EXPECT_EQ(request.header("User-Agent"), Net::userAgent);
}

TEST_F(BrewIndexTest, NotModifiedUsesTheCachedCopyAndRewritesNothing)
{
    m_server.onConditional(indexPath, indexBody, "\"v1\"", "Sat, 01 Mar 2025 08:00:00 GMT");
    await(makeIndex()->load());
    backdateCache();
    const QDateTime bodyTime = modified(bodyFile());
    const QDateTime validatorTime = modified(validatorFile());

    auto restarted = makeIndex();
    const auto found = await(restarted->cask(u"com.example.notes"_s, u"notes.APP"_s));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->token, u"notes"_s);

    const auto request = m_server.requests(indexPath).at(1);
    EXPECT_EQ(request.header("If-None-Match"), QByteArray("\"v1\""));
    EXPECT_FALSE(request.hasHeader("If-Modified-Since"));
    EXPECT_EQ(readFile(bodyFile()), indexBody);
    EXPECT_EQ(readFile(validatorFile()), QByteArray("\"v1\"\nSat, 01 Mar 2025 08:00:00 GMT"));
    EXPECT_EQ(modified(bodyFile()), bodyTime);
    EXPECT_EQ(modified(validatorFile()), validatorTime);
}

TEST_F(BrewIndexTest, ConditionalHeadersFromTheValidator)
{
    struct Row {
        const char* name;
        std::optional<QByteArray> validator; // none: no validator file
        bool body; // whether cask.json exists
        QByteArray ifNoneMatch;
        QByteArray ifModifiedSince;
    };
    const std::vector<Row> rows {
        { "both lines", "\"e1\"\nMon, 03 Feb 2025 10:00:00 GMT", true, "\"e1\"", {} },
        { "empty etag", "\nMon, 03 Feb 2025 10:00:00 GMT", true, {}, "Mon, 03 Feb 2025 10:00:00 GMT" },
        { "empty date", "\"e2\"\n", true, "\"e2\"", {} },
        { "both empty", "\n", true, {}, {} },
        { "one line", "\"e3\"", true, {}, {} },
        { "three lines", "\"e4\"\nMon, 03 Feb 2025 10:00:00 GMT\n", true, {}, {} },
        { "empty file", "", true, {}, {} },
        { "no validator", std::nullopt, true, {}, {} },
        { "no cached body", "\"e5\"\nMon, 03 Feb 2025 10:00:00 GMT", false, {}, {} },
    };
    m_server.on(indexPath, Response::json(indexBody));
    ASSERT_TRUE(QDir().mkpath(cacheDir()));
    for (const Row& row : rows) {
        QFile::remove(bodyFile());
        QFile::remove(validatorFile());
        if (row.body)
            writeFile(bodyFile(), otherBody);
        if (row.validator)
            writeFile(validatorFile(), *row.validator);
        m_server.clearRequests();
        await(makeIndex()->load());
        ASSERT_EQ(m_server.count(indexPath), 1) << row.name;
        const auto request = m_server.requests(indexPath).at(0);
        EXPECT_EQ(request.hasHeader("If-None-Match"), !row.ifNoneMatch.isEmpty()) << row.name;
        EXPECT_EQ(request.header("If-None-Match"), row.ifNoneMatch) << row.name;
        EXPECT_EQ(request.hasHeader("If-Modified-Since"), !row.ifModifiedSince.isEmpty()) << row.name;
        EXPECT_EQ(request.header("If-Modified-Since"), row.ifModifiedSince) << row.name;
    }
}

TEST_F(BrewIndexTest, LastModifiedAloneRevalidates)
{
    m_server.onConditional(indexPath, indexBody, {}, "Sat, 01 Mar 2025 08:00:00 GMT");
    await(makeIndex()->load());
    EXPECT_EQ(readFile(validatorFile()), QByteArray("\nSat, 01 Mar 2025 08:00:00 GMT"));
    backdateCache();
    const QDateTime bodyTime = modified(bodyFile());
    auto restarted = makeIndex();
    await(restarted->load());
    EXPECT_EQ(restarted->catalog()->casks.size(), 3u);
    EXPECT_EQ(
        m_server.requests(indexPath).at(1).header("If-Modified-Since"), "Sat, 01 Mar 2025 08:00:00 GMT");
    EXPECT_EQ(modified(bodyFile()), bodyTime);
}

TEST_F(BrewIndexTest, CorruptBodyDeletesOnlyTheValidator)
{
    m_server.onConditional(indexPath, indexBody, "\"v1\"", {});
    await(makeIndex()->load());

    // A changed index that arrives broken: it is cached as received, the
    // validator goes, so the next request is unconditional.
    const QByteArray broken = indexBody.left(indexBody.size() / 2);
    m_server.onConditional(indexPath, broken, "\"v2\"", {});
    auto index = makeIndex();
    EXPECT_EQ(errorOf(index->load()), u"The cask index has an unexpected format"_s);
    EXPECT_FALSE(QFile::exists(validatorFile()));
    EXPECT_EQ(readFile(bodyFile()), broken);
    EXPECT_FALSE(index->loadedAt());

    m_server.onConditional(indexPath, indexBody, "\"v3\"", {});
    await(index->load());
    const auto last = m_server.requests(indexPath).constLast();
    EXPECT_FALSE(last.hasHeader("If-None-Match"));
    EXPECT_FALSE(last.hasHeader("If-Modified-Since"));
    EXPECT_EQ(readFile(validatorFile()), QByteArray("\"v3\"\n"));
}

TEST_F(BrewIndexTest, CorruptCachedCopyBehindNotModifiedDeletesOnlyTheValidator)
{
    ASSERT_TRUE(QDir().mkpath(cacheDir()));
    writeFile(bodyFile(), "[{\"token\":");
    writeFile(validatorFile(), "\"v1\"\n");
    backdateCache();
    const QDateTime bodyTime = modified(bodyFile());
    m_server.onConditional(indexPath, indexBody, "\"v1\"", {});
    EXPECT_EQ(errorOf(makeIndex()->load()), u"The cask index has an unexpected format"_s);
    EXPECT_FALSE(QFile::exists(validatorFile()));
    EXPECT_EQ(readFile(bodyFile()), QByteArray("[{\"token\":"));
    EXPECT_EQ(modified(bodyFile()), bodyTime);
    // Unconditional now, so the good index comes back.
    await(makeIndex()->load());
    EXPECT_EQ(readFile(bodyFile()), indexBody);
}

TEST_F(BrewIndexTest, NotModifiedWithoutACopyIsAnHttpError)
{
    m_server.on(indexPath, Response::notModified());
    EXPECT_EQ(errorOf(makeIndex()->load()), u"The server answered HTTP 304"_s);
}

TEST_F(BrewIndexTest, UnreadableDiskCacheStillUsesTheDownload)
{
    // A file where the cache folder should be: nothing can be written there.
    writeFile(m_dir.filePath(u"Caches"_s), "in the way");
    m_server.on(indexPath, Response::json(indexBody));
    auto index = makeIndex();
    await(index->load());
    EXPECT_EQ(index->catalog()->casks.size(), 3u);
    EXPECT_FALSE(QFile::exists(bodyFile()));
}

TEST_F(BrewIndexTest, WithoutCacheFolderNothingIsWritten)
{
    m_server.on(indexPath, Response::json(indexBody));
    auto index = makeIndex(false);
    await(index->load());
    EXPECT_EQ(index->catalog()->casks.size(), 3u);
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
    m_server.on(indexPath, Response::text("gone", 404));
    m_now = m_now.addSecs(3601);
    EXPECT_EQ(errorOf(index->load()), u"The server answered HTTP 404"_s);
}

TEST_F(BrewIndexTest, TransportFailureIsReported)
{
    quint16 closedPort = 0;
    {
        TestServer gone;
        closedPort = gone.port();
    }
    QUrl url = m_server.url(indexPath);
    url.setPort(closedPort);
    BrewIndex index(m_net, url, cacheDir(), m_host, [this] { return m_now; });
    const QString error = errorOf(index.load());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_NE(error, u"(no error)"_s);
    EXPECT_FALSE(error.startsWith(u"The server answered HTTP"_s)) << error.toStdString();
}

TEST_F(BrewIndexTest, AdoptedBodyAnswersLookupsWithoutNetwork)
{
    auto index = makeIndex();
    await(index->adopt(indexBody));
    const auto found = await(index->cask(u"com.example.unknown"_s, u"Split.app"_s));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->token, u"split"_s);
    EXPECT_EQ(await(index->caskNamed(u"notes@beta"_s))->version, u"2.1b1"_s);
    EXPECT_EQ(m_server.count(indexPath), 0);
    EXPECT_THROW(await(index->adopt("nope")), CheckError);
}

} // namespace
} // namespace corvanta
