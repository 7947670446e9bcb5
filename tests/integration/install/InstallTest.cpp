#include "InstallWorld.h"
#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"
#include "diskimage/HybridVolume.h"
#include "install/Updater.h"
#include "platform/Ditto.h"
#include "sources/Release.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/EdKey.h"
#include "support/InstallFixtures.h"
#include "support/MachOWriter.h"
#include "support/TestAuthority.h"
#include "support/TestServer.h"
#include "support/ZipWriter.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::AppOptions;
using test::Outcome;
using test::readAll;
using test::Snapshot;

const QString realworld = QStringLiteral(CORVANTA_REALWORLD);

class InstallTest : public test::InstallWorld { };

// One way an update goes through: how the app is signed, how the download
// comes, and the install log it must leave.
struct HappyPath {
    const char* name;
    bool teamSigned; // by TEAMAAAAAA; else ad hoc, vouched for by its EdDSA key
    bool diskImage; // with a licence agreement; else a zip
    SourceKind kind;
    bool statedSize;
    bool checksum; // in capitals, as casks may write it
    bool strayEdSignature; // a signature the installed app has no key for
    QStringList log; // %1: the download's size, %2: the Trash folder
};

void PrintTo(const HappyPath& path, std::ostream* out)
{
    *out << path.name;
}

class HappyPaths : public InstallTest, public testing::WithParamInterface<HappyPath> { };

TEST_P(HappyPaths, LogEveryCheckAndPutTheNewVersionInPlace)
{
    const HappyPath& row = GetParam();
    const test::EdKey key;
    AppOptions options { .edKey = key.publicKey() };
    if (row.teamSigned)
        options = { .team = u"TEAMAAAAAA"_s };
    const QString path = makeApp(m_sandbox.applications(), options);
    const Snapshot old = test::snapshot(path);
    options.version = u"2.0"_s;
    options.build = u"2"_s;
    options.seed = 2;
    const QString volume = m_sandbox.inputs() + u"/volume"_s;
    const QString fresh = makeApp(row.diskImage ? volume : m_sandbox.inputs(), options);
    const Snapshot freshTree = test::snapshot(fresh);
    QByteArray bytes;
    if (row.diskImage) {
        QFile::link(u"/Applications"_s, volume + u"/Applications"_s);
        const QString image = m_sandbox.root() + u"/Foo.dmg"_s;
        udif::WriteOptions licensed;
        licensed.licenseText = u"By opening this image you agree to be nice."_s;
        udif::writeDiskImage(volume, u"Foo"_s, image, licensed);
        bytes = serve(image);
    } else {
        bytes = serveZip(fresh);
    }
    Release update = release(row.kind, bytes, row.statedSize);
    if (row.checksum) {
        update.download->sha256 = QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toUpper());
    }
    if (!row.teamSigned)
        update.download->edSignature = key.sign(bytes);
    if (row.strayEdSignature)
        update.download->edSignature = test::EdKey().sign(bytes);

    const Outcome outcome = install(installed(path), update);
    ASSERT_FALSE(outcome.error) << outcome.error->toStdString();
    QStringList log;
    for (const QString& line : row.log)
        log << QString(line)
                   .replace(u"%1"_s, QString::number(bytes.size()))
                   .replace(u"%2"_s, m_sandbox.trash());
    EXPECT_EQ(*outcome.log, log);
    ASSERT_GE(outcome.phases.size(), 4);
    EXPECT_EQ(outcome.phases.first(), InstallPhase::downloading(0));
    EXPECT_EQ(outcome.phases.at(outcome.phases.size() - 2), InstallPhase::verifying());
    EXPECT_EQ(outcome.phases.last(), InstallPhase::installing());
    expectWorld(test::under(u"Foo.app"_s, freshTree), test::under(u"Foo.app"_s, old));
}

const QString requirementMet
    = u"Code signature valid and meets the installed app's designated requirement (team TEAMAAAAAA)"_s;
