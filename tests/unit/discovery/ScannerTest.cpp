#include "discovery/Scanner.h"

#include "FakeCodeSigning.h"
#include "Printers.h"
#include "demo/Files.h"
#include "support/BundleBuilder.h"

#include <functional>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvanta::InstalledApp;
using corvanta::demo::readFile;
using corvanta::test::BundleBuilder;
using corvanta::test::FakeCodeSigning;
namespace Scanner = corvanta::Scanner;
using namespace Qt::StringLiterals;

namespace {

const QString realworld = QStringLiteral(CORVANTA_REALWORLD "/plist/");

QStringList names(const std::vector<InstalledApp>& apps)
{
    QStringList result;
    for (const InstalledApp& app : apps)
        result << app.name;
    return result;
}

class ScannerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString folder(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    std::vector<InstalledApp> scan(const QStringList& folders)
    {
        QList<QUrl> urls;
        for (const QString& path : folders)
            urls << QUrl::fromLocalFile(path);
        return Scanner::scan(urls, m_signing);
    }
    std::optional<InstalledApp> readOne(const BundleBuilder& bundle)
    {
        const QString path = bundle.create();
        return Scanner::read(
            QUrl::fromLocalFile(path), QUrl::fromLocalFile(QFileInfo(path).path()), m_signing);
    }

    QTemporaryDir m_dir;
    FakeCodeSigning m_signing;
};

TEST_F(ScannerTest, FindsBundlesAtTheTopAndOneSubfolderDown)
{
    const QString apps = folder(u"Applications"_s);
    const QString elsewhere = folder(u"Elsewhere"_s);
    BundleBuilder(apps, u"Example"_s).create();
    BundleBuilder(apps + u"/Utilities"_s, u"Terminal"_s).bundleID(u"com.apple.Terminal"_s).create();
    BundleBuilder(apps + u"/Deep/Inner"_s, u"TooDeep"_s).create();
    BundleBuilder(apps, u".Hidden"_s).create();
    BundleBuilder(apps + u"/Utilities"_s, u".AlsoHidden"_s).create();
    BundleBuilder(apps + u"/.HiddenFolder"_s, u"InHiddenFolder"_s).create();
    const QString linked = BundleBuilder(elsewhere, u"Linked"_s).create();
    BundleBuilder::link(linked, apps + u"/Foo.app"_s);
    // Inside a subfolder, links are not tested: this one is read.
    BundleBuilder::link(linked, apps + u"/Utilities/Shortcut.app"_s);
    // An app bundle's own children are not searched.
    BundleBuilder(apps + u"/Host.app/Contents/Library/LoginItems"_s, u"Helper"_s).create();
    BundleBuilder(apps, u"Host"_s).create();
    // The extension must be exactly "app".
    QDir(apps).rename(BundleBuilder(apps, u"Shouting"_s).create(), apps + u"/Shouting.APP"_s);
    QFile(apps + u"/ReadMe.txt"_s).open(QIODevice::WriteOnly);
    QFile(apps + u"/Plain.app"_s).open(QIODevice::WriteOnly);

    const std::vector<InstalledApp> found = scan({ apps });
    EXPECT_EQ(names(found), (QStringList { u"Example"_s, u"Host"_s, u"Shortcut"_s, u"Terminal"_s }));
    for (const InstalledApp& app : found)
        EXPECT_EQ(app.folder, QUrl::fromLocalFile(apps)) << app.name.toStdString();
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[3].url, QUrl::fromLocalFile(apps + u"/Utilities/Terminal.app"_s));
    EXPECT_EQ(found[3].bundleID, u"com.apple.Terminal"_s);
    EXPECT_EQ(found[2].url, QUrl::fromLocalFile(apps + u"/Utilities/Shortcut.app"_s));
    EXPECT_EQ(found[2].bundleID, u"com.example.linked"_s);
}

