#include "PackageWorld.h"
#include "package/AppleScript.h"
#include "package/PackageSigner.h"
#include "package/RootCommand.h"
#include "support/UdifFixtures.h"

#include <functional>

#include <QDirIterator>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::XarWriter;

class PackageFlow : public test::PackageWorld {
protected:
    // Serves `file` at /Foo.zip (whatever it holds) as the release's download.
    Release served(const QString& file, std::optional<QString> packageName = std::nullopt)
    {
        Release result = release(SourceKind::homebrew, serve(file));
        result.download->package = std::move(packageName);
        return result;
    }

    QString script(const QString& name, const QByteArray& body)
    {
        const QString path = m_sandbox.root() + u'/' + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n" + body + '\n');
        file.setPermissions(file.permissions() | QFile::ExeOwner);
        return path;
    }

    test::Snapshot installedApp() const
    {
        const QString app = m_sandbox.root() + u"/payload-root/Foo.app"_s;
        return test::under(u"Foo.app"_s, test::snapshot(app));
    }
};

const QString leaf = u"Developer ID Installer: Test Developer (TEAMAAAAAA)"_s;

// The package a download is or holds, checked, agreed to and installed by
// the administrator script into the sandbox's applications folder.
TEST_F(PackageFlow, InstalledWhereverTheDownloadHoldsIt)
{
    struct Row {
        const char* name;
        std::function<Release(const QString& package)> arrange;
        test::PayloadCompression compression = test::PayloadCompression::gzip;
    };
    const std::vector<Row> rows {
        { "a bare package without a name", [this](const QString& package) { return served(package); } },
        { "a pbzx payload", [this](const QString& package) { return served(package); },
            test::PayloadCompression::pbzx },
        { "named, in a zip's subfolder",
            [this](const QString& package) {
                const QString zip = m_sandbox.root() + u"/Foo.zip"_s;
                test::ZipWriter(zip).folder(u"Sub"_s).file(u"Sub/Foo.pkg"_s, test::readAll(package));
                return served(zip, u"Foo.pkg"_s);
            } },
        { "named, in a disk image",
            [this](const QString& package) {
                const QString image = m_sandbox.root() + u"/Foo.dmg"_s;
                test::writeIsoImage(QFileInfo(package).absolutePath(), image);
                return served(image, u"Foo.pkg"_s);
            } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString folder = m_sandbox.root() + u"/volume"_s;
        QDir(folder).removeRecursively();
        const QString package = makePackage(
            folder, m_authority.installerId(u"TEAMAAAAAA"_s), XarWriter::Tamper::none, row.compression);
        const test::FirstOutcome outcome = installFirst(library(), { row.arrange(package) });
        ASSERT_TRUE(outcome.installed) << outcome.error.value_or(QString()).toStdString();
        EXPECT_EQ(outcome.installed->app, m_sandbox.applications() + u"/Foo.app"_s);
        EXPECT_EQ(outcome.installed->team, u"TEAMAAAAAA"_s);
        EXPECT_EQ(outcome.asked,
            QList<PackageConsent>({ { u"Foo"_s, leaf, u"TEAMAAAAAA"_s, false, true, false } }));
        expectWorld(installedApp(), {});
        QDir(m_sandbox.applications() + u"/Foo.app"_s).removeRecursively();
    }
}

TEST_F(PackageFlow, RefusedWithItsText)
{
    struct Row {
        const char* name;
        std::function<Release()> arrange;
        std::optional<QString> team; // the library's
        QString refusal;
        int asked; // consent questions
    };
    const QString inputs = m_sandbox.inputs();
    const auto signedRelease = [this, inputs](const codesign::SigningIdentity& identity,
                                   XarWriter::Tamper tamper = XarWriter::Tamper::none) {
        return served(makePackage(inputs, identity, tamper));
    };
    // What the decision itself refuses is DecisionTest's; here, what the flow
    // finds to decide on, and that a broken signature reaches the decision.
    const std::vector<Row> rows {
        { "a link with the package's name",
            [this] {
                const QString zip = m_sandbox.root() + u"/Foo.zip"_s;
                test::ZipWriter(zip)
                    .file(u"Real/Other.pkg"_s,
                        test::readAll(
                            makePackage(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s))))
                    .link(u"Foo.pkg"_s, u"Real/Other.pkg"_s);
                return served(zip, u"Foo.pkg"_s);
            },
            u"TEAMAAAAAA"_s, u"The download doesn't contain the installer package Foo.pkg."_s, 0 },
        { "a disk image's folder link leading out of it",
            [this] {
                makePackage(m_sandbox.root() + u"/victim"_s, m_authority.installerId(u"TEAMAAAAAA"_s));
                const QString volume = m_sandbox.root() + u"/linked"_s;
                QDir().mkpath(volume);
                // From the mount point inside the work folder up to the sandbox's root.
                test::BundleBuilder::link(u"../../../victim"_s, volume + u"/Applications"_s);
                const QString image = m_sandbox.root() + u"/Foo.dmg"_s;
                test::writeIsoImage(volume, image);
                return served(image, u"Foo.pkg"_s);
            },
            u"TEAMAAAAAA"_s, u"The download doesn't contain the installer package Foo.pkg."_s, 0 },
        { "tampered",
            [&] { return signedRelease(m_authority.installerId(u"TEAMAAAAAA"_s), XarWriter::Tamper::heap); },
            u"TEAMAAAAAA"_s,
            u"Foo's installer package isn't signed, so Corvanta can't tell who made it. Refusing to run it."_s,
            0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const test::FirstOutcome outcome = installFirst(library(row.team), { row.arrange() });
        EXPECT_EQ(outcome.error.value_or(u"(installed)"_s), row.refusal);
        EXPECT_EQ(outcome.asked.size(), row.asked);
        expectWorld({}, {});
    }
}

// Notarized, the package needs no team on record; the library learns its team.
TEST_F(PackageFlow, NotarizedPackageWithoutALibraryTeam)
{
    const QString package = makePackage(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    notarize(package);
    Release download = served(package);
    download.download->sha256 = Updater::sha256(package).toUpper();
    const test::FirstOutcome outcome = installFirst(library(std::nullopt), { download });
    ASSERT_TRUE(outcome.installed) << outcome.error.value_or(QString()).toStdString();
    EXPECT_EQ(outcome.installed->team, u"TEAMAAAAAA"_s);
    EXPECT_EQ(
        outcome.asked, QList<PackageConsent>({ { u"Foo"_s, leaf, u"TEAMAAAAAA"_s, true, false, true } }));
}

// What happens after consent: the package swapped on disk, a path the
// script can't hold, the prompt cancelled or consent refused, and the prompt
// through the escalation program when it is answered.
TEST_F(PackageFlow, TheAdministratorStep)
{
    const QString marker = m_sandbox.root() + u"/prompted"_s;
    const QString cancelling = script(u"cancel"_s, "touch '" + marker.toUtf8() + "'; exit 126");
    const QString answering = script(u"answer"_s, "touch '" + marker.toUtf8() + "'; exec \"$@\"");
    const QString other
        = makePackage(m_sandbox.root() + u"/other"_s, m_authority.installerId(u"TEAMAAAAAA"_s));
    struct Row {
        const char* name;
        std::optional<QString> escalation;
        bool agree;
        std::function<void()> whileAsked;
        QString refusal;
        bool final;
        bool prompted;
    };
    const auto swap = [this, other] {
        QDirIterator found(m_sandbox.temp(), { u"package.pkg"_s }, QDir::Files, QDirIterator::Subdirectories);
        ASSERT_TRUE(found.hasNext());
        const QString package = found.next();
        QFile::remove(package);
        QFile::copy(other, package);
    };
    const std::vector<Row> rows {
        { "swapped after the check", std::nullopt, true, swap,
            u"Foo's installer package changed after Corvanta checked it (SHA-256 mismatch in the "
            u"administrator "
            u"step). Nothing was installed."_s,
            false, false },
        { "cancelled", cancelling, true, {},
            u"You cancelled the administrator prompt. Nothing was installed."_s, true, true },
        { "declined", cancelling, false, {},
            u"You chose not to run Foo's installer. Nothing was installed."_s, true, false },
        { "answered", answering, true, {}, u"(installed)"_s, false, true },
    };
    const QString package = makePackage(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(marker);
        m_tools.escalation = row.escalation;
        m_server.clearRequests();
        Release second = served(package);
        second.download->url = m_server.url(u"/second.pkg"_s);
        second.download->size.reset();
        const test::FirstOutcome outcome
            = installFirst(library(), { served(package), second }, row.agree, row.whileAsked);
        // A final answer ends the search; anything else is listed and the next release tried.
        const QString expected = row.final || row.refusal == u"(installed)"_s
            ? row.refusal
            : u"Homebrew cask: "_s + row.refusal + u"\nHomebrew cask: Download failed: HTTP 404."_s;
        EXPECT_EQ(outcome.error.value_or(u"(installed)"_s), expected);
        EXPECT_EQ(outcome.final, row.final);
        EXPECT_EQ(QFileInfo::exists(marker), row.prompted);
        EXPECT_EQ(m_server.count(u"/second.pkg"_s), row.final || outcome.installed ? 0 : 1);
        EXPECT_EQ(QFileInfo::exists(m_sandbox.applications() + u"/Foo.app"_s), bool(outcome.installed));
        QDir(m_sandbox.applications() + u"/Foo.app"_s).removeRecursively();
        EXPECT_EQ(m_sandbox.leftovers(), QStringList());
    }
}

// A path the script would have to quote differently is refused before anyone is asked.
TEST_F(PackageFlow, APathWithASpaceIsRefusedBeforeAnyPrompt)
{
    const QString spaced = m_sandbox.root() + u"/tmp with space"_s;
    QDir().mkpath(spaced);
    qputenv("TMPDIR", QFile::encodeName(spaced));
    const QString package = makePackage(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    const test::FirstOutcome outcome = installFirst(library(), { served(package) });
    EXPECT_EQ(
        outcome.error, u"The package's temporary path has unexpected characters. Refusing to run it."_s);
    EXPECT_TRUE(outcome.asked.isEmpty());
    EXPECT_EQ(QDir(spaced).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// The script checks the copy again as administrator, whatever was decided before.
TEST_F(PackageFlow, TheScriptChecksItsOwnCopyAgain)
{
    const ScriptTools tools = m_tools.script();
    const auto run = [&](const QString& package, const QString& digest, const QString& team) -> QString {
        const QString command = rootCommand(package, digest, team, m_sandbox.temp(), true, tools);
        try {
            return test::await(Updater::blocking([command] {
                return runAppleScript(u"do shell script "_s + appleScriptLiteral(command), std::nullopt);
            }));
        } catch (const AppleScriptError& error) {
            return adminFailure(error, u"Foo"_s).description();
        }
    };
    const QString good = makePackage(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    const QString bare = makePackage(m_sandbox.root() + u"/bare"_s, std::nullopt);
    EXPECT_TRUE(run(good, Updater::sha256(good), u"TEAMAAAAAA"_s).startsWith(u"would install "_s));
    EXPECT_EQ(run(good, QString(64, u'0'), u"TEAMAAAAAA"_s),
        u"Foo's installer package changed after Corvanta checked it (SHA-256 mismatch in the administrator "
        u"step). "
        u"Nothing was installed."_s);
    EXPECT_EQ(run(bare, Updater::sha256(bare), u"TEAMAAAAAA"_s),
        u"Foo's installer package isn't signed by a Developer ID Installer certificate Apple trusts (checked "
        u"again "
        u"as administrator). Nothing was installed."_s);
    EXPECT_EQ(run(good, Updater::sha256(good), u"TEAMBBBBBB"_s),
        u"Foo's installer package is signed by another team than the one Corvanta checked (checked again as "
        u"administrator). Nothing was installed."_s);
    EXPECT_EQ(QDir(m_sandbox.temp()).entryList({ u"corvanta-pkg.*"_s }, QDir::AllEntries), QStringList());
}

} // namespace
} // namespace corvanta
