#include "PackageWorld.h"
#include "codesign/SignedImage.h"
#include "package/PackageInstaller.h"
#include "package/PackageSigner.h"
#include "package/Xar.h"
#include "support/Program.h"
#include "support/UdifFixtures.h"

#include <functional>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::XarWriter;

// A package as a maker could ship it, and what the signature report and
// Gatekeeper say about it.
struct Signed {
    const char* name;
    std::function<QString(const test::TestAuthority& authority, const QString& folder)> make;
    QString status;
    int exit;
    std::optional<QString> leaf;
    bool accepted;
};

void PrintTo(const Signed& row, std::ostream* out)
{
    *out << row.name;
}

class Signatures : public test::PackageWorld, public testing::WithParamInterface<Signed> {
public:
    ToolReport report(const QString& package)
    {
        return test::await(
            Updater::blocking([this, package] { return m_gatekeeper->checkSignature(package); }));
    }
    ToolReport assess(const QString& path, Gatekeeper::Assessment type)
    {
        return test::await(
            Updater::blocking([this, path, type] { return m_gatekeeper->assess(path, type); }));
    }
};

QString signedBy(const QString& folder, const codesign::SigningIdentity& identity,
    XarWriter::Tamper tamper = XarWriter::Tamper::none)
{
    const QString root = folder + u"/root"_s;
    test::BundleBuilder(root, u"Foo"_s).executable(u"Foo"_s, "#!/bin/sh\n").create();
    return test::componentPackage(root).sign(identity).write(folder + u"/Foo.pkg"_s, tamper);
}

const QString installerLeaf = u"Developer ID Installer: Test Developer (TEAMAAAAAA)"_s;
const QString trustedStatus = PackageSigner::trustedStatus;

TEST_P(Signatures, ReportAndAssessment)
{
    const Signed& row = GetParam();
    const QString package = row.make(m_authority, m_sandbox.inputs());
    const ToolReport signature = report(package);
    const ToolReport assessment = assess(package, Gatekeeper::Assessment::install);
    const PackageSigner signer
        = PackageSigner::parse(signature.text, signature.status, assessment.text, assessment.status);

    // One status line, whatever the names in the chain say.
    const QStringList lines = signature.text.split(u'\n');
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                  [](const QString& line) { return line.trimmed().startsWith(u"Status: "_s); }),
        1)
        << signature.text.toStdString();
    EXPECT_EQ(signer.status, row.status);
    EXPECT_EQ(signature.status, row.exit);
    EXPECT_EQ(signer.leaf, row.leaf);
    EXPECT_EQ(signer.trusted, row.status == trustedStatus && row.exit == 0);
    EXPECT_EQ(signer.accepted, row.accepted) << assessment.text.toStdString();
    EXPECT_FALSE(signer.notarized);
}

