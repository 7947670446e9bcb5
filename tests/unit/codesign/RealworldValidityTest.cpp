#include "Printers.h"
#include "codesign/CmsSignature.h"
#include "codesign/Digest.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"
#include "support/SigningFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

constexpr std::uint32_t installerFlags = ValidityFlags::installer;
const QString developerIdRequirement
    = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] "
      u"exists and certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;

QString libraryRequirement(const QString& team)
{
    return u"anchor apple generic and certificate leaf[subject.OU] = \""_s + team + u'"';
}

// Apple's two roots, as the Linux installation would hold them.
TrustAnchors appleRoots()
{
    TrustAnchors anchors;
    for (const QString& name : { u"apple-AppleIncRootCertificate.cer"_s, u"apple-AppleRootCA-G3.cer"_s }) {
        for (const QByteArray& der :
            TrustAnchors::parseCertificates(test::readFile(test::realworld(u"macho"_s, name))))
            anchors.add(der);
    }
    return anchors;
}

// Apple's revocation services are beyond a test's reach: with no time to ask
// them, checks go on as when they can't be reached.
PortableCodeSigning offline(TrustAnchors anchors)
{
    PortableCodeSigning signing { std::move(anchors) };
    signing.setRevocationDeadline(std::chrono::milliseconds(0));
    return signing;
}

QDateTime at(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate);
}

// A real-world file as it is read (architectures, identity, directories)
// and judged on its own with the installer's flags.
struct BareSample {
    const char* file;
    std::vector<std::uint32_t> architectures;
    const char* identifier; // nullptr: unsigned
    const char* team; // nullptr: no team
    std::uint32_t flags; // of the primary CodeDirectory
    std::size_t directories;
    int status;
    bool appleGeneric; // satisfies "anchor apple generic"
};

void PrintTo(const BareSample& sample, std::ostream* out)
{
    *out << sample.file;
}

class BareSamples : public testing::TestWithParam<BareSample> {
protected:
    PortableCodeSigning signing = offline(appleRoots());
};

TEST_P(BareSamples, ReadingValidityDesignatedRequirementAndAppleAnchor)
{
    const BareSample& sample = GetParam();
    const QString path = test::realworld(u"macho"_s, QString::fromLatin1(sample.file));
    const auto text
        = [](const char* value) { return value ? std::optional(QString::fromLatin1(value)) : std::nullopt; };
    EXPECT_EQ(signing.architectures(path), sample.architectures);
    EXPECT_EQ(signing.signing(path).identifier, text(sample.identifier));
    EXPECT_EQ(signing.signing(path).team, text(sample.team));
    const auto image = SignedImage::open(path);
    ASSERT_EQ(image.has_value(), !sample.architectures.empty());
    for (const SliceSignature& slice : image ? image->slices() : std::vector<SliceSignature>()) {
        EXPECT_FALSE(slice.malformed);
        ASSERT_EQ(slice.signature.has_value(), sample.identifier != nullptr);
        if (!slice.signature)
            continue;
        EXPECT_EQ(slice.signature->primary().flags, sample.flags);
        EXPECT_EQ(slice.signature->directories.size(), sample.directories);
    }

    const ValidityResult result = signing.checkValidity(path, installerFlags);
    EXPECT_EQ(result.status, sample.status);
    EXPECT_EQ(result.message, SigningStatus::message(sample.status));
    if (sample.status != SigningStatus::ok)
        return;
    const auto designated = signing.designatedRequirement(path);
    ASSERT_TRUE(designated);
    EXPECT_TRUE(signing.checkValidity(path, installerFlags, designated).isValid())
        << designated->toStdString();
    EXPECT_EQ(signing.checkValidity(path, installerFlags, u"anchor apple generic"_s).isValid(),
        sample.appleGeneric);
    // Nothing here is a Developer ID, and only teams that exist count.
    EXPECT_EQ(signing.checkValidity(path, installerFlags, developerIdRequirement).status,
        SigningStatus::requirementFailed);
    if (sample.team) {
        EXPECT_TRUE(
            signing.checkValidity(path, installerFlags, libraryRequirement(QString::fromLatin1(sample.team)))
                .isValid());
        EXPECT_EQ(signing.checkValidity(path, installerFlags, libraryRequirement(u"ZCK58M894E"_s)).status,
            SigningStatus::requirementFailed);
    }
}