TEST_F(ScannerTest, TwoCopiesInTwoFoldersAreTwoRecordsInFolderOrder)
{
    const QString system = folder(u"Applications"_s);
    const QString home = folder(u"home/Applications"_s);
    BundleBuilder(system, u"Tool"_s).version(u"1.0"_s).create();
    BundleBuilder(home, u"Tool"_s).version(u"2.0"_s).binaryPlist().create();

    const std::vector<InstalledApp> found = scan({ system, home });
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].folder, QUrl::fromLocalFile(system));
    EXPECT_EQ(found[0].version, u"1.0"_s);
    EXPECT_EQ(found[1].folder, QUrl::fromLocalFile(home));
    EXPECT_EQ(found[1].version, u"2.0"_s);
    EXPECT_EQ(found[0].bundleID, found[1].bundleID);

    // The same folder twice is scanned twice: filtering happens later.
    EXPECT_EQ(scan({ system, system }).size(), 2u);
}

// Enough bundles to be read on several threads: each record must still hold
// its own bundle's values and folder.
TEST_F(ScannerTest, ManyBundlesEachKeepTheirOwnValues)
{
    const QStringList folders { folder(u"Applications"_s), folder(u"home/Applications"_s) };
    constexpr int count = 150;
    for (int i = 0; i < count; ++i) {
        const QString name = u"App %1"_s.arg(i, 3, 10, QChar(u'0'));
        const QString bundle = BundleBuilder(folders[i % 2], name)
                                   .bundleID(u"com.example.app%1"_s.arg(i))
                                   .executable(u"App"_s, "code")
                                   .create();
        m_signing.byPath.insert(bundle + u"/Contents/MacOS/App"_s, { u"TEAM%1"_s.arg(i), std::nullopt });
    }
    const std::vector<InstalledApp> found = scan(folders);
    ASSERT_EQ(found.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(found[i].name, u"App %1"_s.arg(i, 3, 10, QChar(u'0')));
        EXPECT_EQ(found[i].bundleID, u"com.example.app%1"_s.arg(i));
        EXPECT_EQ(found[i].team, u"TEAM%1"_s.arg(i));
        EXPECT_EQ(found[i].folder, QUrl::fromLocalFile(folders[i % 2]));
    }
}

TEST_F(ScannerTest, FoldersThatCantBeListedContributeNothing)
{
    const QString apps = folder(u"Applications"_s);
    BundleBuilder(apps, u"Only"_s).create();
    QFile(m_dir.filePath(u"file"_s)).open(QIODevice::WriteOnly);
    const std::vector<InstalledApp> found = Scanner::scan(
        { QUrl::fromLocalFile(m_dir.filePath(u"missing"_s)), QUrl::fromLocalFile(m_dir.filePath(u"file"_s)),
            QUrl(u"https://example.com/Applications"_s), QUrl(), QUrl::fromLocalFile(apps) },
        m_signing);
    EXPECT_EQ(names(found), QStringList { u"Only"_s });
}

TEST_F(ScannerTest, SortsInTheFindersOrderWhateverTheLocale)
{
    const QString apps = folder(u"Applications"_s);
    for (const QString& name :
        { u"Zeta"_s, u"alpha"_s, u"App 10"_s, u"App 9"_s, u"app 100"_s, u"Beta 2.10"_s, u"Beta 2.9"_s })
        BundleBuilder(apps, name).create();
    const QStringList expected { u"alpha"_s, u"App 9"_s, u"App 10"_s, u"app 100"_s, u"Beta 2.9"_s,
        u"Beta 2.10"_s, u"Zeta"_s };

    const QLocale original;
    for (const QLocale& locale : { QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
             QLocale(QLocale::German, QLocale::Germany), original }) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        EXPECT_EQ(names(scan({ apps })), expected);
    }
    QLocale::setDefault(original);
}

