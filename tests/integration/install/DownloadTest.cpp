#include "install/Updater.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/TestServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::Response;

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char& c : data)
        c = char(generator.bounded(256));
    return data;
}

const QString tooLarge = u"The download is larger than 4 GB, far bigger than any app. Stopped."_s;

class DownloadTest : public testing::Test {
protected:
    struct Outcome {
        std::optional<Downloaded> saved;
        std::optional<QString> error;
        QList<double> progress;
    };

    Outcome fetch(const QUrl& url, std::optional<qint64> expected = std::nullopt)
    {
        Outcome outcome;
        try {
            outcome.saved = test::await(Updater::download(m_net.session(), url, expected, m_work.path(),
                [&outcome](double fraction) { outcome.progress.append(fraction); }));
        } catch (const UpdateError& error) {
            outcome.error = error.description();
            EXPECT_FALSE(error.needsPermission());
            EXPECT_FALSE(error.final());
        }
        return outcome;
    }

    QStringList workEntries() const
    {
        return QDir(m_work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    test::TestServer m_server;
    Net m_net;
    QTemporaryDir m_work;
};

TEST_F(DownloadTest, StreamsTheBodyIntoTheWorkFolderWithProgress)
{
    const QByteArray body = randomBytes(3 * 1024 * 1024 + 7);
    m_server.on(u"/files/Foo-2.0.zip"_s,
        Response { .body = body, .chunkSize = 256 * 1024, .chunkInterval = std::chrono::milliseconds(5) });
    const Outcome outcome = fetch(m_server.url(u"/files/Foo-2.0.zip?token=1"_s), body.size());
    ASSERT_FALSE(outcome.error) << outcome.error->toStdString();
    EXPECT_EQ(outcome.saved->path, m_work.filePath(u"Foo-2.0.zip"_s));
    EXPECT_EQ(outcome.saved->announced, body.size());
    QFile file(outcome.saved->path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == body);
    // Hashed as it arrived, so verification needn't read the file again.
    EXPECT_EQ(outcome.saved->sha256,
        QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(workEntries(), QStringList { u"Foo-2.0.zip"_s });
    ASSERT_FALSE(outcome.progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
    EXPECT_EQ(outcome.progress.last(), 1.0);
    EXPECT_GT(outcome.progress.size(), 2);
    // The file is the file: no transfer encoding for Qt to undo.
    EXPECT_EQ(m_server.requests().first().header("Accept-Encoding"), "identity");
}

TEST_F(DownloadTest, NamesTheFileAfterTheServerOrElseDownload)
{
    m_server.on(u"/get"_s,
        Response::text("zip").withHeader("Content-Disposition", "attachment; filename=\"Foo 3.zip\""));
    m_server.on(u"/"_s, Response::text("zip"));
    m_server.on(u"/sneaky"_s,
        Response::text("zip").withHeader("Content-Disposition", "attachment; filename=\"../../x.zip\""));
    EXPECT_EQ(fetch(m_server.url(u"/get"_s)).saved->path, m_work.filePath(u"Foo 3.zip"_s));
    EXPECT_EQ(fetch(m_server.url(u"/"_s)).saved->path, m_work.filePath(u"download"_s));
    EXPECT_EQ(fetch(m_server.url(u"/sneaky"_s)).saved->path, m_work.filePath(u"x.zip"_s));
}

TEST_F(DownloadTest, StopsWhenTheAnnouncedLengthIsWrongOrTooLarge)
{
    const QByteArray big = randomBytes(2 * 1024 * 1024);
    struct Row {
        const char* name;
        Response response;
        std::optional<qint64> expected;
        QString error;
    };
    const std::vector<Row> rows {
        { "one byte more than stated", Response { .body = QByteArray(1001, 'x') }, 1000,
            u"The server is sending 1001 bytes, but the source says the download is 1000. Stopped."_s },
        { "fewer than stated", Response { .body = QByteArray(1000, 'x') }, 1001,
            u"The server is sending 1000 bytes, but the source says the download is 1001. Stopped."_s },
        { "a large body that isn't the stated one",
            Response { .body = big, .chunkSize = 64 * 1024, .chunkInterval = std::chrono::milliseconds(20) },
            5'000'000,
            u"The server is sending 2097152 bytes, but the source says the download is 5000000. Stopped."_s },
        { "4 GiB and a byte announced",
            Response { .body = big, .contentLength = Updater::maxDownloadSize + 1 }, std::nullopt, tooLarge },
        { "4 GiB and a byte announced with a stated size to match",
            Response { .body = big, .contentLength = Updater::maxDownloadSize + 1 },
            Updater::maxDownloadSize + 1, tooLarge },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_server.on(u"/f.zip"_s, row.response);
        const Outcome outcome = fetch(m_server.url(u"/f.zip"_s), row.expected);
        EXPECT_EQ(outcome.error, row.error);
        EXPECT_TRUE(workEntries().isEmpty()) << workEntries().join(u", "_s).toStdString();
        // Stopped at the headers, or at the first progress at the latest, not after the dripping body.
        EXPECT_LE(outcome.progress.size(), 1);
    }
}

TEST_F(DownloadTest, AllowsExactlyFourGibibytesAndUnknownLengths)
{
    // The server announces 4 GiB but closes after a few bytes: the cap lets it
    // through, and what ends it is the short body.
    m_server.on(u"/huge.zip"_s, Response { .body = "short", .contentLength = Updater::maxDownloadSize });
    for (const std::optional<qint64> expected :
        { std::optional<qint64>(), std::optional(Updater::maxDownloadSize) }) {
        const Outcome outcome = fetch(m_server.url(u"/huge.zip"_s), expected);
        ASSERT_TRUE(outcome.error);
        EXPECT_TRUE(outcome.error->startsWith(u"Download failed: "_s)) << outcome.error->toStdString();
        EXPECT_NE(*outcome.error, tooLarge);
        EXPECT_TRUE(workEntries().isEmpty());
    }

    // Neither the source nor the server says how long: the body decides.
    const QByteArray body = randomBytes(300'000);
    m_server.on(u"/unknown.zip"_s, Response { .body = body, .omitContentLength = true });
    for (const std::optional<qint64> expected :
        { std::optional<qint64>(), std::optional<qint64>(0), std::optional<qint64>(12) }) {
        const Outcome outcome = fetch(m_server.url(u"/unknown.zip"_s), expected);
        ASSERT_FALSE(outcome.error) << outcome.error->toStdString();
        EXPECT_EQ(outcome.saved->announced, -1);
        EXPECT_EQ(QFileInfo(outcome.saved->path).size(), body.size());
        QFile::remove(outcome.saved->path);
    }
}

TEST_F(DownloadTest, ReportsFailuresInTheirOwnWords)
{
    m_server.on(u"/start"_s, Response::redirect(u"/elsewhere/missing.zip"_s));
    m_server.on(u"/broken"_s, Response::text("oops", 500));
    m_server.on(u"/dropped.zip"_s, Response { .body = randomBytes(500'000), .closeAfter = 100'000 });
    // The redirect's own small body and length must not count as the download's.
    m_server.on(u"/moved"_s, Response::redirect(u"/real.zip"_s).withHeader("Content-Type", "text/plain"));
    m_server.on(u"/real.zip"_s, Response { .body = QByteArray(4000, 'z') });

    EXPECT_EQ(fetch(m_server.url(u"/start"_s)).error, u"Download failed: HTTP 404."_s);
    EXPECT_EQ(fetch(m_server.url(u"/broken"_s)).error, u"Download failed: HTTP 500."_s);
    const Outcome dropped = fetch(m_server.url(u"/dropped.zip"_s), 500'000);
    ASSERT_TRUE(dropped.error);
    EXPECT_TRUE(dropped.error->startsWith(u"Download failed: "_s)) << dropped.error->toStdString();
    EXPECT_FALSE(dropped.error->contains(u"HTTP"_s)) << dropped.error->toStdString();
    EXPECT_TRUE(workEntries().isEmpty());

    // A body cut short is a failure however Qt happens to notice the close.
    m_server.on(u"/short.zip"_s, Response { .body = QByteArray(500, 's'), .contentLength = 1000 });
    for (int i = 0; i < 5; ++i) {
        const Outcome cut = fetch(m_server.url(u"/short.zip"_s));
        ASSERT_TRUE(cut.error) << "attempt " << i;
        EXPECT_TRUE(cut.error->startsWith(u"Download failed: "_s)) << cut.error->toStdString();
        EXPECT_TRUE(workEntries().isEmpty());
    }

    const Outcome moved = fetch(m_server.url(u"/moved"_s), 4000);
    ASSERT_FALSE(moved.error) << moved.error->toStdString();
    EXPECT_EQ(moved.saved->path, m_work.filePath(u"real.zip"_s));

    // Nobody listens on a port just closed.
    quint16 port = 0;
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        port = closed.serverPort();
    }
    const Outcome refused = fetch(QUrl(u"http://127.0.0.1:%1/x.zip"_s.arg(port)));
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(refused.error->startsWith(u"Download failed: "_s)) << refused.error->toStdString();
}

TEST_F(DownloadTest, RefusesLinksThatAreNotWebAddressesBeforeAnyRequest)
{
    for (const char* link :
        { "ftp://127.0.0.1/Foo.zip", "file:///etc/passwd", "FILE:///etc/passwd", "data:,x", "Foo.zip", "" }) {
        SCOPED_TRACE(link);
        EXPECT_EQ(fetch(QUrl(QString::fromLatin1(link))).error, u"The download link isn't a web address."_s);
    }
    EXPECT_TRUE(m_server.requests().isEmpty());
    EXPECT_TRUE(workEntries().isEmpty());

    // Nor does a redirect lead there.
    m_server.on(u"/to-file"_s, Response::redirect(u"file:///etc/passwd"_s));
    m_server.on(u"/to-ftp"_s, Response::redirect(u"ftp://127.0.0.1/Foo.zip"_s));
    for (const QString& path : { u"/to-file"_s, u"/to-ftp"_s }) {
        const Outcome outcome = fetch(m_server.url(path));
        ASSERT_TRUE(outcome.error) << path.toStdString();
        EXPECT_TRUE(outcome.error->startsWith(u"Download failed"_s)) << outcome.error->toStdString();
        EXPECT_TRUE(workEntries().isEmpty());
    }
}

} // namespace
} // namespace corvanta
