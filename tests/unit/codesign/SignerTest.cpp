#include "Printers.h"
#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"
#include "support/BundleBuilder.h"
#include "support/MachOWriter.h"
#include "support/SigningFixtures.h"
#include "support/TestAuthority.h"

#include <functional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

constexpr std::uint32_t installerFlags = ValidityFlags::installer;
const QString team = u"TESTTEAM01"_s;
const QString developerIdRequirement
    = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] "
      u"exists and certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;

QString libraryRequirement(const QString& teamId)
{
    return u"anchor apple generic and certificate leaf[subject.OU] = \""_s + teamId + u'"';
}

// One authority for the whole program: making keys is cheap, but not free.
const test::TestAuthority& authority()
{
    static const test::TestAuthority instance;
    return instance;
}

class SignedBundle : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        app = test::makeSampleApp(dir.path());
        SigningOptions options;
        options.identity = authority().developerId(team);
        CodeSigner(options).sign(app);
    }

    PortableCodeSigning signing { authority().anchors() };
    QTemporaryDir dir;
    QString app;
};

TEST_F(SignedBundle, ValidatesAndReportsItsIdentity)
{
    EXPECT_EQ(signing.checkValidity(app, installerFlags).status, SigningStatus::ok);
    EXPECT_EQ(signing.signing(app).team, team);
    EXPECT_EQ(signing.signing(app).identifier, u"com.example.app"_s);
    EXPECT_EQ(signing.architectures(app), (std::vector<std::uint32_t> { CpuType::x86_64, CpuType::arm64 }));
    const auto designated = signing.designatedRequirement(app);
    ASSERT_TRUE(designated);
    EXPECT_EQ(*designated,
        u"identifier \"com.example.app\" and anchor apple generic and certificate "
        u"1[field.1.2.840.113635.100.6.2.6] /* exists */ and certificate "
        u"leaf[field.1.2.840.113635.100.6.1.13] /* "
        u"exists */ and certificate leaf[subject.OU] = TESTTEAM01"_s);
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, designated).isValid());
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, libraryRequirement(team)).isValid());
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, developerIdRequirement).isValid());
    EXPECT_EQ(signing.checkValidity(app, installerFlags, libraryRequirement(u"OTHERTEAM1"_s)).status,
        SigningStatus::requirementFailed);
    EXPECT_EQ(signing.checkValidity(app, installerFlags, u"anchor apple generic and"_s).status,
        SigningStatus::requirementInvalid);

    // Nested code carries its own signature, sealed into the bundle's.
    const QString framework = app + u"/Contents/Frameworks/Helper.framework"_s;
    EXPECT_TRUE(signing.checkValidity(framework, installerFlags).isValid());
    EXPECT_EQ(signing.signing(framework).identifier, u"com.example.Helper"_s);
    EXPECT_EQ(signing.signing(app + u"/Contents/MacOS/helper-tool"_s).team, team);
    const QByteArray seal = test::readFile(app + u"/Contents/_CodeSignature/CodeResources"_s);
    EXPECT_TRUE(seal.contains("Frameworks/Helper.framework"));
    EXPECT_TRUE(seal.contains("Library/LoginItems/Launcher.app"));
    EXPECT_TRUE(seal.contains("<key>symlink</key>"));
}

TEST_F(SignedBundle, AnotherAuthorityFailsTheDesignatedRequirement)
{
    const QString installed = *signing.designatedRequirement(app);
    const test::TestAuthority impostor(u"Impostor Root CA"_s);
    SigningOptions options;
    options.identity = impostor.developerId(team); // same team name, other root
    options.appleRoot = false;
    CodeSigner(options).sign(app);

    // The signature itself is sound, so the code is valid on its own…
    EXPECT_TRUE(signing.checkValidity(app, installerFlags).isValid());
    EXPECT_EQ(signing.signing(app).team, team);
    // …but it comes from no configured root, so it isn't the same developer.
    const ValidityResult result = signing.checkValidity(app, installerFlags, installed);
    EXPECT_EQ(result.status, SigningStatus::requirementFailed);
    EXPECT_EQ(result.message, u"code failed to satisfy specified code requirement(s)"_s);
    EXPECT_EQ(signing.checkValidity(app, installerFlags, libraryRequirement(team)).status,
        SigningStatus::requirementFailed);
}