TEST_F(ScannerTest, SortIsStableForNamesThatCompareEqual)
{
    std::vector<InstalledApp> apps(3);
    apps[0].name = u"tool"_s;
    apps[0].bundleID = u"first"_s;
    apps[1].name = u"Able"_s;
    apps[2].name = u"Tool"_s;
    apps[2].bundleID = u"second"_s;
    Scanner::sortByName(apps);
    EXPECT_EQ(apps[0].name, u"Able"_s);
    EXPECT_EQ(apps[1].bundleID, u"first"_s);
    EXPECT_EQ(apps[2].bundleID, u"second"_s);
}

struct ReadRow {
    const char* name;
    std::function<void(BundleBuilder&)> build;
    std::function<void(const std::optional<InstalledApp>&)> check;
};

std::ostream& operator<<(std::ostream& os, const ReadRow& row)
{
    return os << row.name;
}

class ScannerRead : public ScannerTest, public testing::WithParamInterface<std::tuple<ReadRow, bool>> { };

TEST_P(ScannerRead, ReadsOneBundle)
{
    const auto& [row, binary] = GetParam();
    BundleBuilder bundle(folder(u"Applications"_s), u"Sample"_s);
    bundle.binaryPlist(binary);
    row.build(bundle);
    row.check(readOne(bundle));
}

void absent(const std::optional<InstalledApp>& app)
{
    EXPECT_FALSE(app.has_value());
}

INSTANTIATE_TEST_SUITE_P(Table, ScannerRead,
    testing::Combine(
        testing::Values(
            ReadRow { "defaults",
                [](BundleBuilder& b) { b.bundleID(u"com.acme.sample"_s).version(u"2.1"_s).build(u"210"_s); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->name, u"Sample"_s);
                    EXPECT_EQ(app->bundleID, u"com.acme.sample"_s);
                    EXPECT_EQ(app->version, u"2.1"_s);
                    EXPECT_EQ(app->build, u"210"_s);
                    EXPECT_EQ(app->team, std::nullopt);
                    EXPECT_FALSE(app->isAppStore);
                    EXPECT_EQ(app->feedURL, std::nullopt);
                    EXPECT_EQ(app->edKey, std::nullopt);
                    EXPECT_EQ(app->electronFeed, std::nullopt);
                } },
            ReadRow { "no CFBundleIdentifier", [](BundleBuilder& b) { b.remove(u"CFBundleIdentifier"_s); },
                absent },
            ReadRow { "numeric CFBundleIdentifier",
                [](BundleBuilder& b) { b.set(u"CFBundleIdentifier"_s, 7); }, absent },
            ReadRow { "no Info.plist", [](BundleBuilder& b) { b.withoutInfoPlist(); }, absent },
            ReadRow { "broken Info.plist", [](BundleBuilder& b) { b.infoPlistBytes("<plist><dict><key>"); },
                absent },
            ReadRow { "empty Info.plist dictionary",
                [](BundleBuilder& b) {
                    b.infoPlistBytes(
                        corvanta::PropertyList::serialize({}, corvanta::PropertyList::Format::xml));
                },
                absent },
            ReadRow { "identifier kept untrimmed", [](BundleBuilder& b) { b.bundleID(u" com.acme.pad "_s); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->bundleID, u" com.acme.pad "_s);
                } },
            ReadRow { "blank version, numeric build",
                [](BundleBuilder& b) { b.version(u" \t "_s).set(u"CFBundleVersion"_s, 412); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->version, std::nullopt);
                    EXPECT_EQ(app->build, u"412"_s);
                } },
            ReadRow { "real version, no build",
                [](BundleBuilder& b) {
                    b.set(u"CFBundleShortVersionString"_s, 3.5).remove(u"CFBundleVersion"_s);
                },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->version, u"3.5"_s);
                    EXPECT_EQ(app->build, std::nullopt);
                } },
            ReadRow { "App Store receipt", [](BundleBuilder& b) { b.appStoreReceipt(); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_TRUE(app->isAppStore);
                } },
            ReadRow { "receipt folder without the receipt",
                [](BundleBuilder& b) { b.file(u"Contents/_MASReceipt/other"_s, "x"); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_FALSE(app->isAppStore);
                } },
            ReadRow { "Sparkle feed and key",
                [](BundleBuilder& b) {
                    b.feedURL(u"  https://acme.com/appcast.xml "_s)
                        .edKey(u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s);
                },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->feedURL, QUrl(u"https://acme.com/appcast.xml"_s));
                    EXPECT_EQ(app->edKey, u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s);
                } },
            ReadRow { "unusable feeds",
                [](BundleBuilder& b) { b.feedURL(u"$(SU_FEED_URL)"_s).edKey(u"  "_s); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->feedURL, std::nullopt);
                    EXPECT_EQ(app->edKey, std::nullopt);
                } },
            ReadRow { "feed with spaces inside",
                [](BundleBuilder& b) { b.feedURL(u"https://acme.com/app cast.xml"_s); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->feedURL, std::nullopt);
                } },
            ReadRow { "Electron github provider",
                [](BundleBuilder& b) { b.appUpdate(u"provider: github\nowner: acme\nrepo: 'tool'\n"_s); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->electronFeed,
                        QUrl(u"https://github.com/acme/tool/releases/latest/download/latest-mac.yml"_s));
                } },
            ReadRow { "Electron s3 provider",
                [](BundleBuilder& b) { b.appUpdate(u"provider: s3\nbucket: x\n"_s); },
                [](const std::optional<InstalledApp>& app) {
                    ASSERT_TRUE(app);
                    EXPECT_EQ(app->electronFeed, std::nullopt);
                } }),
        testing::Bool()));

