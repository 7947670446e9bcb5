#include "install/UpdateError.h"
#include "package/AppleScript.h"
#include "package/PackageCheck.h"
#include "package/PackageSigner.h"
#include "package/RootCommand.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

const QString distribution = PackageSigner::trustedStatus;
const QString installer = u"Developer ID Installer: Foo Inc (ABCDE12345)"_s;

PackageSigner signer(
    const QString& status, std::optional<QString> leaf, bool trusted, bool accepted, bool notarized)
{
    return { status, std::move(leaf), trusted, notarized, accepted };
}

TEST(CheckPackage, EveryStepInOrder)
{
    struct Row {
        const char* name;
        PackageSigner signer;
        std::optional<QString> team;
        QString expected; // the Team ID returned, or the refusal
    };
    const QString unsignedText = u"Foo's installer package isn't signed, so Corvanta can't tell who made it. "
                                 u"Refusing to run it."_s;
    const auto notInstaller = [](const QString& leaf, const QString& status) {
        return u"Foo's installer package is signed by %1 (%2), not a Developer ID Installer certificate from "
               u"Apple. "
               u"Refusing to run it."_s.arg(leaf, status);
    };
    const QString rejected
        = u"Gatekeeper rejects Foo's installer package (spctl --assess --type install), for "
          u"example because it isn't notarized or its certificate was revoked. Refusing to run it."_s;
    const std::vector<Row> rows {
        { "no signature", signer(u"no signature"_s, std::nullopt, false, false, false), std::nullopt,
            unsignedText },
        { "no status line", signer({}, installer, true, true, true), u"ABCDE12345"_s, unsignedText },
        { "untrusted", signer(u"signed by untrusted certificate"_s, installer, false, true, true),
            std::nullopt, notInstaller(installer, u"signed by untrusted certificate"_s) },
        { "no certificate 1", signer(distribution, std::nullopt, true, true, true), std::nullopt,
            notInstaller(u"an unknown certificate"_s, distribution) },
        { "application certificate",
            signer(distribution, u"Developer ID Application: Foo Inc (ABCDE12345)"_s, true, true, true),
            std::nullopt, notInstaller(u"Developer ID Application: Foo Inc (ABCDE12345)"_s, distribution) },
        { "lower-case team",
            signer(distribution, u"Developer ID Installer: Foo (abcde12345)"_s, true, true, true),
            std::nullopt, notInstaller(u"Developer ID Installer: Foo (abcde12345)"_s, distribution) },
        { "not accepted", signer(distribution, installer, true, false, true), u"ABCDE12345"_s, rejected },
        { "library team", signer(distribution, installer, true, true, false), u"ABCDE12345"_s,
            u"ABCDE12345"_s },
        { "other library team", signer(distribution, installer, true, true, true), u"ZZZZZ99999"_s,
            u"Team ID mismatch: Foo on your other Mac was signed by ZZZZZ99999, this package by ABCDE12345. "
            u"Refusing to run it."_s },
        { "notarized", signer(distribution, installer, true, true, true), std::nullopt, u"ABCDE12345"_s },
        { "not notarized", signer(distribution, installer, true, true, false), std::nullopt,
            u"Foo's installer package isn't notarized by Apple, and your other Mac has no developer on "
            u"record to "
            u"compare it with. Refusing to run it."_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            EXPECT_EQ(checkPackage(row.signer, u"Foo"_s, row.team), row.expected);
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.description(), row.expected);
            EXPECT_FALSE(error.final() || error.needsPermission());
        }
    }
}

TEST(PackageSigner, ParsesTheLinesTheToolsPrint)
{
    const QString report = u"Package \"p.pkg\":\r\n\t Status: signed by untrusted certificate \n   Status: "_s
        + distribution + u"\n   Certificate Chain:\n    1. "_s + installer + u"\n    1. Other\n"_s;
    PackageSigner parsed
        = PackageSigner::parse(report, 0, u"p.pkg: accepted\nsource=Notarized Developer ID\n"_s, 0);
    EXPECT_EQ(parsed.status, distribution); // a later status line replaces an earlier one
    EXPECT_EQ(parsed.leaf, installer);
    EXPECT_EQ(parsed.team(), u"ABCDE12345"_s);
    EXPECT_TRUE(parsed.trusted && parsed.accepted && parsed.notarized);
    parsed = PackageSigner::parse(report, 1, u"source=Notarized Developer ID (stapled)\n"_s, 3);
    EXPECT_FALSE(parsed.trusted || parsed.accepted || parsed.notarized);
    for (const QString& leaf :
        { u"Developer ID Installer: Foo (ABCDE1234)"_s, u"Developer ID Installer: Foo ABCDE12345"_s,
            u"3rd Party Mac Developer Installer: Foo (ABCDE12345)"_s }) {
        SCOPED_TRACE(leaf.toStdString());
        EXPECT_EQ(PackageSigner::parse(u"1. "_s + leaf, 0, {}, 0).team(), std::nullopt);
    }
}