TEST_P(BareSamples, AFlippedByteIsCaught)
{
    const BareSample& sample = GetParam();
    if (sample.status != SigningStatus::ok)
        GTEST_SKIP() << "not valid on its own";
    QTemporaryDir dir;
    const QString original = test::realworld(u"macho"_s, QString::fromLatin1(sample.file));
    const test::SignatureLayout layout = test::signatureLayout(original);
    const auto image = SignedImage::open(original);
    const std::uint32_t hashOffset = image->slices()[0].signature->primary().hashOffset;
    std::vector<std::pair<const char*, qint64>> places {
        { "Mach-O header", layout.sliceOffset + 20 },
        { "code page", layout.sliceOffset + 0x1100 },
        { "first code hash", layout.codeDirectory + hashOffset + 1 },
        { "SuperBlob index", layout.superBlob + 13 },
    };
    if (layout.cms && layout.cmsLength > 100)
        places.push_back({ "CMS signature", layout.cms + layout.cmsLength - 40 });
    for (const auto& [name, offset] : places) {
        const QString copy = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(QFile::copy(original, copy));
        test::flipByte(copy, offset);
        EXPECT_FALSE(signing.checkValidity(copy, installerFlags).isValid()) << name;
    }
}

const std::uint32_t i386 = cpu::x86;
const std::uint32_t x86 = cpu::x86_64;
const std::uint32_t arm = cpu::arm64;
constexpr int ok = SigningStatus::ok;
// Executables taken out of their bundles: the Info.plist they bind is gone.
constexpr int noPlist = SigningStatus::infoPlistFailed;
constexpr int notSigned = SigningStatus::notSigned;

INSTANTIATE_TEST_SUITE_P(Samples, BareSamples,
    testing::Values(BareSample { "sparkle-DevSignedApp-SignedApp", { arm }, "com.zoo.SignedApp", "ZCK58M894E",
                        0, 1, noPlist, false },
        BareSample { "sparkle-DevSignedAppVersion2-SignedApp", { arm }, "com.zoo.SignedApp", "ZCK58M894E", 0,
            1, noPlist, false },
        BareSample { "santa-universal-appledev-team-EQHXZ8M8AV", { x86, arm },
            "com.google.blocked_signing_id", "EQHXZ8M8AV", 0, 1, ok, true },
        BareSample { "santa-x86_64-macdeveloper-team-TJNVEKW352", { x86 }, "com.google.custom_signing_id",
            "TJNVEKW352", 0, 1, ok, true },
        // The leaf's OU says EQHXZ8M8AV, but the directory names no team: there is none.
        BareSample {
            "santa-x86_64-selfsigned-cert-OU-but-no-team", { x86 }, "goodcert", nullptr, 0, 1, ok, false },
        BareSample { "santa-x86_64-selfsigned-cert-no-OU", { x86 }, "badcert", nullptr, 0, 1, ok, false },
        BareSample { "santa-arm64-linker-signed-adhoc-cd-only", { arm }, "allowed_cdhash", nullptr, 0x20002,
            1, ok, false },
        BareSample { "sparkle1-fileop-universal-adhoc-sha1+sha256", { x86, arm },
            "fileop-5555494462c6175230a332359a330d17614b9f2b", nullptr, 0x10002, 2, ok, false },
        BareSample { "sparkle2-Autoupdate-universal-adhoc", { x86, arm },
            "Autoupdate-5555494445b0cec24cd0389d8dc87d1dcb62ff23", nullptr, 0x10002, 1, ok, false },
        BareSample { "sparkle2-Downloader-universal-adhoc", { x86, arm },
            "org.sparkle-project.DownloaderService", nullptr, 0x10002, 1, noPlist, false },
        BareSample { "sparkle2-Sparkle-framework-dylib-universal-adhoc", { x86, arm },
            "org.sparkle-project.Sparkle", nullptr, 0x10002, 1, noPlist, false },
        BareSample { "sparkle2-Updater-universal-adhoc", { x86, arm }, "org.sparkle-project.Sparkle.Updater",
            nullptr, 0x10002, 1, noPlist, false },
        BareSample { "santa-x86_64-unsigned", { x86 }, nullptr, nullptr, 0, 0, notSigned, false },
        BareSample {
            "santa-fat-i386-x86_64-unsigned", { i386, x86 }, nullptr, nullptr, 0, 0, notSigned, false },
        BareSample { "santa-i386-embedded-info-plist", { i386 }, nullptr, nullptr, 0, 0, notSigned, false },
        BareSample { "sparkle-SparkleTestCodeSignApp-unsigned-x86_64", { x86 }, nullptr, nullptr, 0, 0,
            notSigned, false },
        BareSample {
            "homebrew-fat-x86_64-i386.dylib", { x86, i386 }, nullptr, nullptr, 0, 0, notSigned, false },
        BareSample { "PROVENANCE.md", {}, nullptr, nullptr, 0, 0, notSigned, false }));

