#include "diskimage/LinuxDiskImages.h"

#include "diskimage/HybridVolume.h"
#include "support/DiskImageFixtures.h"
#include "support/UdifFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::test;

namespace {

std::string errorText(const std::function<void()>& body)
{
    try {
        body();
    } catch (const Error& error) {
        return error.description().toStdString();
    }
    return "(no error)";
}

QString linkText(const QString& path)
{
    return QFile::symLinkTarget(path).isEmpty() ? QString() : QString::fromUtf8([&] {
        QByteArray buffer(4096, '\0');
        const auto length
            = ::readlink(QFile::encodeName(path).constData(), buffer.data(), std::size_t(buffer.size()));
        return buffer.left(length < 0 ? 0 : length);
    }());
}

// A private temporary root and work folder per test, checked empty at the end.
class DiskImagesTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temporary.isValid());
        ASSERT_TRUE(m_work.isValid());
    }

    LinuxDiskImages make(const QString& sevenZip = u"7zz"_s)
    {
        return LinuxDiskImages(LinuxDiskImages::Options { sevenZip, m_temporary.path() });
    }
    QString mountPoint() const { return m_work.filePath(u"mount"_s); }
    std::string busyMessage() const
    {
        return QString(mountPoint() + u" isn't an empty folder, so the disk image can't be mounted there."_s)
            .toStdString();
    }
    void expectNothingLeft() const
    {
        EXPECT_EQ(folderEntries(m_temporary.path()), QStringList {});
        EXPECT_FALSE(QFileInfo::exists(mountPoint()));
    }

    QTemporaryDir m_temporary;
    QTemporaryDir m_work;
};

struct RealAttach {
    const char* file;
    std::vector<const char*> topLevel; // entries that must be at the volume's root
};

const RealAttach realAttaches[] = {
    { "homebrew-container-apfs.zlib-gpt-apfs.dmg", { "container" } },
    { "homebrew-container.zlib-gpt-hfs.dmg", { "container", ".journal" } },
    { "node-udif-compression-adc.mbr-fat16.dmg", { "README.txt" } },
    { "node-udif-compression-bz2.mbr-fat16.dmg", { "README.txt" } },
    { "node-udif-compression-lzfse.mbr-fat16.dmg", { "README.txt" } },
    { "node-udif-compression-raw.mbr-fat16.dmg", { "README.txt" } },
    { "node-udif-compression-zlib.mbr-fat16.dmg", { "README.txt" } },
    { "node-udif-raw.whole-disk-hfs.dmg", { ".fseventsd", ".journal" } },
    { "node-udif-zlib-compressed.whole-disk-hfs.dmg", { ".DS_Store" } },
    { "sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg",
        { "SparkleTestCodeSignApp.app", "Applications" } },
    { "sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg",
        { "SparkleTestCodeSignApp.app", "Applications" } },
    { "sparkle-SparkleTestCodeSign_apfs_lzma_aux_files.lzma-gpt-apfs.dmg",
        { "SparkleTestCodeSignApp.app", "Applications", "README.txt", "AdditionalData", "Screenshot.png" } },
    { "sparkle-SparkleTestCodeSign_pkg.lzma-gpt-apfs-pkg.dmg", { "SparkleTestCodeSignApp.pkg" } },
};