TEST_F(SignedBundle, AnotherTeamOfTheSameAuthorityFailsTheDesignatedRequirement)
{
    const QString installed = *signing.designatedRequirement(app);
    SigningOptions options;
    options.identity = authority().developerId(u"OTHERTEAM1"_s);
    CodeSigner(options).sign(app);
    EXPECT_TRUE(signing.checkValidity(app, installerFlags).isValid());
    EXPECT_EQ(signing.checkValidity(app, installerFlags, installed).status, SigningStatus::requirementFailed);
}

TEST_F(SignedBundle, ANewerVersionFromTheSameDeveloperSatisfiesTheOldRequirement)
{
    const QString installed = *signing.designatedRequirement(app);
    QTemporaryDir other;
    const QString update = test::makeSampleApp(other.path(), u"com.example.app"_s, u"2.0"_s, 7);
    SigningOptions options;
    options.identity = authority().developerId(team); // a fresh leaf, as after a certificate renewal
    CodeSigner(options).sign(update);
    EXPECT_TRUE(signing.checkValidity(update, installerFlags, installed).isValid());
}

// A change to a signed bundle and the status the verifier must answer with.
struct Tamper {
    const char* name;
    std::function<void(const QString& app)> change;
    int status;
    bool againstDesignated = false;
};

void PrintTo(const Tamper& tamper, std::ostream* out)
{
    *out << tamper.name;
}

class TamperMatrix : public SignedBundle, public testing::WithParamInterface<Tamper> { };

TEST_P(TamperMatrix, FailsWithThePlatformsMessage)
{
    const std::optional<QString> installed = signing.designatedRequirement(app);
    GetParam().change(app);
    const ValidityResult result
        = signing.checkValidity(app, installerFlags, GetParam().againstDesignated ? installed : std::nullopt);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_EQ(result.message, SigningStatus::message(GetParam().status));
}

QString executable(const QString& app)
{
    return app + u"/Contents/MacOS/Example"_s;
}