const QString newer = u"Bundle com.example.foo 2.0 is newer than 1.0"_s;
const QString swapped = u"Swapped in; the old copy moved to %2"_s;

INSTANTIATE_TEST_SUITE_P(Installs, HappyPaths,
    testing::Values(
        HappyPath { "SparkleZipWithEdDSAForAnAdHocApp", false, false, SourceKind::sparkle, true, false, false,
            { u"Size matches: %1 bytes"_s, u"EdDSA signature valid for Foo's public key"_s,
                u"Code signature valid; the installed app is ad-hoc signed, so its EdDSA key vouched "
                u"for the download"_s,
                newer, swapped } },
        HappyPath { "HomebrewZipWithChecksumAndADeveloperTeam", true, false, SourceKind::homebrew, false,
            true, true,
            { u"Size: %1 bytes (the source doesn't state one)"_s, u"SHA-256 matches the source"_s,
                u"EdDSA signature present, but Foo has no public key to check it against"_s, requirementMet,
                newer, swapped } },
        HappyPath { "DiskImageWithALicenceAgreement", true, true, SourceKind::sparkle, true, false, false,
            { u"Size matches: %1 bytes"_s,
                u"The disk image came with the developer's license agreement, which Corvanta accepted to "
                u"open "
                u"it: the developer's license terms apply to this app."_s,
                requirementMet, newer, swapped } }),
    [](const testing::TestParamInfo<HappyPath>& param) { return std::string(param.param.name); });

TEST_F(InstallTest, TheRealDeveloperIdUpdatePair)
{
    // Apple's own roots and an Apple silicon Mac, which the real app is built for.
    codesign::TrustAnchors apple;
    for (const QString& name : { u"apple-AppleIncRootCertificate.cer"_s, u"apple-AppleRootCA-G3.cer"_s }) {
        for (const QByteArray& der :
            codesign::TrustAnchors::parseCertificates(readAll(realworld + u"/macho/"_s + name)))
            apple.add(der);
    }
    auto signing = std::make_unique<codesign::PortableCodeSigning>(apple, CpuType::arm64);
    // No time to ask Apple's revocation service: the test stays offline, and
    // the log says the check couldn't be made.
    signing->setRevocationDeadline(std::chrono::milliseconds(0));
    m_services.codeSigning = std::move(signing);
    const QString unpacked = m_sandbox.inputs() + u"/v1"_s;
    Ditto::create()->extractZip(realworld + u"/zip/sparkle-DevSignedApp.zip"_s, unpacked);
    const QString path = m_sandbox.applications() + u"/DevSignedApp.app"_s;
    ASSERT_TRUE(QDir().rename(unpacked + u"/DevSignedApp.app"_s, path));
    const Snapshot old = test::snapshot(path);
    const QByteArray zip = serve(realworld + u"/zip/sparkle-DevSignedAppVersion2.zip"_s);

    const Outcome outcome = install(installed(path), release(SourceKind::sparkle, zip));
    ASSERT_FALSE(outcome.error) << outcome.error->toStdString();
    EXPECT_EQ(*outcome.log,
        QStringList({
            u"Size matches: %1 bytes"_s.arg(zip.size()),
            u"The certificate's revocation service at http://ocsp.apple.com/ocsp03-devid06 didn't answer in "
            u"time; accepted, as macOS does when it can't check."_s,
            u"Code signature valid and meets the installed app's designated requirement (team ZCK58M894E)"_s,
            u"Bundle com.zoo.SignedApp 2.0 is newer than 1.0"_s,
            u"Swapped in; the old copy moved to "_s + m_sandbox.trash(),
        }));
    const QString version2 = m_sandbox.inputs() + u"/v2"_s;
    Ditto::create()->extractZip(realworld + u"/zip/sparkle-DevSignedAppVersion2.zip"_s, version2);
    expectWorld(test::under(u"DevSignedApp.app"_s, test::snapshot(version2 + u"/DevSignedAppVersion2.app"_s)),
        test::under(u"DevSignedApp.app"_s, old));
}