TEST_F(DiskImagesTest, EveryRealImageShowsItsVolumeRootAndDetachesClean)
{
    auto images = make();
    QByteArray fatReadme;
    for (const RealAttach& row : realAttaches) {
        SCOPED_TRACE(row.file);
        const QString image = realDiskImage(QString::fromLatin1(row.file));
        const QString root = images.attach(image, mountPoint(), true);
        EXPECT_EQ(root, QFileInfo(mountPoint()).canonicalFilePath());
        const QStringList entries = folderEntries(root);
        for (const char* name : row.topLevel)
            EXPECT_TRUE(entries.contains(QString::fromLatin1(name)))
                << name << " in " << entries.join(u", "_s).toStdString();
        // No volume-named wrapper folder and no streams written as files.
        for (const QString& entry : entries)
            EXPECT_FALSE(entry.contains(u':')) << entry.toStdString();

        const QString app = root + u"/SparkleTestCodeSignApp.app"_s;
        if (QFileInfo::exists(app)) {
            EXPECT_EQ(linkText(root + u"/Applications"_s), u"/Applications"_s);
            const QString framework = app + u"/Contents/Frameworks/Sparkle.framework"_s;
            EXPECT_EQ(linkText(framework + u"/Versions/Current"_s), u"A"_s);
            EXPECT_EQ(linkText(framework + u"/Sparkle"_s), u"Versions/Current/Sparkle"_s);
            EXPECT_TRUE(QFileInfo(app + u"/Contents/MacOS/Sparkle Test App"_s).isExecutable());
            EXPECT_TRUE(readWholeFile(app + u"/Contents/Info.plist"_s).contains("CFBundleIdentifier"));
        }
        if (entries.contains(u"README.txt"_s) && QString::fromLatin1(row.file).contains(u"fat16"_s)) {
            const QByteArray readme = readWholeFile(root + u"/README.txt"_s);
            if (fatReadme.isEmpty())
                fatReadme = readme;
            EXPECT_EQ(readme, fatReadme); // the same disk in every codec
        }
        images.detach(mountPoint());
        expectNothingLeft();
    }
    EXPECT_FALSE(fatReadme.isEmpty());
}

TEST_F(DiskImagesTest, LicenseAgreementMustBeAccepted)
{
    auto images = make();
    const QString image = realDiskImage(u"sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg"_s);
    EXPECT_TRUE(images.hasLicenseAgreement(image));
    EXPECT_FALSE(
        images.hasLicenseAgreement(realDiskImage(u"sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"_s)));
    EXPECT_FALSE(images.hasLicenseAgreement(realDiskImage(u"PROVENANCE.md"_s)));
    EXPECT_EQ(images.imageInfo(image)->license->text, u"Blah blah blah blah blah blah, ok.. Agree."_s);

    EXPECT_EQ(errorText([&] { images.attach(image, mountPoint(), false); }),
        "The disk image comes with a license agreement that wasn't accepted.");
    expectNothingLeft();
}

TEST_F(DiskImagesTest, RefusesEncryptedAndDamagedImagesLeavingNothing)
{
    auto images = make();
    for (const auto* name : { "sparkle-SparkleTestCodeSignApp.encrypted-nolicense.dmg",
             "sparkle-SparkleTestCodeSignApp.encrypted-with-license.dmg" }) {
        EXPECT_EQ(
            errorText([&] { images.attach(realDiskImage(QString::fromLatin1(name)), mountPoint(), true); }),
            "The disk image is encrypted. Corvanta can't open encrypted disk images.");
        EXPECT_FALSE(images.imageInfo(realDiskImage(QString::fromLatin1(name))).has_value());
        expectNothingLeft();
    }

    QByteArray bytes = readWholeFile(realDiskImage(u"sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"_s));
    bytes[4000] = char(bytes[4000] ^ 1);
    const QString flipped = m_work.filePath(u"flipped.dmg"_s);
    writeWholeFile(flipped, bytes);
    EXPECT_EQ(errorText([&] { images.attach(flipped, mountPoint(), true); }),
        "The disk image is damaged: its checksum doesn't match its contents.");
    expectNothingLeft();

    // Past the data fork checksum the block table's CRC32 still catches it.
    resealDataFork(bytes);
    writeWholeFile(flipped, bytes);
    EXPECT_EQ(
        errorText([&] { images.attach(flipped, mountPoint(), true); }).rfind("The disk image is damaged", 0),
        0u);
    expectNothingLeft();

    const QString truncated = m_work.filePath(u"truncated.dmg"_s);
    writeWholeFile(truncated, bytes.left(bytes.size() - 100));
    EXPECT_EQ(errorText([&] { images.attach(truncated, mountPoint(), true); }),
        "The file isn't a complete disk image.");
    expectNothingLeft();
}