TEST_F(ScannerTest, SigningTeamComesFromTheMainExecutableOrElseTheBundle)
{
    const QString apps = folder(u"Applications"_s);
    const QString signedApp = BundleBuilder(apps, u"Signed"_s).executable(u"Signed"_s, "code").create();
    const QString plain = BundleBuilder(apps, u"Plain"_s).create();
    // A name that leaves MacOS/ is no main executable.
    const QString escaping
        = BundleBuilder(apps, u"Escaping"_s).set(u"CFBundleExecutable"_s, u"../x"_s).create();
    const QString signedCode = signedApp + u"/Contents/MacOS/Signed"_s;
    m_signing.byPath.insert(signedCode, { u"ZCK58M894E"_s, u"com.example.signed"_s });

    const std::vector<InstalledApp> found = scan({ apps });
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[2].name, u"Signed"_s);
    EXPECT_EQ(found[2].team, u"ZCK58M894E"_s);
    QStringList asked = m_signing.asked;
    asked.sort();
    EXPECT_EQ(asked, (QStringList { escaping, plain, signedCode }));
}

TEST_F(ScannerTest, NeverThrowsWhenTheSignatureReaderDoes)
{
    const QString apps = folder(u"Applications"_s);
    BundleBuilder(apps, u"Example"_s).create();
    m_signing.throws = true;
    std::vector<InstalledApp> found;
    EXPECT_NO_THROW(found = scan({ apps }));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].team, std::nullopt);
}

TEST_F(ScannerTest, ReadNormalisesTheBundlePath)
{
    const QString apps = folder(u"Applications"_s);
    const QString path = BundleBuilder(apps, u"My.Tool"_s).create();
    const std::optional<InstalledApp> app
        = Scanner::read(QUrl::fromLocalFile(path + u"/"_s), QUrl::fromLocalFile(apps), m_signing);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->url, QUrl::fromLocalFile(path));
    EXPECT_EQ(app->name, u"My.Tool"_s);
    EXPECT_FALSE(Scanner::read(QUrl(u"https://example.com/My.Tool.app"_s), QUrl(), m_signing));
}

