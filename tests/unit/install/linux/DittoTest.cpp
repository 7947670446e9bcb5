#include "platform/Ditto.h"

#include "../../../../fuzz/platform_zip_harness.h"
#include "base/Error.h"
#include "demo/Files.h"
#include "platform/UnpackLimits.h"
#include "support/InstallFixtures.h"
#include "support/ZipWriter.h"

#include <cerrno>
#include <filesystem>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using corvanta::demo::readFile;

namespace corvanta {
namespace {

const QString realworld = QStringLiteral(CORVANTA_REALWORLD);

struct stat statOf(const QString& path)
{
    struct stat st { };
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

QString linkTarget(const QString& path)
{
    char target[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(target, length));
}

// Counts of plain files, folders and links under `root`.
std::array<int, 3> census(const QString& root)
{
    std::array<int, 3> counts {};
    const test::Snapshot all = test::snapshot(root);
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (!it.key().isEmpty())
            ++counts[it->startsWith(u"file"_s) ? 0 : it->startsWith(u"dir"_s) ? 1 : 2];
    }
    return counts;
}

// The same counts as the zip's own listing has them, read with libarchive:
// listed entries, the folders their paths imply, and nothing of Finder's
// __MACOSX folder, which is left out on purpose.
std::array<int, 3> listed(const QString& zip)
{
    std::array<int, 3> counts {};
    QSet<QString> folders;
    archive* reader = archive_read_new();
    archive_read_support_format_zip(reader);
    EXPECT_EQ(archive_read_open_filename(reader, QFile::encodeName(zip).constData(), 1 << 16), ARCHIVE_OK);
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        QString name = QString::fromUtf8(archive_entry_pathname(entry));
        if (name.startsWith(u"__MACOSX/"_s))
            continue;
        const bool folder = archive_entry_filetype(entry) == AE_IFDIR;
        if (name.endsWith(u'/'))
            name.chop(1);
        if (!folder)
            ++counts[archive_entry_filetype(entry) == AE_IFLNK ? 2 : 0];
        for (QString parent = folder ? name : name.section(u'/', 0, -2); !parent.isEmpty();
             parent = parent.section(u'/', 0, -2))
            folders.insert(parent);
    }
    archive_read_free(reader);
    counts[1] = int(folders.size());
    return counts;
}

class DittoTest : public testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The SystemError extracting `zip` raises; fails the test when it succeeds.
    SystemError extractFailure(const QString& zip, const QString& destination)
    {
        try {
            m_ditto->extractZip(zip, destination);
        } catch (const SystemError& error) {
            return error;
        }
        ADD_FAILURE() << "extraction of " << zip.toStdString() << " succeeded";
        return SystemError({}, 0);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Ditto> m_ditto = Ditto::create();
};

TEST_F(DittoTest, UnpacksFilesFoldersAndLinksWithTheirModesAndTimes)
{
    const QDateTime stamp(QDate(2021, 6, 7), QTime(8, 9, 10), Qt::UTC);
    {
        test::ZipWriter zip(path(u"a.zip"_s));
        zip.setTime(stamp);
        zip.folder(u"Foo.app/Contents"_s, 0755)
            .file(u"Foo.app/Contents/MacOS/Foo"_s, "binary", 0755)
            .file(u"Foo.app/Contents/Resources/Caf\u00e9 \u2014 notes.txt"_s, "accents", 0640)
            .folder(u"Foo.app/Contents/Locked"_s, 0555)
            .file(u"Foo.app/Contents/Locked/inside"_s, "ro", 0444)
            // Links before their targets exist, as real frameworks have them.
            .link(u"Foo.app/Contents/Frameworks/K.framework/K"_s, u"Versions/Current/K"_s)
            .link(u"Foo.app/Contents/Frameworks/K.framework/Versions/Current"_s, u"A"_s)
            .file(u"Foo.app/Contents/Frameworks/K.framework/Versions/A/K"_s, "kit", 0755)
            .file(u"Foo.app/Contents/Tool"_s, "setuid", 04755)
            // Finder's custom icons live in files named "Icon\r".
            .file(u"Foo.app/Icon\r"_s, "");
    }
    const QString out = path(u"out"_s);
    m_ditto->extractZip(path(u"a.zip"_s), out);

    const QString contentsPath = out + u"/Foo.app/Contents"_s;
    EXPECT_EQ(statOf(contentsPath + u"/MacOS/Foo"_s).st_mode & 07777, 0755u);
    EXPECT_EQ(statOf(contentsPath + u"/Resources/Caf\u00e9 \u2014 notes.txt"_s).st_mode & 07777, 0640u);
    EXPECT_EQ(statOf(contentsPath + u"/Locked"_s).st_mode & 07777, 0555u);
    EXPECT_EQ(readFile(contentsPath + u"/Locked/inside"_s), "ro");
    EXPECT_EQ(statOf(contentsPath + u"/MacOS/Foo"_s).st_mtim.tv_sec, stamp.toSecsSinceEpoch());
    EXPECT_EQ(statOf(contentsPath + u"/Locked"_s).st_mtim.tv_sec, stamp.toSecsSinceEpoch());
    const QString kit = contentsPath + u"/Frameworks/K.framework"_s;
    EXPECT_TRUE(S_ISLNK(statOf(kit + u"/K"_s).st_mode));
    EXPECT_EQ(linkTarget(kit + u"/K"_s), u"Versions/Current/K"_s);
    EXPECT_EQ(linkTarget(kit + u"/Versions/Current"_s), u"A"_s);
    EXPECT_EQ(readFile(kit + u"/K"_s), "kit");
    // Set-user-ID never comes out of a download.
    EXPECT_EQ(statOf(contentsPath + u"/Tool"_s).st_mode & 07777, 0755u);
    EXPECT_TRUE(QFileInfo(out + u"/Foo.app/Icon\r"_s).isFile());
}

TEST_F(DittoTest, RefusesHostileArchivesAndWritesNothingOutside)
{
    const QString victim = path(u"victim"_s);
    QDir().mkpath(victim);
    QFile::copy(realworld + u"/eddsa/sparkle-signed-test-file.txt"_s, victim + u"/keep.txt"_s);
    const test::Snapshot before = test::snapshot(m_dir.path());

    // What stops the archive: a bad entry or damaged data (SystemError), or
    // a cap (UnpackRefusal), found in the headers or as the data inflates.
    enum class Stop { entry, damagedData, declaredCap, inflatedCap };
    struct Row {
        const char* name;
        std::function<void(test::ZipWriter&)> entries;
        QString text; // part of the error's description
        Stop stop = Stop::entry;
    };
    const std::vector<Row> rows {
        { "absolute path", [&](test::ZipWriter& zip) { zip.file(victim + u"/keep.txt"_s, "overwritten"); },
            u"has an absolute path"_s },
        { "dot-dot path",
            [](test::ZipWriter& zip) {
                zip.file(u"Foo.app/ok"_s, "x").file(u"Foo.app/../../victim/keep.txt"_s, "overwritten");
            },
            u"climbs out of its folder"_s },
        { "dot-dot at the start", [](test::ZipWriter& zip) { zip.file(u"../victim/new.txt"_s, "planted"); },
            u"climbs out of its folder"_s },
        { "write through a link",
            [&](test::ZipWriter& zip) {
                zip.link(u"Foo.app/escape"_s, victim).file(u"Foo.app/escape/new.txt"_s, "planted");
            },
            u"\u201cFoo.app/escape/new.txt\u201d would be written through the link \u201cFoo.app/escape\u201d"_s },
        { "write through a relative link",
            [](test::ZipWriter& zip) {
                zip.link(u"Foo.app/up"_s, u"../../victim"_s).file(u"Foo.app/up/keep.txt"_s, "overwritten");
            },
            u"through the link \u201cFoo.app/up\u201d"_s },
        { "a file over a link",
            [&](test::ZipWriter& zip) {
                zip.link(u"Foo.app/name"_s, victim + u"/keep.txt"_s).file(u"Foo.app/name"_s, "overwritten");
            },
            u"holds \u201cFoo.app/name\u201d more than once"_s },
        { "a path twice, once with an empty component",
            [](test::ZipWriter& zip) { zip.file(u"Foo.app/a/b"_s, "1").file(u"Foo.app//a//b"_s, "2"); },
            u"holds \u201cFoo.app/a/b\u201d more than once"_s },
        { "a path twice, once with a dot component",
            [](test::ZipWriter& zip) { zip.folder(u"Foo.app/a"_s).folder(u"./Foo.app/./a/"_s); },
            u"holds \u201cFoo.app/a\u201d more than once"_s },
        { "a file, then a folder of its name",
            [](test::ZipWriter& zip) { zip.file(u"Foo.app/x"_s, "1").file(u"Foo.app/x/y"_s, "2"); },
            u"holds \u201cFoo.app/x\u201d more than once"_s },
        { "a folder, then a file of its name",
            [](test::ZipWriter& zip) { zip.file(u"Foo.app/x/y"_s, "1").file(u"Foo.app/x"_s, "2"); },
            u"holds \u201cFoo.app/x\u201d more than once"_s },
        { "a device", [](test::ZipWriter& zip) { zip.special(u"Foo.app/disk"_s, AE_IFCHR); },
            u"\u201cFoo.app/disk\u201d is neither a file, a folder nor a link"_s },
        { "a socket", [](test::ZipWriter& zip) { zip.special(u"Foo.app/socket"_s, AE_IFSOCK); },
            u"\u201cFoo.app/socket\u201d is neither a file, a folder nor a link"_s },
        { "a body longer than its header says",
            [](test::ZipWriter& zip) { zip.zeros(u"Foo.app/lie"_s, 4096, 16); }, u"Foo.app/lie: "_s,
            Stop::damagedData },
        { "too deep", [](test::ZipWriter& zip) { zip.file(QStringList(65, u"d"_s).join(u'/'), "x"); },
            u"The download nests folders more than 64 deep"_s, Stop::declaredCap },
        { "too many entries, with the folders they imply",
            // 64 items a path: 15,626 of them make 1,000,064.
            [](test::ZipWriter& zip) { zip.emptyFiles(15'626, QStringList(63, u"d"_s).join(u'/')); },
            u"The download holds more than 1,000,000 files"_s, Stop::declaredCap },
        { "too large", [](test::ZipWriter& zip) { zip.zeros(u"Foo.app/huge"_s, 1, 33LL << 30); },
            u"The download unpacks to more than 32 GB"_s, Stop::declaredCap },
        { "a header that understates what inflates",
            [](test::ZipWriter& zip) { zip.zeros(u"Foo.app/bomb"_s, 1'100'000'000, 1024); },
            u"The download unpacks to more than 100 times its own size"_s, Stop::inflatedCap },
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const QString zipPath = path(u"bad%1.zip"_s.arg(i));
        {
            test::ZipWriter zip(zipPath, true);
            rows[i].entries(zip);
        }
        const QString out = path(u"out%1"_s.arg(i));
        try {
            m_ditto->extractZip(zipPath, out);
            ADD_FAILURE() << "extracted";
        } catch (const Error& error) {
            EXPECT_TRUE(error.description().contains(rows[i].text)) << error.description().toStdString();
            EXPECT_EQ(dynamic_cast<const UnpackRefusal*>(&error) != nullptr,
                rows[i].stop == Stop::declaredCap || rows[i].stop == Stop::inflatedCap);
        }
        // Headers are all read before anything is written; what inflates
        // past them never reaches the disk.
        EXPECT_EQ(
            QFileInfo::exists(out), rows[i].stop == Stop::damagedData || rows[i].stop == Stop::inflatedCap);
        std::error_code missing;
        qint64 written = 0;
        for (const auto& item : std::filesystem::recursive_directory_iterator(out.toStdString(), missing))
            written += item.is_regular_file() && !item.is_symlink() ? qint64(item.file_size()) : 0;
        EXPECT_LE(written, 1024);
        QFile::remove(zipPath);
        QDir(out).removeRecursively();
        EXPECT_EQ(test::difference(before, test::snapshot(m_dir.path())), QString());
    }
}

TEST_F(DittoTest, LeavesOutFindersResourceForkFolder)
{
    const QString out = path(u"out"_s);
    m_ditto->extractZip(realworld + u"/zip/homebrew-caffeine-with-plist.zip"_s, out);
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { u"Caffeine.app"_s });
    EXPECT_TRUE(QFileInfo(out + u"/Caffeine.app/Contents/Info.plist"_s).isFile());
}

TEST_F(DittoTest, KeepsTheFrameworkLinksOfARealApp)
{
    const QString out = path(u"out"_s);
    m_ditto->extractZip(realworld + u"/zip/sparkle-SparkleTestCodeSignApp.zip"_s, out);
    const QString framework = out + u"/SparkleTestCodeSignApp.app/Contents/Frameworks/Sparkle.framework"_s;
    const std::vector<std::pair<QString, QString>> links {
        { u"Modules"_s, u"Versions/Current/Modules"_s },
        { u"Resources"_s, u"Versions/Current/Resources"_s },
        { u"Sparkle"_s, u"Versions/Current/Sparkle"_s },
        { u"Versions/Current"_s, u"A"_s },
        { u"Versions/A/Resources/fr_CA.lproj"_s, u"fr.lproj"_s },
        { u"Versions/A/Resources/pt.lproj"_s, u"pt_BR.lproj"_s },
    };
    for (const auto& [link, target] : links) {
        EXPECT_TRUE(S_ISLNK(statOf(framework + u'/' + link).st_mode)) << link.toStdString();
        EXPECT_EQ(linkTarget(framework + u'/' + link), target);
    }
    // The links resolve once everything is out.
    EXPECT_TRUE(QFileInfo(framework + u"/Resources/Info.plist"_s).isFile());
    EXPECT_EQ(census(out), listed(realworld + u"/zip/sparkle-SparkleTestCodeSignApp.zip"_s));
    const QString info = out + u"/SparkleTestCodeSignApp.app/Contents/Info.plist"_s;
    EXPECT_EQ(QCryptographicHash::hash(readFile(info), QCryptographicHash::Sha256).toHex(),
        "9e022dc3aeab1c0026ec5f3cbd1ad9fa398a2129e08b30376ba57d7f5b2e45d4");
    EXPECT_EQ(
        statOf(out + u"/SparkleTestCodeSignApp.app/Contents/MacOS/Sparkle Test App"_s).st_mode & 0777, 0755u);
}

TEST_F(DittoTest, UnpacksTheSignedUpdatePairAndFinderZips)
{
    for (const QString& name : { u"sparkle-DevSignedApp.zip"_s, u"sparkle-DevSignedAppVersion2.zip"_s,
             u"homebrew-transmission-2.61.zip"_s }) {
        const QString out = path(name);
        m_ditto->extractZip(realworld + u"/zip/"_s + name, out);
        EXPECT_EQ(census(out), listed(realworld + u"/zip/"_s + name)) << name.toStdString();
    }
}

TEST_F(DittoTest, FailsCleanlyOnATruncatedArchive)
{
    const SystemError error
        = extractFailure(realworld + u"/zip/sparkle-SparkleTestCodeSignApp_bad_header.zip"_s, path(u"out"_s));
    EXPECT_FALSE(error.description().isEmpty());
    EXPECT_NE(error.code(), 0);
}

TEST_F(DittoTest, NeedsAFreshDestination)
{
    QDir().mkpath(path(u"out"_s));
    EXPECT_EQ(extractFailure(realworld + u"/zip/sparkle-DevSignedApp.zip"_s, path(u"out"_s)).code(), EEXIST);
}

TEST_F(DittoTest, CopiesABundleWithLinksModesAndTimes)
{
    const QString app = test::makeApp(path(u"src"_s), { .extraFiles = 3, .extraSize = 300'000 });
    const QString locked = app + u"/Contents/Locked"_s;
    QDir().mkpath(locked);
    QFile::copy(realworld + u"/eddsa/sparkle-signed-test-file.txt"_s, locked + u"/f"_s);
    ::chmod(QFile::encodeName(locked).constData(), 0555);
    ::symlink("/nowhere/at/all", QFile::encodeName(app + u"/Contents/dangling"_s).constData());
    const struct timespec old[2] = { { 1'000'000'000, 5 }, { 1'100'000'000, 7 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(app + u"/Contents/Info.plist"_s).constData(), old, 0);
    ::utimensat(
        AT_FDCWD, QFile::encodeName(app + u"/Contents/dangling"_s).constData(), old, AT_SYMLINK_NOFOLLOW);
    ::utimensat(AT_FDCWD, QFile::encodeName(locked).constData(), old, 0);

    const QString copy = path(u"copy.app"_s);
    m_ditto->copy(app, copy);
    EXPECT_EQ(test::difference(test::snapshot(app), test::snapshot(copy)), QString());
    for (const QString& item :
        { u"/Contents/Info.plist"_s, u"/Contents/dangling"_s, u"/Contents/Locked"_s }) {
        const struct stat st = statOf(copy + item);
        EXPECT_EQ(st.st_mtim.tv_sec, 1'100'000'000) << item.toStdString();
        EXPECT_EQ(st.st_mtim.tv_nsec, 7) << item.toStdString();
    }
    EXPECT_EQ(statOf(copy).st_mtim.tv_sec, statOf(app).st_mtim.tv_sec);
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    ::chmod(QFile::encodeName(copy + u"/Contents/Locked"_s).constData(), 0755);
}

TEST_F(DittoTest, CopyNeverMergesIntoAnExistingItem)
{
    const QString app = test::makeApp(path(u"src"_s), {});
    QDir().mkpath(path(u"there.app"_s));
    try {
        m_ditto->copy(app, path(u"there.app"_s));
        FAIL() << "copied over an existing folder";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), EEXIST);
    }
    try {
        m_ditto->copy(path(u"missing.app"_s), path(u"copy.app"_s));
        FAIL() << "copied nothing";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(app + u"/Contents/pipe"_s).constData(), 0600), 0);
    EXPECT_THROW(m_ditto->copy(app, path(u"copy.app"_s)), SystemError);
}

// Every input the zip fuzzer found (fuzz-regressions/zip/) goes through its
// harness here.
TEST(DittoFuzzRegressions, EveryFoundInputKeepsToItsFolder)
{
    // Not __FILE__: the compiler cache makes it relative to the build folder.
    const QDir folder(QStringLiteral(CORVANTA_TESTS_DIR) + u"/unit/install/fuzz-regressions/zip"_s);
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    const QTemporaryDir scratch;
    for (const QString& name : names) {
        const QByteArray bytes = readFile(folder.filePath(name));
        EXPECT_TRUE(fuzz::zipInput(QFile::encodeName(scratch.path()).toStdString(),
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())))
            << name.toStdString();
    }
}

} // namespace
} // namespace corvanta
