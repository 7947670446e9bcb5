#include "install/Updater.h"
#include "support/InstallFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

const QString realworld = QStringLiteral(CORVANTA_REALWORLD);
const QString unsupported = u"Unsupported download format. Corvanta installs from .zip and .dmg only."_s;
const QString noApp = u"The download doesn't contain an app."_s;

class ExtractTest : public testing::Test {
protected:
    ExtractTest()
        : m_work(Updater::makeWorkFolder())
    {
    }

    // The download as it lands in the work folder, under `name`.
    QString download(const QString& source, const QString& name)
    {
        const QString path = m_work + u'/' + name;
        EXPECT_TRUE(QFile::copy(source, path));
        return path;
    }

    Extracted extract(const QString& file, const QString& bundleID)
    {
        const Updater updater(m_services.services(), m_sandbox.applications(), m_sandbox.trash());
        return updater.extract(file, m_work, bundleID);
    }

    std::optional<QString> refusal(const QString& file, const QString& bundleID = u"com.example.foo"_s)
    {
        try {
            extract(file, bundleID);
        } catch (const UpdateError& error) {
            return error.description();
        }
        return std::nullopt;
    }

    // The image is detached: nothing mounted, nothing of it left in the
    // temporary folder beside the work folder.
    void expectDetached()
    {
        EXPECT_TRUE(QDir(m_work + u"/mount"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
        const QStringList temporary
            = QDir(m_sandbox.temp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_EQ(temporary, QStringList { QFileInfo(m_work).fileName() });
    }

    test::InstallSandbox m_sandbox;
    test::TestServices m_services;
    QString m_work;
};

TEST_F(ExtractTest, RefusesATruncatedZip)
{
    const auto text
        = refusal(download(realworld + u"/zip/sparkle-SparkleTestCodeSignApp_bad_header.zip"_s, u"a.zip"_s));
    ASSERT_TRUE(text);
    // Cut at the front, the file no longer starts with a local header.
    EXPECT_EQ(*text, unsupported);

    // Cut at the end instead: a zip by its first bytes whose central directory is gone.
    QFile whole(realworld + u"/zip/sparkle-SparkleTestCodeSignApp.zip"_s);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QString cut = m_work + u"/cut.zip"_s;
    QFile out(cut);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(whole.read(whole.size() / 2));
    out.close();
    const auto cutText = refusal(cut);
    ASSERT_TRUE(cutText);
    EXPECT_TRUE(cutText->startsWith(u"ditto failed: "_s)) << cutText->toStdString();
}

TEST_F(ExtractTest, MountsDiskImagesWhateverTheirName)
{
    struct Row {
        QString image;
        QString name; // as downloaded
        QString app;
        bool agreement;
    };
    const std::vector<Row> rows {
        { u"sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg"_s, u"SparkleTestCodeSignApp.zip"_s,
            u"SparkleTestCodeSignApp.app"_s, true },
        { u"sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"_s, u"download"_s,
            u"SparkleTestCodeSignApp.app"_s, false },
        { u"sparkle-SparkleTestCodeSign_apfs_lzma_aux_files.lzma-gpt-apfs.dmg"_s, u"Sparkle.dmg"_s,
            u"SparkleTestCodeSignApp.app"_s, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.image.toStdString());
        const QString file = download(realworld + u"/dmg/"_s + row.image, row.name);
        const Extracted found = extract(file, u"org.sparkle-project.SparkleTestApp"_s);
        EXPECT_EQ(found.app, m_work + u"/extracted/"_s + row.app);
        EXPECT_EQ(found.agreement, row.agreement);
        EXPECT_TRUE(QFileInfo(found.app + u"/Contents/Info.plist"_s).isFile());
        expectDetached();
        QDir(m_work + u"/extracted"_s).removeRecursively();
        QFile::remove(file);
    }
}

TEST_F(ExtractTest, PassesOnTheReasonADamagedImageWontOpen)
{
    QFile original(realworld + u"/dmg/sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"_s);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    QByteArray bytes = original.readAll();
    for (qsizetype at = 1000; at < 1400; ++at)
        bytes[at] = char(bytes[at] ^ 0x5a);
    const QString file = m_work + u"/Foo.dmg"_s;
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(bytes);
    damaged.close();

    QString reason;
    try {
        m_services.diskImages->attach(file, m_sandbox.root() + u"/probe"_s, false);
        FAIL() << "the damaged image opened";
    } catch (const DiskImageError& error) {
        reason = error.description();
    }
    EXPECT_EQ(refusal(file), reason);
    expectDetached();
}

TEST_F(ExtractTest, RefusesImagesWithoutAnAppAndFilesThatAreNeither)
{
    struct Row {
        QString file;
        QString refusal;
    };
    const std::vector<Row> rows {
        { realworld + u"/dmg/sparkle-SparkleTestCodeSign_pkg.lzma-gpt-apfs-pkg.dmg"_s, noApp },
        { realworld + u"/dmg/node-udif-compression-zlib.mbr-fat16.dmg"_s, noApp },
        // Encrypted images have no UDIF trailer to recognise.
        { realworld + u"/dmg/sparkle-SparkleTestCodeSignApp.encrypted-with-license.dmg"_s, unsupported },
        { realworld + u"/dmg/sparkle-SparkleTestCodeSignApp.encrypted-nolicense.dmg"_s, unsupported },
        { realworld + u"/eddsa/sparkle-signed-test-file.txt"_s, unsupported },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        const QString file = download(row.file, u"download"_s);
        EXPECT_EQ(refusal(file), row.refusal);
        expectDetached();
        QDir(m_work + u"/extracted"_s).removeRecursively();
        QFile::remove(file);
    }
}

} // namespace
} // namespace corvanta