INSTANTIATE_TEST_SUITE_P(Changes, TamperMatrix,
    testing::Values(Tamper { "CodePageOfTheFirstArchitecture",
                        [](const QString& app) {
                            test::flipByte(executable(app),
                                test::signatureLayout(executable(app), 0).sliceOffset + 0x1000 + 77);
                        },
                        SigningStatus::signatureFailed },
        Tamper { "CodePageOfTheSecondArchitecture",
            [](const QString& app) {
                test::flipByte(
                    executable(app), test::signatureLayout(executable(app), 1).sliceOffset + 0x2000);
            },
            SigningStatus::signatureFailed },
        Tamper { "MachOHeader", [](const QString& app) { test::flipByte(executable(app), 0x4000 + 40); },
            SigningStatus::signatureFailed },
        Tamper { "InfoPlist",
            [](const QString& app) {
                const QString path = app + u"/Contents/Info.plist"_s;
                test::writeFile(path, test::readFile(path).replace("1.0", "9.9"));
            },
            SigningStatus::infoPlistFailed },
        Tamper { "ModifiedResource",
            [](const QString& app) { test::flipByte(app + u"/Contents/Resources/icon.icns"_s, 10); },
            SigningStatus::badResource },
        Tamper { "ModifiedBaseLocalization",
            [](const QString& app) { test::flipByte(app + u"/Contents/Resources/Base.lproj/Main.nib"_s, 1); },
            SigningStatus::badResource },
        Tamper { "AddedFile",
            [](const QString& app) { test::writeFile(app + u"/Contents/Resources/extra.txt"_s, "new"); },
            SigningStatus::badResource },
        Tamper { "RemovedFile",
            [](const QString& app) { QFile::remove(app + u"/Contents/Resources/icon.icns"_s); },
            SigningStatus::badResource },
        Tamper { "RetargetedLink",
            [](const QString& app) {
                const QString link = app + u"/Contents/Resources/AppIcon.icns"_s;
                QFile::remove(link);
                ::symlink("Base.lproj/Main.nib", QFile::encodeName(link).constData());
            },
            SigningStatus::badResource },
        Tamper { "LinkReplacedByItsTarget",
            [](const QString& app) {
                const QString link = app + u"/Contents/Resources/AppIcon.icns"_s;
                QFile::remove(link);
                QFile::copy(app + u"/Contents/Resources/icon.icns"_s, link);
            },
            SigningStatus::badResource },
        Tamper { "NestedFrameworkCode",
            [](const QString& app) {
                test::flipByte(
                    app + u"/Contents/Frameworks/Helper.framework/Versions/A/Helper"_s, 0x1000 + 5);
            },
            SigningStatus::badNestedCode },
        Tamper { "NestedFrameworkResource",
            [](const QString& app) {
                test::writeFile(
                    app + u"/Contents/Frameworks/Helper.framework/Versions/A/Resources/strings.txt"_s,
                    "changed");
            },
            SigningStatus::badNestedCode },
        Tamper { "NestedHelperReplacedByUnsignedCode",
            [](const QString& app) {
                test::writeFile(app + u"/Contents/MacOS/helper-tool"_s,
                    test::MachOWriter::executable(test::MachOWriter::arm64, 5000, 99));
            },
            SigningStatus::unsignedNestedCode },
        Tamper { "LoginItemExecutable",
            [](const QString& app) {
                test::flipByte(
                    app + u"/Contents/Library/LoginItems/Launcher.app/Contents/MacOS/Launcher"_s, 0x1010);
            },
            SigningStatus::badNestedCode },
        Tamper { "RequirementsBlob",
            [](const QString& app) {
                test::flipByte(executable(app), test::signatureLayout(executable(app)).requirements + 30);
            },
            SigningStatus::signatureFailed },
        Tamper { "CodeDirectoryTeam",
            [](const QString& app) {
                const QString path = executable(app);
                const qint64 directory = test::signatureLayout(path).codeDirectory;
                QByteArray bytes = test::readFile(path);
                const qsizetype at = bytes.indexOf("TESTTEAM01", directory);
                bytes.replace(at, 10, "EVILTEAM99");
                test::writeFile(path, bytes);
            },
            SigningStatus::signatureFailed },
        Tamper { "CmsSignatureValue",
            [](const QString& app) {
                const test::SignatureLayout layout = test::signatureLayout(executable(app));
                test::flipByte(executable(app), layout.cms + layout.cmsLength - 3);
            },
            SigningStatus::signatureFailed },
        Tamper { "ResourceSeal",
            [](const QString& app) {
                const QString path = app + u"/Contents/_CodeSignature/CodeResources"_s;
                test::writeFile(path, test::readFile(path).replace("<key>files</key>", "<key>filez</key>"));
            },
            SigningStatus::resourceDirectoryFailed },
        Tamper { "ResourceSealRemoved",
            [](const QString& app) { QFile::remove(app + u"/Contents/_CodeSignature/CodeResources"_s); },
            SigningStatus::resourcesNotFound },
        // A genuine sibling from the same developer: followed, the link would pass as it.
        Tamper { "ContentsLinkedToAnotherApp",
            [](const QString& app) {
                SigningOptions options;
                options.identity = authority().developerId(team);
                CodeSigner(options).sign(test::makeSampleApp(QFileInfo(app).path() + u"/Sibling"_s));
                QDir(app + u"/Contents"_s).removeRecursively();
                ::symlink(
                    "../Sibling/Example.app/Contents", QFile::encodeName(app + u"/Contents"_s).constData());
            },
            SigningStatus::unsealedAppRoot, true },
        Tamper { "FileBesideContents",
            [](const QString& app) { test::writeFile(app + u"/README"_s, "unsealed"); },
            SigningStatus::unsealedAppRoot },
        Tamper { "TruncatedExecutable",
            [](const QString& app) {
                QFile file(executable(app));
                file.open(QIODevice::ReadWrite);
                file.resize(file.size() - 100);
            },
            SigningStatus::badObjectFormat },
        Tamper { "MainExecutableTruncatedToItsHeader",
            [](const QString& app) {
                QFile file(executable(app));
                file.open(QIODevice::ReadWrite);
                file.resize(64);
            },
            SigningStatus::badObjectFormat },
        Tamper { "MainExecutableReplacedByALink",
            [](const QString& app) {
                const QString elsewhere = app + u"/../Example-elsewhere"_s;
                QFile::rename(executable(app), elsewhere);
                ::symlink(
                    QFile::encodeName(elsewhere).constData(), QFile::encodeName(executable(app)).constData());
            },
            SigningStatus::regularFile },
        Tamper { "MainExecutableRemoved", [](const QString& app) { QFile::remove(executable(app)); },
            SigningStatus::noMainExecutable },
        // Nested code whose sealed requirement names Apple's anchor can't come from another root.
        Tamper { "OtherAuthorityWithApplesRequirements",
            [](const QString& app) {
                const test::TestAuthority impostor(u"Impostor Root CA"_s);
                SigningOptions options;
                options.identity = impostor.developerId(team);
                CodeSigner(options).sign(app);
            },
            SigningStatus::badNestedCode },
        Tamper { "AdHocResign", [](const QString& app) { CodeSigner(SigningOptions {}).sign(app); },
            SigningStatus::requirementFailed, true },
        // What the rules leave out may change freely.
        Tamper { "OmittedDsStoreAdded",
            [](const QString& app) { test::writeFile(app + u"/Contents/Resources/.DS_Store"_s, "finder"); },
            SigningStatus::ok, true },
        Tamper { "OptionalLocalizationRemoved",
            [](const QString& app) {
                QFile::remove(app + u"/Contents/Resources/en.lproj/Localizable.strings"_s);
            },
            SigningStatus::ok, true }));