TEST(AdminFailure, EveryStatusOfTheScript)
{
    struct Row {
        QString stderrText;
        QString expected;
        bool final;
    };
    const std::vector<Row> rows {
        { u"0:120: execution error: User canceled. (-128)\n"_s,
            u"You cancelled the administrator prompt. Nothing was installed."_s, true },
        { u"execution error: mktemp: failed (91)"_s,
            u"Corvanta couldn't copy Foo \"Pro\"'s installer package into a private folder. Nothing was installed."_s,
            false },
        { u"execution error: (92)"_s,
            u"Foo \"Pro\"'s installer package changed after Corvanta checked it (SHA-256 mismatch in the "
            u"administrator step). Nothing was installed."_s,
            false },
        { u"execution error: x (93)"_s,
            u"Foo \"Pro\"'s installer package isn't signed by a Developer ID Installer certificate Apple "
            u"trusts "
            u"(checked again as administrator). Nothing was installed."_s,
            false },
        { u"execution error: x (94)"_s,
            u"Foo \"Pro\"'s installer package is signed by another team than the one Corvanta checked "
            u"(checked "
            u"again as administrator). Nothing was installed."_s,
            false },
        { u"execution error: x (95)"_s,
            u"Gatekeeper rejected Foo \"Pro\"'s installer package in the administrator step. Nothing was installed."_s,
            false },
        { u"0:1: execution error: installer: Error - disk full (1)"_s,
            u"The installer failed: installer: Error - disk full (1)"_s, false },
        { u"  something broke  "_s, u"The installer failed: something broke"_s, false },
        { u"\n"_s, u"The installer failed: osascript failed"_s, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stderrText.toStdString());
        const UpdateError error = adminFailure(AppleScriptError(row.stderrText), u"Foo \"Pro\""_s);
        EXPECT_EQ(error.description(), row.expected);
        EXPECT_EQ(error.final(), row.final);
        EXPECT_FALSE(error.needsPermission());
    }
}

TEST(AppleScriptLiteral, DropsControlsAndEscapes)
{
    EXPECT_EQ(appleScriptLiteral(u"a\tb\nc\u200Bd"_s), u"\"abcd\""_s);
    EXPECT_EQ(appleScriptLiteral(u"Foo \"Pro\" \\ 2"_s), u"\"Foo \\\"Pro\\\" \\\\ 2\""_s);
}

TEST(RootCommand, ValidatesEveryValueBeforeAnythingRuns)
{
    const QString digest(64, u'a');
    struct Row {
        QString package;
        QString tempBase;
        QString sha256;
        QString team;
        QString refusal;
    };
    const QString path = u"The package's temporary path has unexpected characters. Refusing to run it."_s;
    const std::vector<Row> rows {
        { u"/tmp/work dir/p.pkg"_s, u"/private/tmp"_s, digest, u"ABCDE12345"_s, path },
        { u"/tmp/a/../p.pkg"_s, u"/private/tmp"_s, digest, u"ABCDE12345"_s, path },
        { u"/tmp/p.pkg"_s, u"/private/tmp/.."_s, digest, u"ABCDE12345"_s, path },
        { u"tmp/p.pkg"_s, u"/private/tmp"_s, digest, u"ABCDE12345"_s, path },
        { u"/tmp/p'.pkg"_s, u"/private/tmp"_s, digest, u"ABCDE12345"_s, path },
        { u"/tmp/p.pkg"_s, u"/private/tmp"_s, QString(64, u'A'), u"ABCDE12345"_s,
            u"The package checksum isn't valid."_s },
        { u"/tmp/p.pkg"_s, u"/private/tmp"_s, QString(63, u'a'), u"ABCDE12345"_s,
            u"The package checksum isn't valid."_s },
        { u"/tmp/p.pkg"_s, u"/private/tmp"_s, digest, u"ABCDE1234"_s,
            u"The package's Team ID isn't valid."_s },
        { u"/tmp/p.pkg"_s, u"/private/tmp"_s, digest, u"abcde12345"_s,
            u"The package's Team ID isn't valid."_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.package.toStdString());
        try {
            rootCommand(row.package, row.sha256, row.team, row.tempBase, false, ScriptTools::macOS());
            ADD_FAILURE() << "accepted";
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.description(), row.refusal);
        }
    }
}

TEST(RootCommand, TheOneLineScript)
{
    const QString digest(64, u'0');
    EXPECT_EQ(rootCommand(u"/tmp/w/package.pkg"_s, digest, u"ABCDE12345"_s, u"/private/tmp"_s, false,
                  ScriptTools::macOS()),
        u"d=$(/usr/bin/mktemp -d '/private/tmp/corvanta-pkg.XXXXXX') || exit 91; trap '/bin/rm -rf \"$d\"' "
        u"EXIT; "
        u"/bin/cp '/tmp/w/package.pkg' \"$d/p.pkg\" || exit 91; echo '"_s
            + digest
            + u"  '\"$d/p.pkg\" | /usr/bin/shasum -a 256 -c - >/dev/null 2>&1 || exit 92; /usr/sbin/pkgutil "
              u"--check-signature \"$d/p.pkg\" > \"$d/sig\" 2>&1; /usr/bin/grep -Eq '^ *Status: signed by a "
              u"developer certificate issued by Apple for distribution$' \"$d/sig\" || exit 93; "
              u"/usr/bin/grep -Eq "
              u"'^ *1\\. Developer ID Installer: .* \\(ABCDE12345\\)$' \"$d/sig\" || exit 94; "
              u"/usr/sbin/spctl "
              u"--assess --type install \"$d/p.pkg\" >/dev/null 2>&1 || exit 95; /usr/sbin/installer -pkg "
              u"\"$d/p.pkg\" -target /"_s);
    EXPECT_TRUE(rootCommand(u"/tmp/p.pkg"_s, digest, u"ABCDE12345"_s, u"/tmp"_s, true, ScriptTools::macOS())
                    .endsWith(u"|| exit 95; /bin/echo \"would install $d/p.pkg\""_s));
}

} // namespace
} // namespace corvanta