// The platform's verifier, except that it can't make a code object for
// anything being staged: what macOS answers for code it can't open, which
// our own verifier never says of a bundle that exists.
class NoCodeObjectWhenStaged : public CodeSigning {
public:
    explicit NoCodeObjectWhenStaged(std::unique_ptr<CodeSigning> real)
        : m_real(std::move(real))
    {
    }
    SigningInformation signing(const QString& path) const override { return m_real->signing(path); }
    ValidityResult checkValidity(
        const QString& path, std::uint32_t flags, const std::optional<QString>& requirement) const override
    {
        if (path.contains(u"/.corvanta-"_s))
            return ValidityResult::of(SigningStatus::staticCodeNotFound);
        return m_real->checkValidity(path, flags, requirement);
    }
    std::optional<QString> designatedRequirement(const QString& path) const override
    {
        return m_real->designatedRequirement(path);
    }
    bool compilesRequirement(const QString& text) const override { return m_real->compilesRequirement(text); }
    std::vector<std::uint32_t> architectures(const QString& path) const override
    {
        return m_real->architectures(path);
    }

private:
    std::unique_ptr<CodeSigning> m_real;
};

class Refusals;

// One way an update goes wrong: what to serve and what the user reads.
struct Refusal {
    const char* name;
    std::function<void(Refusals&, InstalledApp&, Release&)> arrange;
    QString text; // %APPS% stands for the applications folder
    bool requestsNothing = false; // refused before the download
    enum { never, beforehand, whileInstalling } launch = never; // when the app runs
};

class Refusals : public InstallTest, public testing::WithParamInterface<Refusal> {
public:
    using InstallTest::makeApp;
    using InstallTest::release;
    using InstallTest::serve;
    using InstallTest::serveZip;
    QString inputs() const { return m_sandbox.inputs(); }
    test::TestServer& server() { return m_server; }
    test::TestServices& services() { return m_services; }
    QString root() const { return m_sandbox.root(); }
    const test::EdKey& key() const { return m_key; }

private:
    test::EdKey m_key;
};

// A newer build of Foo as the team signs it, zipped and served, with its
// release: the starting point every refusal changes one thing of.
QByteArray goodUpdate(Refusals& fixture, InstalledApp&, Release& update, AppOptions options = {})
{
    options.version = u"2.0"_s;
    options.build = u"2"_s;
    options.seed = 2;
    if (!options.team && !options.unsignedCode && !options.adHoc)
        options.team = u"TEAMAAAAAA"_s;
    QDir(fixture.inputs() + u"/Foo.app"_s).removeRecursively();
    const QByteArray zip = fixture.serveZip(fixture.makeApp(fixture.inputs(), options));
    update = fixture.release(SourceKind::sparkle, zip);
    return zip;
}

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.name;
}