TEST(Signer, AdHocSignaturesHaveNoTeamAndFailAppleAnchors)
{
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    CodeSigner(SigningOptions {}).sign(app);
    const PortableCodeSigning signing { authority().anchors() };
    EXPECT_TRUE(signing.checkValidity(app, installerFlags).isValid());
    EXPECT_FALSE(signing.signing(app).team);
    EXPECT_EQ(signing.signing(app).identifier, u"com.example.app"_s);
    EXPECT_EQ(signing.checkValidity(app, installerFlags, u"anchor apple generic"_s).status,
        SigningStatus::requirementFailed);
    const auto designated = signing.designatedRequirement(app);
    ASSERT_TRUE(designated);
    EXPECT_TRUE(designated->startsWith(u"cdhash H\""_s)) << designated->toStdString();
    EXPECT_TRUE(designated->contains(u" or cdhash H\""_s)); // one per architecture
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, designated).isValid());

    // Ad-hoc code is only ever itself: a rebuild is other code.
    QTemporaryDir other;
    const QString rebuilt = test::makeSampleApp(other.path(), u"com.example.app"_s, u"1.0"_s, 5);
    CodeSigner(SigningOptions {}).sign(rebuilt);
    EXPECT_EQ(
        signing.checkValidity(rebuilt, installerFlags, designated).status, SigningStatus::requirementFailed);
}

TEST(Signer, SelfSignedIdentityIsValidButAnchoredNowhere)
{
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    SigningOptions options;
    options.identity = test::TestAuthority::selfSigned(u"Local Signer"_s, u"ABCDE12345"_s);
    options.team = QString(); // the OU is no team unless the signer names one
    CodeSigner(options).sign(app);
    const PortableCodeSigning signing { authority().anchors() };
    EXPECT_TRUE(signing.checkValidity(app, installerFlags).isValid());
    EXPECT_FALSE(signing.signing(app).team);
    const auto designated = signing.designatedRequirement(app);
    ASSERT_TRUE(designated);
    EXPECT_TRUE(designated->startsWith(u"identifier \"com.example.app\" and certificate root = H\""_s));
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, designated).isValid());
    EXPECT_EQ(signing.checkValidity(app, installerFlags, libraryRequirement(u"ABCDE12345"_s)).status,
        SigningStatus::requirementFailed);
}

