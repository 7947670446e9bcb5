#include "Printers.h"
#include "codesign/CodeLocation.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"
#include "support/SigningFixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

struct RealworldSample {
    const char* file;
    std::vector<std::uint32_t> architectures;
    const char* identifier; // nullptr: unsigned
    const char* team; // nullptr: no team
    std::uint32_t flags;
    std::size_t directories;
};

void PrintTo(const RealworldSample& sample, std::ostream* out)
{
    *out << sample.file;
}

class RealworldReading : public testing::TestWithParam<RealworldSample> { };

TEST_P(RealworldReading, ReportsIdentifierTeamAndArchitectures)
{
    const RealworldSample& sample = GetParam();
    const QString path = test::realworld(u"macho"_s, QString::fromLatin1(sample.file));
    const PortableCodeSigning signing { TrustAnchors() };

    EXPECT_EQ(signing.architectures(path), sample.architectures);
    const SigningInformation info = signing.signing(path);
    EXPECT_EQ(info.identifier,
        sample.identifier ? std::optional(QString::fromLatin1(sample.identifier)) : std::nullopt);
    EXPECT_EQ(info.team, sample.team ? std::optional(QString::fromLatin1(sample.team)) : std::nullopt);

    const auto image = SignedImage::open(path);
    ASSERT_TRUE(image);
    for (const SliceSignature& slice : image->slices()) {
        EXPECT_FALSE(slice.malformed);
        ASSERT_EQ(slice.signature.has_value(), sample.identifier != nullptr);
        if (!slice.signature)
            continue;
        EXPECT_EQ(slice.signature->primary().flags, sample.flags);
        EXPECT_EQ(slice.signature->directories.size(), sample.directories);
    }
}

const std::uint32_t i386 = cpu::x86;
const std::uint32_t x86 = cpu::x86_64;
const std::uint32_t arm = cpu::arm64;

INSTANTIATE_TEST_SUITE_P(Samples, RealworldReading,
    testing::Values(RealworldSample { "sparkle-DevSignedApp-SignedApp", { arm }, "com.zoo.SignedApp",
                        "ZCK58M894E", 0, 1 },
        RealworldSample {
            "sparkle-DevSignedAppVersion2-SignedApp", { arm }, "com.zoo.SignedApp", "ZCK58M894E", 0, 1 },
        RealworldSample { "santa-universal-appledev-team-EQHXZ8M8AV", { x86, arm },
            "com.google.blocked_signing_id", "EQHXZ8M8AV", 0, 1 },
        RealworldSample { "santa-x86_64-macdeveloper-team-TJNVEKW352", { x86 },
            "com.google.custom_signing_id", "TJNVEKW352", 0, 1 },
        // The leaf's OU says EQHXZ8M8AV, but the directory names no team: there is none.
        RealworldSample { "santa-x86_64-selfsigned-cert-OU-but-no-team", { x86 }, "goodcert", nullptr, 0, 1 },
        RealworldSample { "santa-x86_64-selfsigned-cert-no-OU", { x86 }, "badcert", nullptr, 0, 1 },
        RealworldSample {
            "santa-arm64-linker-signed-adhoc-cd-only", { arm }, "allowed_cdhash", nullptr, 0x20002, 1 },
        RealworldSample { "sparkle1-fileop-universal-adhoc-sha1+sha256", { x86, arm },
            "fileop-5555494462c6175230a332359a330d17614b9f2b", nullptr, 0x10002, 2 },
        RealworldSample { "sparkle2-Autoupdate-universal-adhoc", { x86, arm },
            "Autoupdate-5555494445b0cec24cd0389d8dc87d1dcb62ff23", nullptr, 0x10002, 1 },
        RealworldSample { "sparkle2-Downloader-universal-adhoc", { x86, arm },
            "org.sparkle-project.DownloaderService", nullptr, 0x10002, 1 },
        RealworldSample { "sparkle2-Sparkle-framework-dylib-universal-adhoc", { x86, arm },
            "org.sparkle-project.Sparkle", nullptr, 0x10002, 1 },
        RealworldSample { "sparkle2-Updater-universal-adhoc", { x86, arm },
            "org.sparkle-project.Sparkle.Updater", nullptr, 0x10002, 1 },
        RealworldSample { "santa-x86_64-unsigned", { x86 }, nullptr, nullptr, 0, 0 },
        RealworldSample { "santa-fat-i386-x86_64-unsigned", { i386, x86 }, nullptr, nullptr, 0, 0 },
        RealworldSample { "santa-i386-embedded-info-plist", { i386 }, nullptr, nullptr, 0, 0 },
        RealworldSample { "sparkle-SparkleTestCodeSignApp-unsigned-x86_64", { x86 }, nullptr, nullptr, 0, 0 },
        RealworldSample { "homebrew-fat-x86_64-i386.dylib", { x86, i386 }, nullptr, nullptr, 0, 0 }));