TEST_F(DiskImagesTest, AttachesByBytesWhateverTheName)
{
    auto images = make();
    const QString disguised = m_work.filePath(u"Update.zip"_s);
    QFile::copy(realDiskImage(u"sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"_s), disguised);
    EXPECT_EQ(udif::probeImage(disguised), udif::ImageKind::udif);
    const QString root = images.attach(disguised, mountPoint(), false);
    EXPECT_TRUE(QFileInfo(root + u"/SparkleTestCodeSignApp.app"_s).isDir());
    images.detach(mountPoint());
    expectNothingLeft();
}

TEST_F(DiskImagesTest, MountPointRules)
{
    auto images = make();
    const QString image = realDiskImage(u"homebrew-container-apfs.zlib-gpt-apfs.dmg"_s);

    // An existing empty folder is used and left in place, empty.
    QDir().mkpath(mountPoint());
    images.attach(image, mountPoint(), false);
    EXPECT_EQ(folderEntries(mountPoint()), QStringList { u"container"_s });
    EXPECT_EQ(errorText([&] { images.attach(image, mountPoint(), false); }), busyMessage());
    images.detach(mountPoint());
    EXPECT_TRUE(QFileInfo(mountPoint()).isDir());
    EXPECT_EQ(folderEntries(mountPoint()), QStringList {});

    // A folder with something in it is refused and not touched; detaching
    // a folder that was never attached leaves it alone too.
    writeWholeFile(mountPoint() + u"/keep.txt"_s, "mine");
    EXPECT_EQ(errorText([&] { images.attach(image, mountPoint(), false); }), busyMessage());
    images.detach(mountPoint());
    EXPECT_EQ(readWholeFile(mountPoint() + u"/keep.txt"_s), "mine");
    EXPECT_EQ(folderEntries(m_temporary.path()), QStringList {});
}

TEST_F(DiskImagesTest, WithoutSevenZipTheRefusalSaysSo)
{
    auto images = make(u"/nonexistent/7zz"_s);
    EXPECT_EQ(errorText([&] {
        images.attach(realDiskImage(u"homebrew-container.zlib-gpt-hfs.dmg"_s), mountPoint(), false);
    }),
        "Corvanta needs 7-Zip (7zz) to open disk images, and it couldn't be started.");
    expectNothingLeft();
}

struct WrittenImage {
    udif::ChunkType compression;
    bool license;
};

class WrittenImageTest : public DiskImagesTest, public testing::WithParamInterface<WrittenImage> { };

TEST_P(WrittenImageTest, RoundTripsTheTreeThroughAttach)
{
    const WrittenImage& row = GetParam();
    QTemporaryDir source;
    makeDiskImageTree(source.path(), 300 * 1024);
    udif::WriteOptions options;
    options.compression = row.compression;
    options.chunkSectors = 256; // several chunks per partition
    const QString text = u"Sample licence\nLine two: naïve café – “quoted”."_s;
    if (row.license)
        options.licenseText = text;
    const QString image = m_work.filePath(u"Sample.dmg"_s);
    udif::writeDiskImage(source.path(), u"Sample Volume"_s, image, options);

    auto images = make();
    const auto info = images.imageInfo(image);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->softwareLicenseAgreement, row.license);
    if (row.license) {
        EXPECT_EQ(info->license->text, text);
        EXPECT_EQ(info->license->language, u"English"_s);
        EXPECT_EQ(errorText([&] { images.attach(image, mountPoint(), false); }),
            "The disk image comes with a license agreement that wasn't accepted.");
        expectNothingLeft();
    }

    const QString root = images.attach(image, mountPoint(), true);
    const auto expected = snapshotTree(source.path());
    const auto actual = snapshotTree(root);
    EXPECT_EQ(describeDifference(expected, actual).toStdString(), "");
    images.detach(mountPoint());
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Codecs, WrittenImageTest,
    testing::Values(WrittenImage { udif::ChunkType::zlib, false },
        WrittenImage { udif::ChunkType::zlib, true }, WrittenImage { udif::ChunkType::raw, false },
        WrittenImage { udif::ChunkType::bzip2, true }, WrittenImage { udif::ChunkType::lzma, false }));

} // namespace