TEST(Signer, EntitlementsAreBoundAndEvaluated)
{
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    SigningOptions options;
    options.identity = authority().developerId(team);
    options.flags = codeFlags::runtime;
    options.entitlements
        = QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                     "<key>com.apple.security.app-sandbox</key><true/></dict></plist>\n");
    CodeSigner(options).sign(app);
    const PortableCodeSigning signing { authority().anchors() };
    EXPECT_TRUE(
        signing
            .checkValidity(app, installerFlags, u"entitlement[\"com.apple.security.app-sandbox\"] exists"_s)
            .isValid());
    const auto image = SignedImage::open(app + u"/Contents/MacOS/Example"_s);
    EXPECT_EQ(image->slices()[0].signature->primary().flags, codeFlags::runtime);

    test::flipByte(app + u"/Contents/MacOS/Example"_s,
        test::signatureLayout(app + u"/Contents/MacOS/Example"_s).entitlements + 60);
    EXPECT_EQ(signing.checkValidity(app, installerFlags).status, SigningStatus::signatureFailed);
}

TEST(Signer, LinksLeavingTheBundleFailStrictValidation)
{
    // Straight out, and out through a link that is harmless on its own ("up" is Contents).
    const std::vector<std::vector<std::pair<const char*, const char*>>> rows {
        { { "escape", "../../../outside" } },
        { { "up", ".." }, { "escape", "up/../../outside" } },
    };
    const PortableCodeSigning signing { authority().anchors() };
    for (const auto& links : rows) {
        QTemporaryDir dir;
        const QString app = test::makeSampleApp(dir.path());
        for (const auto& [name, target] : links) {
            const QString link = app + u"/Contents/Resources/"_s + QLatin1StringView(name);
            ::symlink(target, QFile::encodeName(link).constData());
        }
        SigningOptions options;
        options.identity = authority().developerId(team);
        CodeSigner(options).sign(app);
        EXPECT_EQ(signing.checkValidity(app, installerFlags).status, SigningStatus::invalidSymlink)
            << links.back().second;
        EXPECT_TRUE(signing.checkValidity(app, ValidityFlags::checkAllArchitectures).isValid());
    }
}

// The Team ID is the certificate's to give: a directory naming a team its leaf
// doesn't carry is refused, and that team is never reported.
TEST(Signer, TheTeamIsTheLeafs)
{
    test::LeafOptions withoutTeam;
    withoutTeam.teamInSubject = false;
    const std::vector<std::pair<const char*, SigningIdentity>> rows {
        { "another team's leaf", authority().developerId(u"OTHERTEAM1"_s) },
        { "a leaf without a team", authority().identity(withoutTeam) },
    };
    const PortableCodeSigning signing { authority().anchors() };
    for (const auto& [name, identity] : rows) {
        QTemporaryDir dir;
        const QString app = test::makeSampleApp(dir.path());
        SigningOptions options;
        options.identity = identity;
        options.team = team;
        CodeSigner(options).sign(app);
        EXPECT_EQ(signing.checkValidity(app, installerFlags).status, SigningStatus::signatureInvalid) << name;
        EXPECT_FALSE(signing.signing(app).team) << name;
    }
}

