#include "diskimage/LinuxDiskImages.h"

#include "demo/Files.h"
#include "diskimage/HybridVolume.h"
#include "diskimage/SevenZip.h"
#include "diskimage/VolumeListing.h"
#include "diskimage/VolumeTree.h"
#include "platform/UnpackLimits.h"
#include "support/DiskImageFixtures.h"
#include "support/Snapshot.h"
#include "support/UdifFixtures.h"

#include <csignal>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::test;
using corvanta::demo::makeLink;

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
    EXPECT_EQ(difference(snapshot(source.path()), snapshot(root)), u""_s);
    images.detach(mountPoint());
    expectNothingLeft();
}

// While it lives, no file this process writes grows past `bytes`: a write
// past it fails instead of filling the disk, so a step that would write
// gigabytes shows up as some other error than the refusal expected.
class FileSizeTripwire {
public:
    explicit FileSizeTripwire(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { bytes, m_saved.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeTripwire()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved {};
    void (*m_handler)(int) = nullptr;
};

void makeFolder(const QString& path, mode_t mode)
{
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

struct HostileImage {
    const char* name;
    // Fills the tree (next to a folder `outside` the image must not touch) and writes the image.
    std::function<void(const QString& tree, const QString& outside, const QString& image)> build;
    const char* refusal;
};

const char* const tooMuch
    = "The download unpacks to more than 100 times its own size, which no app does. Refusing to install.";

const HostileImage hostileImages[] = {
    { "a folder and a link to a file outside of the same name",
        [](const QString& tree, const QString& outside, const QString& image) {
            makeFolder(tree + u"/Twin"_s, 0777);
            makeLink(outside + u"/victim.txt"_s, tree + u"/Twiq"_s);
            writeIsoImage(tree, image, { { "Twiq", "Twin" } });
        },
        "The disk image lists \"Twin\" twice. Refusing to open it." },
    { "entries behind a chain of links that leads outside",
        [](const QString& tree, const QString& outside, const QString& image) {
            makeLink(u"Hop"_s, tree + u"/Chain"_s);
            makeLink(outside, tree + u"/Hop"_s);
            makeFolder(tree + u"/ChainXsub"_s, 0777);
            makeLink(u"owned"_s, tree + u"/ChainXpwn"_s);
            writeIsoImage(tree, image, { { "ChainX", "Chain/" } });
        },
        "The disk image lists \"Chain/pwn\" inside \"Chain\", which isn't a folder. Refusing to open it." },
    { "a pipe",
        [](const QString& tree, const QString&, const QString& image) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(tree + u"/Pipe"_s).constData(), 0644), 0);
            writeIsoImage(tree, image);
        },
        "The disk image holds \"Pipe\", a device, pipe or socket, which no app needs. Refusing to open it." },
    { "a 3 GB sparse file in a small volume",
        [](const QString& tree, const QString&, const QString& image) {
            QFile huge(tree + u"/Huge.bin"_s);
            ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(3) << 30));
            huge.close();
            writeExtImage(tree, image, 16 << 20);
        },
        tooMuch },
    { "a 3 GB partition of zeros",
        [](const QString&, const QString&, const QString& image) { writeZeroBomb(image, 3072); }, tooMuch },
};

TEST_F(DiskImagesTest, HostileImagesAreRefusedWithoutChangingAnythingOutside)
{
    const QString outside = m_work.filePath(u"outside"_s);
    makeFolder(outside + u"/sub"_s, 0700);
    writeWholeFile(outside + u"/victim.txt"_s, "mine");
    ::chmod(QFile::encodeName(outside + u"/victim.txt"_s).constData(), 0600);
    writeWholeFile(outside + u"/pwn"_s, "mine");
    const Snapshot before = snapshot(outside);

    auto images = make();
    for (const HostileImage& row : hostileImages) {
        SCOPED_TRACE(row.name);
        QTemporaryDir tree;
        const QString image = m_work.filePath(u"Hostile.dmg"_s);
        row.build(tree.path(), outside, image);
        {
            const FileSizeTripwire tripwire(64 << 20);
            EXPECT_EQ(errorText([&] { images.attach(image, mountPoint(), true); }), row.refusal);
        }
        EXPECT_EQ(difference(before, snapshot(outside)), u""_s);
        expectNothingLeft();
    }
}