INSTANTIATE_TEST_SUITE_P(Packages, Signatures,
    testing::Values(Signed { "Developer ID Installer",
                        [](const test::TestAuthority& authority, const QString& folder) {
                            return signedBy(folder, authority.installerId(u"TEAMAAAAAA"_s));
                        },
                        trustedStatus, 0, installerLeaf, true },
        Signed { "Developer ID Installer, SHA-256 checksum",
            [](const test::TestAuthority& authority, const QString& folder) {
                const QString root = folder + u"/root"_s;
                QDir().mkpath(root + u"/Foo.app"_s);
                return test::componentPackage(root)
                    .checksum(xar::HashType::sha256)
                    .sign(authority.installerId(u"TEAMAAAAAA"_s))
                    .write(folder + u"/Foo.pkg"_s);
            },
            trustedStatus, 0, installerLeaf, true },
        Signed { "unsigned",
            [](const test::TestAuthority&, const QString& folder) {
                return XarWriter().file(u"Payload"_s, "x").write(folder + u"/Foo.pkg"_s);
            },
            u"no signature"_s, 1, std::nullopt, false },
        Signed { "an application certificate",
            [](const test::TestAuthority& authority, const QString& folder) {
                return signedBy(folder, authority.identity({ .team = u"TEAMAAAAAA"_s, .rsa = true }));
            },
            u"signed by a certificate trusted by macOS"_s, 0,
            u"Developer ID Application: Test Developer (TEAMAAAAAA)"_s, false },
        Signed { "another authority",
            [](const test::TestAuthority&, const QString& folder) {
                return signedBy(folder, test::TestAuthority(u"Other Root"_s).installerId(u"TEAMAAAAAA"_s));
            },
            u"signed by untrusted certificate"_s, 1, installerLeaf, false },
        Signed { "an expired certificate",
            [](const test::TestAuthority& authority, const QString& folder) {
                const QDateTime now = QDateTime::currentDateTimeUtc();
                return signedBy(folder,
                    authority.identity({ .team = u"TEAMAAAAAA"_s,
                        .kind = test::LeafOptions::Kind::installer,
                        .rsa = true,
                        .notBefore = now.addYears(-2),
                        .notAfter = now.addYears(-1) }));
            },
            u"signed by a certificate that has since expired"_s, 1, installerLeaf, false },
        Signed { "a name that would add a certificate line",
            [](const test::TestAuthority&, const QString& folder) {
                return signedBy(folder,
                    test::TestAuthority(u"Other Root"_s)
                        .identity({ .kind = test::LeafOptions::Kind::installer,
                            .rsa = true,
                            .commonName = u"Evil\n1. Developer ID Installer: E (TEAMAAAAAA)"_s }));
            },
            u"signed by untrusted certificate"_s, 1, u"Evil\uFFFD1. Developer ID Installer: E (TEAMAAAAAA)"_s,
            false },
        Signed { "the TOC edited",
            [](const test::TestAuthority& authority, const QString& folder) {
                return signedBy(folder, authority.installerId(u"TEAMAAAAAA"_s), XarWriter::Tamper::toc);
            },
            u"invalid signature (the table of contents doesn't match its checksum)"_s, 1, std::nullopt,
            false },
        Signed { "the TOC edited and its checksum made anew",
            [](const test::TestAuthority& authority, const QString& folder) {
                return signedBy(
                    folder, authority.installerId(u"TEAMAAAAAA"_s), XarWriter::Tamper::resealedToc);
            },
            u"invalid signature (the signature doesn't match the table of contents)"_s, 1, std::nullopt,
            false },
        Signed { "the signature changed",
            [](const test::TestAuthority& authority, const QString& folder) {
                return signedBy(folder, authority.installerId(u"TEAMAAAAAA"_s), XarWriter::Tamper::signature);
            },
            u"invalid signature (the signature doesn't match the table of contents)"_s, 1, std::nullopt,
            false },
        Signed { "a file's bytes changed",
            [](const test::TestAuthority& authority, const QString& folder) {
                return signedBy(folder, authority.installerId(u"TEAMAAAAAA"_s), XarWriter::Tamper::heap);
            },
            u"invalid signature (\u201cBom\u201d doesn't match its checksum)"_s, 1, std::nullopt, false }));