TEST(RealworldSignatures, DeveloperIdSignatureIsJudgedAtItsTimestamp)
{
    const auto image = SignedImage::open(test::realworld(u"macho"_s, u"sparkle-DevSignedApp-SignedApp"_s));
    ASSERT_TRUE(image);
    const EmbeddedSignature& signature = *image->slices()[0].signature;
    // The leaf expired in February 2026; Apple's timestamp says it signed in March 2023.
    const SignerCheck check = checkSignature(
        *signature.cms, signature.directories, appleRoots(), at("2030-01-01T00:00:00Z"), true);
    EXPECT_EQ(check.status, SigningStatus::ok);
    EXPECT_TRUE(check.anchoredAtApple);
    EXPECT_FALSE(check.expired);
    ASSERT_TRUE(check.timestamp);
    EXPECT_EQ(check.timestamp->date(), QDate(2023, 3, 12));
    ASSERT_EQ(check.chain.size(), 3u);

    // Without Apple's roots the same signature verifies but is anchored nowhere.
    const SignerCheck unanchored = checkSignature(
        *signature.cms, signature.directories, TrustAnchors(), at("2024-01-01T00:00:00Z"), false);
    EXPECT_EQ(unanchored.status, SigningStatus::ok);
    EXPECT_FALSE(unanchored.anchoredAtApple);
    EXPECT_FALSE(unanchored.timestamp); // its authority chains to no configured root either

    // The signature is over the first directory: another directory fails it.
    const auto other
        = SignedImage::open(test::realworld(u"macho"_s, u"sparkle-DevSignedAppVersion2-SignedApp"_s));
    EXPECT_EQ(checkSignature(*signature.cms, other->slices()[0].signature->directories, appleRoots(),
                  at("2024-01-01T00:00:00Z"), false)
                  .status,
        SigningStatus::signatureFailed);
}

TEST(RealworldSignatures, UntimestampedSignaturesExpireOnlyWhenExpiryIsConsidered)
{
    PortableCodeSigning signing = offline(appleRoots());
    const QString path = test::realworld(u"macho"_s, u"santa-universal-appledev-team-EQHXZ8M8AV"_s);
    const std::uint32_t considering = installerFlags | ValidityFlags::considerExpiration;
    signing.setClock([] { return at("2023-06-01T00:00:00Z"); });
    EXPECT_TRUE(signing.checkValidity(path, considering).isValid());
    signing.setClock([] { return at("2026-06-01T00:00:00Z"); });
    EXPECT_EQ(signing.checkValidity(path, considering).status, SigningStatus::certificateExpired);
    EXPECT_EQ(signing.checkValidity(path, considering).message, u"CSSMERR_TP_CERT_EXPIRED"_s);
    EXPECT_TRUE(signing.checkValidity(path, installerFlags).isValid());
}

// The Developer ID-signed bundle, whole: CodeResources, Info.plist and all.
class DeveloperIdBundle : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(test::extractZip(test::realworld(u"zip"_s, u"sparkle-DevSignedApp.zip"_s), dir.path()));
        app = dir.path() + u"/DevSignedApp.app"_s;
    }

    PortableCodeSigning signing = offline(appleRoots());
    QTemporaryDir dir;
    QString app;
};