// Code from a private root is known by the root's hash; every link up to it
// must be proven by a signature, not by the names certificates give.
TEST(Signer, PrivateRootChainsAreProvenBySignatures)
{
    const test::TestAuthority privateRoot(u"Private Root CA"_s);
    const PortableCodeSigning signing { authority().anchors() };
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    SigningOptions options;
    options.appleRoot = false;
    options.identity = privateRoot.developerId(team);
    CodeSigner(options).sign(app);
    const auto installed = signing.designatedRequirement(app);
    ASSERT_TRUE(installed && installed->contains(u"certificate root = H\""_s));

    SigningIdentity forgedAlone = privateRoot.forgery(team);
    forgedAlone.chain.clear();
    struct Row {
        const char* name;
        SigningIdentity identity;
        int status;
        int againstInstalled;
    };
    const std::vector<Row> rows {
        { "genuine, a fresh leaf", privateRoot.developerId(team), SigningStatus::ok, SigningStatus::ok },
        { "forged leaf with the root it names", privateRoot.forgery(team), SigningStatus::signatureFailed,
            SigningStatus::signatureFailed },
        { "forged leaf alone", forgedAlone, SigningStatus::ok, SigningStatus::requirementFailed },
    };
    options.signNestedCode = false; // the main executable's signature is the one on trial
    for (const Row& row : rows) {
        options.identity = row.identity;
        options.designatedRequirement = installed; // what the signer claims proves nothing
        CodeSigner(options).sign(app);
        EXPECT_EQ(signing.checkValidity(app, installerFlags).status, row.status) << row.name;
        EXPECT_EQ(signing.checkValidity(app, installerFlags, installed).status, row.againstInstalled)
            << row.name;
    }
}

TEST(Signer, OnlyTheHostArchitectureIsCheckedWithoutTheAllArchitecturesFlag)
{
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    SigningOptions options;
    options.identity = authority().developerId(team);
    CodeSigner(options).sign(app);
    const QString main = app + u"/Contents/MacOS/Example"_s;
    test::flipByte(main, test::signatureLayout(main, 0).sliceOffset + 0x1800); // the x86_64 slice
    const PortableCodeSigning arm { authority().anchors(), CpuType::arm64 };
    const PortableCodeSigning intel { authority().anchors(), CpuType::x86_64 };
    EXPECT_TRUE(arm.checkValidity(app, ValidityFlags::strictValidate).isValid());
    EXPECT_EQ(intel.checkValidity(app, ValidityFlags::strictValidate).status, SigningStatus::signatureFailed);
    EXPECT_EQ(arm.checkValidity(app, installerFlags).status, SigningStatus::signatureFailed);
}

TEST(Signer, ResignsCompilerOutput)
{
    for (const QString& architecture : { u"arm64"_s, u"x86_64"_s }) {
        const QByteArray built = test::MachOWriter::compiled(architecture);
        if (built.isEmpty())
            GTEST_SKIP() << "clang with ld64.lld is not installed";
        QTemporaryDir dir;
        const QString tool = dir.filePath(u"tool"_s);
        test::writeFile(tool, built);
        const PortableCodeSigning signing { authority().anchors() };
        // As linked: ad-hoc, linker-signed, no team, yet valid.
        EXPECT_TRUE(signing.checkValidity(tool, installerFlags).isValid()) << architecture.toStdString();
        EXPECT_FALSE(signing.signing(tool).team);

        SigningOptions options;
        options.identity = authority().developerId(team);
        options.identifier = u"com.example.tool"_s;
        CodeSigner(options).sign(tool);
        EXPECT_TRUE(signing.checkValidity(tool, installerFlags, libraryRequirement(team)).isValid())
            << architecture.toStdString();
        EXPECT_EQ(signing.signing(tool).identifier, u"com.example.tool"_s);
    }
}

