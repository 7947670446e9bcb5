#include "PackageWorld.h"
#include "codesign/SignedImage.h"
#include "support/EdKey.h"

#include <functional>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

class InstallNew : public test::PackageWorld {
protected:
    // A zip of a Foo.app built in a folder of its own, served at /Foo.zip.
    QByteArray serveApp(const test::AppOptions& options)
    {
        const QString folder = m_sandbox.inputs() + u'/' + QString::number(++m_apps);
        return serveZip(makeApp(folder, options));
    }
    Release zipRelease(const QByteArray& bytes) const { return release(SourceKind::sparkle, bytes); }

    int m_apps = 0;
};

TEST_F(InstallNew, EveryLibraryCheckWithItsText)
{
    const test::EdKey key;
    const test::AppOptions signedApp { .version = u"2.0"_s, .team = u"TEAMAAAAAA"_s };
    struct Row {
        const char* name;
        std::function<void(LibraryApp&, Release&)> arrange;
        QString refusal;
        bool downloads = true;
    };
    const std::vector<Row> rows {
        { "L1 nothing to download", [](LibraryApp&, Release& release) { release.download.reset(); },
            u"There's nothing to download for Foo."_s, false },
        { "L2 unsigned for an EdDSA key", [&](LibraryApp& app, Release&) { app.edKey = key.publicKey(); },
            u"Foo only accepts EdDSA-signed updates, and this download isn't signed."_s, false },
        { "L3 nine characters", [](LibraryApp& app, Release&) { app.team = u"TEAMAAAAA"_s; },
            u"The library's Team ID for Foo isn't valid."_s, false },
        { "L3 lower case", [](LibraryApp& app, Release&) { app.team = u"teamaaaaaa"_s; },
            u"The library's Team ID for Foo isn't valid."_s, false },
        { "L4 empty",
            [this](LibraryApp&, Release& release) {
                m_server.on(u"/Foo.zip"_s, test::Response {});
                release.download->size.reset();
            },
            u"The download is empty."_s },
        { "L5 shorter than stated",
            [this](LibraryApp&, Release& release) {
                m_server.on(
                    u"/Foo.zip"_s, test::Response { .body = "0123456789", .omitContentLength = true });
                release.download->size = 11;
            },
            u"The download is 10 bytes but should be 11."_s },
        { "L6 checksum", [](LibraryApp&, Release& release) { release.download->sha256 = QString(64, u'0'); },
            u"SHA-256 checksum mismatch: the download isn't the file the source published."_s },
        { "L7 EdDSA",
            [&](LibraryApp& app, Release& release) {
                app.edKey = key.publicKey();
                release.download->edSignature = test::EdKey().sign("something else");
            },
            u"EdDSA signature doesn't match Foo's key."_s },
        { "L7 malformed EdDSA",
            [&](LibraryApp& app, Release& release) {
                app.edKey = key.publicKey();
                release.download->edSignature = u"not base64!"_s;
            },
            u"EdDSA signature doesn't match Foo's key."_s },
        { "L9 no archive",
            [this](LibraryApp&, Release& release) {
                m_server.on(u"/Foo.zip"_s, test::Response { .body = "plain text" });
                release.download->size.reset();
            },
            u"Unsupported download format. Corvanta installs from .zip and .dmg only."_s },
        { "L9 unsigned app",
            [&](LibraryApp&, Release& release) { release = zipRelease(serveApp({ .unsignedCode = true })); },
            u"The new version's code signature is invalid: code object is not signed at all."_s },
        { "L10 another team", [](LibraryApp& app, Release&) { app.team = u"TEAMBBBBBB"_s; },
            u"Team ID mismatch: Foo on your other Mac was signed by TEAMBBBBBB, this download by TEAMAAAAAA. "
            u"Refusing to install."_s },
        { "L10 ad hoc", [&](LibraryApp&, Release& release) { release = zipRelease(serveApp({})); },
            u"Team ID mismatch: Foo on your other Mac was signed by TEAMAAAAAA, this download by no team. "
            u"Refusing to install."_s },
        { "L10a ad hoc without a library team",
            [&](LibraryApp& app, Release& release) {
                app.team.reset();
                release = zipRelease(serveApp({}));
            },
            u"Foo isn't signed with a Developer ID, and your other Mac has no developer on record to compare "
            u"it "
            u"with. Refusing to install."_s },
        { "L10a not notarized", [](LibraryApp& app, Release&) { app.team.reset(); },
            u"Foo is signed by team TEAMAAAAAA but isn't notarized by Apple. Refusing to install."_s },
        { "L11 another app",
            [&](LibraryApp&, Release& release) {
                release = zipRelease(serveApp({ .bundleID = u"com.example.bar"_s, .team = u"TEAMAAAAAA"_s }));
            },
            u"The download contains a different app, not com.example.foo. Refusing to install."_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LibraryApp app = library();
        Release release = zipRelease(serveApp(signedApp));
        row.arrange(app, release);
        m_server.clearRequests();
        const test::FirstOutcome outcome = installFirst(app, { release });
        EXPECT_EQ(outcome.error.value_or(u"(installed)"_s), row.refusal);
        EXPECT_FALSE(outcome.final);
        EXPECT_EQ(m_server.count(u"/Foo.zip"_s) > 0, row.downloads);
        EXPECT_EQ(test::snapshot(m_sandbox.applications()).size(), 1); // only the folder itself
        EXPECT_EQ(m_sandbox.leftovers(), QStringList());
    }
}

TEST_F(InstallNew, PlacedFromAZipWithTheLibraryTeam)
{
    const QString app = makeApp(m_sandbox.inputs(), { .team = u"TEAMAAAAAA"_s });
    const test::Snapshot tree = test::snapshot(app);
    const test::FirstOutcome outcome
        = installFirst(library(), { release(SourceKind::homebrew, serveZip(app)) });
    ASSERT_TRUE(outcome.installed) << outcome.error.value_or(QString()).toStdString();
    EXPECT_EQ(outcome.installed->app, m_sandbox.applications() + u"/Foo.app"_s);
    EXPECT_EQ(outcome.installed->team, u"TEAMAAAAAA"_s);
    EXPECT_EQ(outcome.installed->note, std::nullopt);
    expectWorld(test::under(u"Foo.app"_s, tree), {});
}

// Without a team on record, the Developer ID signature must be notarized:
// then its team is what the library records.
TEST_F(InstallNew, NotarizedDeveloperIDWithoutALibraryTeam)
{
    const QString app = makeApp(m_sandbox.inputs(), { .team = u"TEAMAAAAAA"_s });
    const auto image = codesign::SignedImage::open(app + u"/Contents/MacOS/Foo"_s);
    ASSERT_TRUE(image);
    const codesign::CodeDirectory& directory = image->preferred(CpuType::ofThisBuild()).signature->best();
    notarizeCode({ int(directory.hashType), directory.cdhash() });
    const test::FirstOutcome outcome
        = installFirst(library(std::nullopt), { release(SourceKind::sparkle, serveZip(app)) });
    ASSERT_TRUE(outcome.installed) << outcome.error.value_or(QString()).toStdString();
    EXPECT_EQ(outcome.installed->team, u"TEAMAAAAAA"_s);
}

// Each release in turn; every failure listed under its source when none works.
TEST_F(InstallNew, FirstReleaseThatInstalls)
{
    const QByteArray zip = serveZip(makeApp(m_sandbox.inputs(), { .team = u"TEAMAAAAAA"_s }));
    Release broken = release(SourceKind::sparkle, zip);
    broken.download->sha256 = QString(64, u'0');
    const Release working = release(SourceKind::homebrew, zip);
    EXPECT_TRUE(installFirst(library(), { broken, working }).installed);

    const test::FirstOutcome failed = installFirst(library(), { broken, working });
    EXPECT_EQ(failed.error,
        u"Sparkle: SHA-256 checksum mismatch: the download isn't the file the source published.\n"
        u"Homebrew cask: Foo.app is already in %1."_s.arg(m_sandbox.applications()));
    EXPECT_EQ(installFirst(library(), {}).error, u"There's nothing to download for Foo."_s);
}

} // namespace
} // namespace corvanta