TEST_F(DeveloperIdBundle, ValidatesAgainstTheRealAppleRoot)
{
    const ValidityResult result = signing.checkValidity(app, installerFlags);
    EXPECT_EQ(result.status, SigningStatus::ok);
    EXPECT_EQ(result.revocationNote,
        u"The certificate's revocation service at http://ocsp.apple.com/ocsp03-devid06 didn't answer in "
        u"time; accepted, as macOS does when it can't check."_s);
    EXPECT_EQ(signing.checkValidity(app, installerFlags | ValidityFlags::considerExpiration).status,
        SigningStatus::ok);
    EXPECT_EQ(signing.signing(app).team, u"ZCK58M894E"_s);
    EXPECT_EQ(signing.architectures(app), std::vector<std::uint32_t> { CpuType::arm64 });

    const auto designated = signing.designatedRequirement(app);
    ASSERT_TRUE(designated);
    EXPECT_TRUE(designated->contains(u"certificate leaf[subject.OU] = ZCK58M894E"_s));
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, designated).isValid());
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, libraryRequirement(u"ZCK58M894E"_s)).isValid());
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, developerIdRequirement).isValid());
    EXPECT_EQ(signing.checkValidity(app, installerFlags, libraryRequirement(u"ABCDE12345"_s)).status,
        SigningStatus::requirementFailed);
    // "anchor apple" is Apple's own code, not a Developer ID.
    EXPECT_EQ(signing.checkValidity(app, installerFlags, u"anchor apple"_s).status,
        SigningStatus::requirementFailed);

    // A requirement naming another team fails, as it must for an impostor's update.
    QString otherTeam = *designated;
    otherTeam.replace(u"ZCK58M894E"_s, u"ABCDE12345"_s);
    EXPECT_EQ(signing.checkValidity(app, installerFlags, otherTeam).status, SigningStatus::requirementFailed);

    // Without Apple's roots the signature is sound but proves no developer.
    const PortableCodeSigning rootless = offline(TrustAnchors());
    EXPECT_TRUE(rootless.checkValidity(app, installerFlags).isValid());
    EXPECT_EQ(
        rootless.checkValidity(app, installerFlags, designated).status, SigningStatus::requirementFailed);
    // Its certificates come leaf last, yet link by their signatures up to Apple's root.
    const QByteArray appleRoot = Digest::of(HashType::sha1,
        ByteView(test::readFile(test::realworld(u"macho"_s, u"apple-AppleIncRootCertificate.cer"_s))));
    EXPECT_TRUE(rootless
                    .checkValidity(app, installerFlags,
                        u"certificate root = H\""_s + QString::fromLatin1(appleRoot.toHex()) + u'"')
                    .isValid());
}

TEST_F(DeveloperIdBundle, TheNextVersionMeetsTheInstalledOnesRequirement)
{
    QTemporaryDir other;
    ASSERT_TRUE(
        test::extractZip(test::realworld(u"zip"_s, u"sparkle-DevSignedAppVersion2.zip"_s), other.path()));
    const QString update = other.path() + u"/DevSignedAppVersion2.app"_s;
    EXPECT_EQ(signing.signing(update).team, u"ZCK58M894E"_s);
    EXPECT_TRUE(signing.checkValidity(update, installerFlags, signing.designatedRequirement(app)).isValid());
    EXPECT_TRUE(signing.checkValidity(app, installerFlags, signing.designatedRequirement(update)).isValid());
}

// What the synthetic bundles of SignerTest can't show: Apple's real rules and
// CMS attributes. The other tamperings are SignerTest's.
TEST_F(DeveloperIdBundle, EveryTamperingIsCaught)
{
    const QString contents = app + u"/Contents"_s;
    const QString main = contents + u"/MacOS/SignedApp"_s;
    struct Row {
        const char* name;
        std::function<void()> change;
        int status;
    };
    const test::SignatureLayout layout = test::signatureLayout(main);
    const std::vector<Row> rows {
        // The CDHash attribute is among the signed attributes.
        { "CMS signed attribute",
            [&] {
                const QByteArray bytes = test::readFile(main);
                test::flipByte(main, bytes.indexOf(QByteArray::fromHex("8c00085163d7e75e"), layout.cms) + 3);
            },
            SigningStatus::signatureFailed },
        { "nib", [&] { test::flipByte(contents + u"/Resources/Base.lproj/MainMenu.nib"_s, 100); },
            SigningStatus::badResource },
        { "PkgInfo (omitted by the rules)", [&] { test::writeFile(contents + u"/PkgInfo"_s, "APPLzzzz"); },
            SigningStatus::ok },
    };
    QTemporaryDir pristine;
    ASSERT_TRUE(test::copyTree(app, pristine.path() + u"/DevSignedApp.app"_s));
    for (const Row& row : rows) {
        QDir(app).removeRecursively();
        ASSERT_TRUE(test::copyTree(pristine.path() + u"/DevSignedApp.app"_s, app));
        row.change();
        EXPECT_EQ(signing.checkValidity(app, installerFlags).status, row.status) << row.name;
    }
}

} // namespace