TEST(Signer, TimestampsDecideWhenCertificatesAreJudged)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    test::LeafOptions expired;
    expired.team = team;
    expired.notBefore = now.addYears(-3);
    expired.notAfter = now.addYears(-1);
    const SigningIdentity identity = authority().identity(expired);
    const PortableCodeSigning signing { authority().anchors() };
    const std::uint32_t considerExpiration = installerFlags | ValidityFlags::considerExpiration;

    struct Row {
        const char* name;
        std::optional<QDateTime> stampedAt;
        bool validByDefault;
        bool validWhenExpiryCounts;
    };
    const std::vector<Row> rows {
        { "stamped while the leaf was valid", now.addYears(-2), true, true },
        { "stamped after the leaf expired", now.addMonths(-6), false, false },
        { "stamped before the leaf was issued", now.addYears(-4), false, false },
        { "not stamped", std::nullopt, true, false },
    };
    for (const Row& row : rows) {
        QTemporaryDir dir;
        const QString app = test::makeSampleApp(dir.path());
        SigningOptions options;
        options.identity = identity;
        if (row.stampedAt)
            options.timestamper = authority().timestamper(*row.stampedAt);
        CodeSigner(options).sign(app);
        EXPECT_EQ(signing.checkValidity(app, installerFlags, libraryRequirement(team)).isValid(),
            row.validByDefault)
            << row.name;
        EXPECT_EQ(signing.checkValidity(app, considerExpiration).isValid(), row.validWhenExpiryCounts)
            << row.name;
    }
    const test::TestAuthority stranger(u"Stranger Root CA"_s);
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    SigningOptions options;
    options.identity = identity;
    // A timestamp from an authority nobody trusts proves nothing, so the
    // expired leaf counts as unstamped.
    options.timestamper = stranger.timestamper(now.addYears(-2));
    CodeSigner(options).sign(app);
    EXPECT_TRUE(signing.checkValidity(app, installerFlags).isValid());
    EXPECT_EQ(signing.checkValidity(app, considerExpiration).status, SigningStatus::certificateExpired);
}

// Login items within login items, eight levels below the app: as deep as the
// signer goes and the verifier follows. A ninth the signer refuses, and when
// signed level by level from the inside out the verifier refuses it too.
TEST(Signer, NestedCodeGoesEightLevelsDeepAndNoFurther)
{
    const PortableCodeSigning signing { TrustAnchors() };
    for (const int levels : { 8, 9 }) {
        SCOPED_TRACE(levels);
        QTemporaryDir dir;
        QStringList bundles; // the app first
        QString folder = dir.path();
        for (int level = 0; level <= levels; ++level) {
            const QString name = u"L%1"_s.arg(level);
            bundles << test::BundleBuilder(folder, name)
                           .bundleID(u"com.example."_s + name)
                           .executable(
                               name, test::MachOWriter::executable(CpuType::ofThisBuild(), 4096, level))
                           .create();
            folder = bundles.last() + u"/Contents/Library/LoginItems"_s;
        }
        if (levels > 8) {
            EXPECT_THROW(CodeSigner(SigningOptions {}).sign(bundles.first()), SigningError);
        }
        SigningOptions insideOut;
        insideOut.signNestedCode = false;
        for (auto bundle = bundles.crbegin(); bundle != bundles.crend(); ++bundle)
            CodeSigner(insideOut).sign(*bundle);
        EXPECT_EQ(signing.checkValidity(bundles[1], installerFlags).status, SigningStatus::ok);
        EXPECT_EQ(signing.checkValidity(bundles.first(), installerFlags).status,
            levels > 8 ? SigningStatus::badNestedCode : SigningStatus::ok);
    }
}

TEST(Signer, RefusesWhatIsNotCode)
{
    QTemporaryDir dir;
    test::writeFile(dir.filePath(u"notes.txt"_s), "just text");
    EXPECT_THROW(CodeSigner(SigningOptions {}).sign(dir.filePath(u"notes.txt"_s)), SigningError);
    EXPECT_THROW(CodeSigner(SigningOptions {}).sign(dir.filePath(u"missing"_s)), SigningError);
    SigningOptions badRequirement;
    badRequirement.designatedRequirement = u"identifier"_s;
    test::writeFile(dir.filePath(u"tool"_s), test::MachOWriter::executable(test::MachOWriter::arm64));
    EXPECT_THROW(CodeSigner(badRequirement).sign(dir.filePath(u"tool"_s)), SigningError);
}

} // namespace