TEST(Reader, CdhashIsTheTruncatedHashOfTheStrongestDirectory)
{
    const auto devSigned
        = SignedImage::open(test::realworld(u"macho"_s, u"sparkle-DevSignedApp-SignedApp"_s));
    ASSERT_TRUE(devSigned);
    EXPECT_EQ(devSigned->slices()[0].signature->best().cdhash().toHex(),
        "8c00085163d7e75e8bc40d931038e91a76192ef5");

    // SHA-1 in slot 0, SHA-256 in the alternate slot: the SHA-256 one is the best.
    const auto dual
        = SignedImage::open(test::realworld(u"macho"_s, u"sparkle1-fileop-universal-adhoc-sha1+sha256"_s));
    ASSERT_TRUE(dual);
    const EmbeddedSignature& x86Signature = *dual->slices()[0].signature;
    EXPECT_EQ(x86Signature.primary().hashType, HashType::sha1);
    EXPECT_EQ(x86Signature.primary().cdhash().toHex(), "31003bffc16925050e7b3eec5a71e47aea92b6bb");
    EXPECT_EQ(x86Signature.best().hashType, HashType::sha256);
    EXPECT_EQ(x86Signature.best().cdhash().toHex(), "8dc82b752b14310922a14fad9cd9c0aef1fdce12");
}

TEST(Reader, PrefersTheHostSliceOfAUniversalFile)
{
    const QString path = test::realworld(u"macho"_s, u"sparkle2-Updater-universal-adhoc"_s);
    const auto image = SignedImage::open(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->preferred(cpu::arm64).slice.cpuType, cpu::arm64);
    EXPECT_EQ(image->preferred(cpu::x86_64).slice.cpuType, cpu::x86_64);
    EXPECT_EQ(image->preferred(cpu::powerPC).slice.cpuType, cpu::x86_64);
}

TEST(Reader, NonMachOFilesAndMissingPathsHaveNothing)
{
    const PortableCodeSigning signing { TrustAnchors() };
    for (const QString& path : { test::realworld(u"macho"_s, u"PROVENANCE.md"_s),
             test::realworld(u"macho"_s, u"apple-AppleIncRootCertificate.cer"_s), u"/nonexistent/Foo.app"_s,
             test::realworld(u"macho"_s, QString()) }) {
        EXPECT_FALSE(signing.signing(path).identifier) << path.toStdString();
        EXPECT_TRUE(signing.architectures(path).empty()) << path.toStdString();
    }
}

TEST(Reader, ReadsTheMainExecutableOfARealBundle)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test::extractZip(test::realworld(u"zip"_s, u"sparkle-DevSignedApp.zip"_s), dir.path()));
    const QString bundle = dir.path() + u"/DevSignedApp.app"_s;
    const PortableCodeSigning signing { TrustAnchors() };
    const SigningInformation info = signing.signing(bundle);
    EXPECT_EQ(info.team, u"ZCK58M894E"_s);
    EXPECT_EQ(info.identifier, u"com.zoo.SignedApp"_s);
    EXPECT_EQ(signing.architectures(bundle), std::vector<std::uint32_t> { cpu::arm64 });

    const auto location = CodeLocation::locate(bundle);
    ASSERT_TRUE(location);
    EXPECT_EQ(location->kind, BundleKind::app);
    EXPECT_EQ(location->executablePath, bundle + u"/Contents/MacOS/SignedApp"_s);
    EXPECT_EQ(location->resourceSealPath, bundle + u"/Contents/_CodeSignature/CodeResources"_s);

    // A bundle whose Info.plist names no executable has no code to read.
    test::writeFile(bundle + u"/Contents/Info.plist"_s, "<plist><dict/></plist>");
    EXPECT_FALSE(signing.signing(bundle).identifier);
}

TEST(Reader, ExecutableNamesThatLeaveTheBundleAreRefused)
{
    QTemporaryDir dir;
    const QString bundle = dir.path() + u"/Evil.app"_s;
    test::writeFile(bundle + u"/Contents/Info.plist"_s,
        "<plist><dict><key>CFBundleExecutable</key><string>../../../outside</string></dict></plist>");
    QFile::copy(test::realworld(u"macho"_s, u"sparkle-DevSignedApp-SignedApp"_s), dir.path() + u"/outside"_s);
    const auto location = CodeLocation::locate(bundle);
    ASSERT_TRUE(location);
    EXPECT_TRUE(location->executablePath.isEmpty());
    EXPECT_FALSE(PortableCodeSigning(TrustAnchors()).signing(bundle).team);
}

} // namespace