TEST_F(ScannerTest, RealInfoPlistsInBundles)
{
    const QString apps = folder(u"Applications"_s);
    const char* files[] = { "gplist-FooApp-iOS-Info.binary.plist", "sparkle-DevSignedApp-Info.plist",
        "sparkle-SparkleTestCodeSignApp-Info.plist", "sparkle2-Updater.app-Info.plist",
        "macvim-source-Info.plist", "santa-BundleExample.app-Info.plist",
        "sparkle-SUUpdateValidatorTest-EDOnly.bundle-Info.plist",
        "sparkle-SUUpdateValidatorTest-None.bundle-Info.plist" };
    for (const char* file : files)
        BundleBuilder(apps, QString::fromLatin1(file).chopped(6))
            .infoPlistBytes(readFile(realworld + QLatin1StringView(file)))
            .create();

    const std::vector<InstalledApp> found = scan({ apps });
    ASSERT_EQ(found.size(), std::size(files));
    QMap<QString, InstalledApp> byName;
    for (const InstalledApp& app : found)
        byName.insert(app.name, app);

    const InstalledApp foo = byName.value(u"gplist-FooApp-iOS-Info.binary"_s);
    EXPECT_EQ(foo.bundleID, u"com.guying.app.foo"_s);
    EXPECT_EQ(foo.version, u"1.0"_s);
    EXPECT_EQ(foo.build, u"1"_s);

    const InstalledApp codeSign = byName.value(u"sparkle-SparkleTestCodeSignApp-Info"_s);
    EXPECT_EQ(codeSign.version, std::nullopt);
    EXPECT_EQ(codeSign.build, u"1.5"_s);
    EXPECT_EQ(codeSign.feedURL, QUrl(u"http://sparkle-project.org/files/sparkletestcast.xml"_s));
    EXPECT_EQ(codeSign.edKey, std::nullopt);

    // A project's source plist: placeholders are read as they are written.
    const InstalledApp macvim = byName.value(u"macvim-source-Info"_s);
    EXPECT_EQ(macvim.bundleID, u"$(PRODUCT_BUNDLE_IDENTIFIER)"_s);
    EXPECT_EQ(macvim.version, u"${VIM_SHORT_VERSION_STRING}"_s);
    EXPECT_EQ(macvim.build, u"183"_s);
    EXPECT_EQ(macvim.feedURL, QUrl(u"https://macvim.org/appcast/latest.xml"_s));
    EXPECT_EQ(macvim.edKey, u"Pt4zsg/8S3/mxKW7Cmt0cZFw/+2LOuXOYS93evP+Mfc="_s);

    EXPECT_EQ(byName.value(u"sparkle2-Updater.app-Info"_s).version, u"2.9.1"_s);
    EXPECT_EQ(byName.value(u"sparkle2-Updater.app-Info"_s).build, u"2054"_s);
    EXPECT_EQ(byName.value(u"sparkle-SUUpdateValidatorTest-EDOnly.bundle-Info"_s).edKey,
        u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s);
    EXPECT_EQ(byName.value(u"sparkle-SUUpdateValidatorTest-None.bundle-Info"_s).edKey, std::nullopt);
}

TEST_F(ScannerTest, RealWholeBundleIsReadInPlace)
{
    const QString bundle = realworld + u"sparkle-CodeSignedBoth.bundle"_s;
    const std::optional<InstalledApp> app
        = Scanner::read(QUrl::fromLocalFile(bundle), QUrl::fromLocalFile(realworld), m_signing);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->name, u"sparkle-CodeSignedBoth"_s);
    EXPECT_EQ(app->bundleID, u"org.sparkle-project.Sparkle.SUUpdateValidatorTestBundle.CodeSignedBoth"_s);
    EXPECT_EQ(app->version, std::nullopt);
    EXPECT_EQ(app->build, u"1.0"_s);
    EXPECT_EQ(app->edKey, u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s);
    EXPECT_EQ(m_signing.asked, QStringList { QDir::cleanPath(bundle) });
    // The folder holds a ".bundle", which is not an app.
    EXPECT_TRUE(scan({ realworld }).empty());
}

} // namespace