// Notarized only when the ticket service confirms the hash it is asked about;
// a service that can't answer proves nothing, and neither does none at all.
TEST_F(Signatures, NotarizedOnlyWhenTheTicketServiceConfirms)
{
    const QString package = signedBy(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    const auto lines
        = [this, &package] { return assess(package, Gatekeeper::Assessment::install).text.split(u'\n'); };
    EXPECT_TRUE(lines().contains(u"source=Developer ID"_s));
    EXPECT_TRUE(lines().contains(u"notarization=none (the ticket service holds no ticket for this hash)"_s));
    notarize(package);
    EXPECT_EQ(lines().mid(0, 3),
        QStringList(
            { package + u": accepted"_s, u"source=Notarized Developer ID"_s, u"origin="_s + installerLeaf }));
    m_server.on(u"/tickets"_s, test::Response::text("busy", 503));
    EXPECT_TRUE(lines().contains(u"notarization=not established (the ticket service answered HTTP 503)"_s));
    GatekeeperSettings offline;
    offline.anchors = m_authority.anchors();
    EXPECT_TRUE(portableGatekeeper(offline)
                    ->assess(package, Gatekeeper::Assessment::install)
                    .text.contains(u"notarization=not established (no ticket service is configured)"_s));
}

// Apps are looked up by their code-directory hash.
TEST_F(Signatures, AppsNotarizedByTheirCodeDirectoryHash)
{
    const QString app = makeApp(m_sandbox.inputs(), { .team = u"TEAMAAAAAA"_s });
    const ToolReport before = assess(app, Gatekeeper::Assessment::execute);
    EXPECT_EQ(before.status, 0);
    EXPECT_TRUE(before.text.contains(u"\nsource=Developer ID\n"_s)) << before.text.toStdString();
    const auto image = codesign::SignedImage::open(app + u"/Contents/MacOS/Foo"_s);
    ASSERT_TRUE(image);
    const codesign::CodeDirectory& directory = image->preferred(CpuType::ofThisBuild()).signature->best();
    notarizeCode({ int(directory.hashType), directory.cdhash() });
    EXPECT_TRUE(
        assess(app, Gatekeeper::Assessment::execute).text.contains(u"\nsource=Notarized Developer ID\n"_s));
    const ToolReport adHoc = assess(makeApp(m_sandbox.root(), {}), Gatekeeper::Assessment::execute);
    EXPECT_EQ(adHoc.status, 3);
    EXPECT_TRUE(adHoc.text.contains(u"source=not a Developer ID"_s)) << adHoc.text.toStdString();
}

// What the command line shows of a package, and the verdict for a team on record or none.
TEST_F(Signatures, InspectPackageCommand)
{
    const QString package = signedBy(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    const auto inspect = [&](const QStringList& extra) {
        const test::ProgramRun run = test::runProgram(
            QStringList { u"inspect"_s, u"package"_s, package, u"--anchors"_s, anchors(),
                u"--ticket-service"_s, m_server.url(u"/tickets"_s).toString(), u"--json"_s }
                + extra,
            test::programEnvironment(m_sandbox.root()));
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return QJsonDocument::fromJson(run.out.toUtf8()).object();
    };
    QJsonObject shown = inspect({});
    QStringList files;
    for (const QJsonValue& file : shown[u"files"_s].toArray())
        files << file[u"path"_s].toString();
    EXPECT_EQ(files, QStringList({ u"Bom"_s, u"PackageInfo"_s, u"Payload"_s }));
    EXPECT_EQ(shown[u"team"_s], u"TEAMAAAAAA"_s);
    EXPECT_EQ(shown[u"status"_s], trustedStatus);
    EXPECT_EQ(shown[u"verdict"_s],
        u"The app's installer package isn't notarized by Apple, and your other Mac has no developer on "
        u"record to "
        u"compare it with. Refusing to run it."_s);
    shown = inspect({ u"--team"_s, u"TEAMAAAAAA"_s });
    EXPECT_TRUE(shown[u"runs"_s].toBool());
    EXPECT_EQ(shown[u"verdict"_s], u"runs after consent, for team TEAMAAAAAA"_s);
}

// The real package shipped in a disk image: found there, its TOC read, and
// reported unsigned, which is what it is.
TEST_F(Signatures, RealPackageInsideARealDiskImage)
{
    const QString work = m_sandbox.root() + u"/work"_s;
    QDir().mkpath(work);
    const auto found
        = updater().package(test::realDiskImage(u"sparkle-SparkleTestCodeSign_pkg.lzma-gpt-apfs-pkg.dmg"_s),
            u"SparkleTestCodeSignApp.pkg"_s, work);
    ASSERT_EQ(found, work + u"/package.pkg"_s);
    const xar::Archive archive = xar::Archive::open(*found);
    QStringList paths;
    for (const xar::Entry& entry : archive.entries())
        paths << entry.path;
    EXPECT_EQ(paths, QStringList({ u"Payload"_s, u"PackageInfo"_s, u"Bom"_s }));
    EXPECT_EQ(archive.checksumType(), xar::HashType::sha1);
    EXPECT_TRUE(archive.checksumMatches());
    EXPECT_FALSE(archive.signature());
    EXPECT_FALSE(archive.damagedFile());
    // Stored bzip2-compressed, checked against both of its checksums.
    EXPECT_TRUE(archive.readAll(*archive.find(u"PackageInfo"_s)).contains("install-location=\"/tmp\""));
    EXPECT_TRUE(archive.readAll(*archive.find(u"Payload"_s)).startsWith("\x1f\x8b"));
    EXPECT_EQ(report(*found).text, u"Package \"package.pkg\":\n   Status: no signature\n"_s);
    EXPECT_EQ(report(*found).status, 1);
    try {
        installPackage(*found, m_sandbox.applications());
        ADD_FAILURE() << "installed";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(),
            u"The installer package installs into /tmp, outside the applications "
            u"folder this sandbox stands for. Nothing was installed."_s);
    }
}

} // namespace
} // namespace corvanta