TEST_P(Refusals, LeaveTheInstalledAppUntouched)
{
    const Refusal& row = GetParam();
    const QString path = makeApp(m_sandbox.applications(), { .team = u"TEAMAAAAAA"_s });
    InstalledApp app = installed(path);
    Release update;
    goodUpdate(*this, app, update);
    row.arrange(*this, app, update);
    m_server.clearRequests();

    // A copy of sleep inside the bundle stands for the app's own process.
    const QString executable = path + u"/Contents/MacOS/sleeper"_s;
    if (row.launch != Refusal::never) {
        ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, executable));
    }
    const Snapshot before = test::snapshot(m_sandbox.applications());
    QProcess process;
    const auto launch = [&] {
        process.start(executable, { u"30"_s });
        process.waitForStarted();
    };
    if (row.launch == Refusal::beforehand)
        launch();
    const Outcome outcome = install(app, update, [&](const InstallPhase& phase) {
        if (phase == InstallPhase::installing() && row.launch == Refusal::whileInstalling)
            launch();
    });
    process.kill();
    process.waitForFinished();

    QString text = row.text;
    text.replace(u"%APPS%"_s, QFileInfo(m_sandbox.applications()).canonicalFilePath());
    EXPECT_EQ(outcome.error.value_or(u"(installed)"_s), text);
    EXPECT_EQ(test::difference(before, test::snapshot(m_sandbox.applications())), QString());
    EXPECT_EQ(test::snapshot(m_sandbox.trash()).size(), 1);
    EXPECT_EQ(m_sandbox.leftovers(), QStringList());
    if (row.requestsNothing) {
        EXPECT_TRUE(m_server.requests().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, Refusals,
    testing::Values(Refusal { "no download", [](auto&, auto&, Release& r) { r.download.reset(); },
                        u"Sparkle doesn't offer a download Corvanta can install."_s, true },
        Refusal { "a store release", [](auto&, auto&, Release& r) { r.kind = SourceKind::appStore; },
            u"Mac App Store doesn't offer a download Corvanta can install."_s, true },
        Refusal { "outside the folder",
            [](Refusals& fixture, InstalledApp& a, auto&) {
                const QString elsewhere = fixture.root() + u"/Elsewhere"_s;
                a.url = QUrl::fromLocalFile(fixture.makeApp(elsewhere, { .team = u"TEAMAAAAAA"_s }));
            },
            u"Foo isn't inside %APPS%."_s, true },
        Refusal { "running", [](auto&, auto&, auto&) {}, u"Foo is running. Quit it first."_s, true,
            Refusal::beforehand },
        Refusal { "EdDSA key without a signature", [](auto&, InstalledApp& a, auto&) { a.edKey = u"AAAA"_s; },
            u"Foo only accepts EdDSA-signed updates, and this one isn't signed."_s, true },
        Refusal { "neither key nor developer",
            [](Refusals&, InstalledApp& a, auto&) {
                a.team.reset();
                codesign::CodeSigner(codesign::SigningOptions {}).sign(a.url.toLocalFile());
            },
            u"Foo isn't signed by a developer, so Corvanta can't confirm the download is genuine. Download "
            u"it from "
            u"its website."_s,
            true },
        Refusal { "empty",
            [](Refusals& fixture, auto&, Release& r) {
                fixture.server().on(u"/Foo.zip"_s, test::Response {});
                r.download->size.reset();
            },
            u"The download is empty."_s },
        Refusal { "size",
            [](Refusals& fixture, auto&, Release& r) {
                // Without a length the server can't be caught early; the file is.
                fixture.server().on(u"/Foo.zip"_s,
                    test::Response { .body = QByteArray(1000, 'x'), .omitContentLength = true });
                r.download->size = 999;
            },
            u"The download is 1000 bytes but should be 999. It may be incomplete or corrupted."_s },
        Refusal { "checksum", [](auto&, auto&, Release& r) { r.download->sha256 = QString(64, u'0'); },
            u"SHA-256 checksum mismatch. The download is corrupted or not the file the source published."_s },
        Refusal { "EdDSA mismatch",
            [](Refusals& fixture, InstalledApp& a, Release& r) {
                a.edKey = fixture.key().publicKey();
                r.download->edSignature = fixture.key().sign("another file");
            },
            u"EdDSA signature doesn't match Foo's public key. The download is corrupted or was tampered with."_s },
        Refusal { "EdDSA malformed",
            [](Refusals& fixture, InstalledApp& a, Release& r) {
                a.edKey = fixture.key().publicKey();
                r.download->edSignature = u"not*base64"_s;
            },
            u"The EdDSA key or signature is malformed."_s },
        Refusal { "link out of the app",
            [](Refusals& fixture, auto&, Release& r) {
                const QString zip = fixture.root() + u"/evil.zip"_s;
                {
                    test::ZipWriter writer(zip);
                    writer.file(u"Foo.app/Contents/Info.plist"_s, "x")
                        .link(u"Foo.app/Contents/Up"_s, u"../../.."_s);
                }
                r = fixture.release(SourceKind::sparkle, fixture.serve(zip));
            },
            u"The download contains a link to a location outside the app (Up \u2192 ../../..). Refusing to install."_s },
        Refusal { "not an archive",
            [](Refusals& fixture, auto&, Release& r) {
                r = fixture.release(
                    SourceKind::sparkle, fixture.serve(realworld + u"/eddsa/sparkle-signed-test-file.txt"_s));
            },
            u"Unsupported download format. Corvanta installs from .zip and .dmg only."_s },
        Refusal { "unsigned",
            [](Refusals& fixture, InstalledApp& a, Release& r) {
                goodUpdate(fixture, a, r, { .unsignedCode = true });
            },
            u"The new version's code signature is invalid: code object is not signed at all."_s },
        Refusal { "another developer",
            [](Refusals& fixture, InstalledApp& a, Release& r) {
                goodUpdate(fixture, a, r, { .team = u"TEAMBBBBBB"_s });
            },
            u"The download isn't signed by the developer of the installed Foo (it doesn't meet the installed "
            u"app's "
            u"designated requirement; the download is signed by TEAMBBBBBB). Refusing to install."_s },
        // A designated requirement names the identifier, so only an app
        // vouched for by its EdDSA key gets as far as comparing identifiers.
        Refusal { "another app",
            [](Refusals& fixture, InstalledApp& a, Release& r) {
                codesign::CodeSigner(codesign::SigningOptions {}).sign(a.url.toLocalFile());
                a.team.reset();
                a.edKey = fixture.key().publicKey();
                const QByteArray zip
                    = goodUpdate(fixture, a, r, { .bundleID = u"com.example.bar"_s, .adHoc = true });
                r.download->edSignature = fixture.key().sign(zip);
            },
            u"The download contains a different app, not com.example.foo."_s },
        Refusal { "not newer",
            [](auto&, InstalledApp& a, auto&) {
                a.version = u"2.0"_s;
                a.build = u"2"_s;
            },
            u"The download is version 2.0, not newer than the installed 2.0. Refusing to downgrade."_s },
        // 2023 is a build counter, 2.0 a dotted version: no answer is no update.
        Refusal { "versions that can't be compared",
            [](auto&, InstalledApp& a, auto&) {
                a.version = u"2023"_s;
                a.build = u"2023"_s;
            },
            u"The download is version 2.0, not newer than the installed 2023. Refusing to downgrade."_s },
        Refusal { "no code object",
            [](Refusals& fixture, auto&, auto&) {
                std::unique_ptr<CodeSigning>& verifier = fixture.services().codeSigning;
                verifier = std::make_unique<NoCodeObjectWhenStaged>(std::move(verifier));
            },
            u"The new version isn't code signed."_s },
        // Abandoned after the work folder was made, with part of a file in it.
        Refusal { "download failed",
            [](Refusals& fixture, auto&, Release& r) {
                fixture.server().on(u"/Foo.zip"_s, test::Response { .status = 500, .body = "oops" });
                r.download->size.reset();
            },
            u"Download failed: HTTP 500."_s },
        Refusal { "another processor",
            [](Refusals& fixture, InstalledApp& a, Release& r) {
                goodUpdate(fixture, a, r,
                    { .cpuType
                        = CpuType::ofThisBuild() == CpuType::arm64 ? CpuType::x86_64 : CpuType::arm64 });
            },
            u"The download doesn't include a build for this Mac's processor."_s },
        Refusal { "opened again", [](auto&, auto&, auto&) {}, u"Foo was opened again. Quit it and retry."_s,
            false, Refusal::whileInstalling }),
    [](const testing::TestParamInfo<Refusal>& param) {
        std::string name = param.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
            '_');
        return name;
    });

} // namespace
} // namespace corvanta