// What the image's own listing can forge beyond what a file system holds.
TEST(VolumeListing, ForgedListingsAreRefused)
{
    const char* const unreadable
        = "The disk image's volume lists its files in a way Corvanta can't read. Refusing to open it.";
    const struct {
        const char* items;
        std::string refusal;
    } rows[] = {
        { "Path = /etc/x\nFolder = -\nSize = 1\n",
            "The disk image lists a file at an unsafe path (\"/etc/x\"). Refusing to open it." },
        { "Path = a/../../x\nFolder = -\nSize = 1\n",
            "The disk image lists a file at an unsafe path (\"a/../../x\"). Refusing to open it." },
        { "Path = a//x\nFolder = -\nSize = 1\n",
            "The disk image lists a file at an unsafe path (\"a//x\"). Refusing to open it." },
        { "Path = h\nFolder = -\nSize = 1\nHard Link = ../../etc/passwd\n",
            "The disk image holds \"h\", a hard link to \"../../etc/passwd\", which isn't a file of its "
            "volume. Refusing to open it." },
        { "Path = d\nFolder = +\n\nPath = h\nFolder = -\nSize = 1\nHard Link = d\n",
            "The disk image holds \"h\", a hard link to \"d\", which isn't a file of its volume. Refusing to "
            "open it." },
        // A name carrying line breaks, trying to pass for lines of its own.
        { "Path = x\nSize = 1\nFolder = -\nSize = 9999999999\n", unreadable },
        { "Path = x\n----------\nPath = y\nFolder = -\nSize = 1\n", unreadable },
        { "Path = x\nFolder = +\nMode = lrwxrwxrwx\n", unreadable },
        { "Path = x\nFolder = -\nMode = -rw-r--r--\nSymbolic Link = /etc\nSize = 1\n", unreadable },
        { "Path = x\nMode = -rw-r--r--\n", unreadable }, // a file without a size can't be counted
        { "Path = "
          "a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/x/y/z/a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/"
          "x/y/z/a/b/c/d/e/f/g/h/i/j/k/l/m\nFolder = +\n",
            "The download nests folders more than 64 deep, which no app does. Refusing to install." },
    };
    for (const auto& row : rows) {
        const auto listing = udif::parseListing(QByteArray("Type = HFS\n----------\n") + row.items + '\n');
        ASSERT_TRUE(listing.has_value());
        UnpackBudget budget(1 << 20);
        EXPECT_EQ(errorText([&] { udif::validateListing(*listing, budget); }), row.refusal) << row.items;
    }
}

// What 7-Zip leaves must be what the listing says before anything builds on it.
TEST(VolumeTree, ExtractionsThatDifferFromTheirListingAreRefused)
{
    const struct {
        const char* items;
        std::function<void(const QString& staging, const QString& outside)> extraction;
        std::string refusal;
    } rows[] = {
        { "Path = a\nFolder = +\n",
            [](const QString& staging, const QString& outside) { makeLink(outside, staging + u"/a"_s); },
            "a" },
        { "Path = a\nFolder = +\n",
            [](const QString& staging, const QString&) {
                makeFolder(staging + u"/a"_s, 0755);
                writeWholeFile(staging + u"/a/b"_s, "unlisted");
            },
            "a/b" },
        { "Path = f\nFolder = -\nSize = 1\n",
            [](const QString& staging, const QString&) { writeWholeFile(staging + u"/f"_s, "longer"); },
            "f" },
        { "Path = f\nFolder = -\nSize = 4\n",
            [](const QString& staging, const QString& outside) {
                ASSERT_EQ(::link(QFile::encodeName(outside + u"/victim.txt"_s).constData(),
                              QFile::encodeName(staging + u"/f"_s).constData()),
                    0);
            },
            "f" },
    };
    for (const auto& row : rows) {
        QTemporaryDir root;
        const QString outside = root.filePath(u"outside"_s);
        const QString staging = root.filePath(u"mount/staging"_s);
        makeFolder(staging, 0700);
        makeFolder(outside, 0700);
        writeWholeFile(outside + u"/victim.txt"_s, "mine");
        row.extraction(staging, outside);
        const auto listing = udif::parseListing(QByteArray("Type = Iso\n----------\n") + row.items);
        UnpackBudget budget(1 << 20);
        udif::validateListing(*listing, budget);
        const udif::Descriptor mount(
            ::open(QFile::encodeName(root.filePath(u"mount"_s)).constData(), O_RDONLY));
        EXPECT_EQ(errorText([&] {
            udif::finishVolume(*listing, mount.get(), "staging", QFile::encodeName(staging),
                [](const QByteArray&) { return QByteArray(); });
        }),
            "The disk image's volume came out differently from its listing at \"" + row.refusal
                + "\". Refusing to open it.")
            << row.items;
    }
}

// The kernel stops a file at the largest size the listing has, whatever 7-Zip would write.
TEST(SevenZip, NoFileGrowsPastTheLargestListed)
{
    QTemporaryDir work;
    QDir().mkpath(work.filePath(u"tree"_s));
    writeWholeFile(work.filePath(u"tree/data.bin"_s), QByteArray(64 * 1024, 'x'));
    writeIsoImage(work.filePath(u"tree"_s), work.filePath(u"image.dmg"_s));
    auto image = udif::UdifImage::open(work.filePath(u"image.dmg"_s));
    image.extractPartition(0, work.filePath(u"volume.iso"_s));
    const udif::SevenZip sevenZip(u"7zz"_s);
    EXPECT_EQ(errorText([&] {
        sevenZip.extract(work.filePath(u"volume.iso"_s), u"Iso"_s, work.filePath(u"out"_s), 4096);
    }),
        "The disk image's volume holds more data than it lists. Refusing to open it.");
    EXPECT_LE(QFileInfo(work.filePath(u"out/data.bin"_s)).size(), 4096);
}

INSTANTIATE_TEST_SUITE_P(Codecs, WrittenImageTest,
    testing::Values(WrittenImage { udif::ChunkType::zlib, false },
        WrittenImage { udif::ChunkType::zlib, true }, WrittenImage { udif::ChunkType::raw, false },
        WrittenImage { udif::ChunkType::bzip2, true }, WrittenImage { udif::ChunkType::lzma, false }));

} // namespace
