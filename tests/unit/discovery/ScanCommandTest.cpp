#include "Printers.h"
#include "app/Cli.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/SigningFixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvanta::Cli;
using corvanta::test::await;
using corvanta::test::BundleBuilder;
using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome run(const QStringList& arguments)
{
    Outcome outcome;
    QTextStream out(&outcome.out);
    QTextStream err(&outcome.err);
    Cli cli(out, err);
    outcome.code = await(cli.run(arguments));
    out.flush();
    err.flush();
    return outcome;
}

class ScanCommand : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_apps = m_dir.filePath(u"Applications"_s);
        BundleBuilder(m_apps, u"Zeta"_s)
            .bundleID(u"com.acme.zeta"_s)
            .set(u"CFBundleVersion"_s, 77)
            .binaryPlist()
            .appStoreReceipt()
            .create();
        BundleBuilder(m_apps + u"/Utilities"_s, u"alpha"_s)
            .bundleID(u"com.acme.alpha"_s)
            .feedURL(u"https://acme.com/appcast.xml"_s)
            .appUpdate(u"provider: generic\nurl: https://acme.com/alpha\n"_s)
            .create();
    }

    QTemporaryDir m_dir;
    QString m_apps;
};

TEST_F(ScanCommand, JsonListsEveryAppInOrder)
{
    const Outcome outcome = run({ u"scan"_s, u"--sandbox"_s, m_apps, u"--json"_s });
    ASSERT_EQ(outcome.code, 0) << outcome.err.toStdString();
    const QJsonArray apps = QJsonDocument::fromJson(outcome.out.toUtf8()).array();
    ASSERT_EQ(apps.size(), 2);
    const QJsonObject alpha = apps[0].toObject();
    EXPECT_EQ(alpha[u"bundleID"_s].toString(), u"com.acme.alpha"_s);
    EXPECT_EQ(alpha[u"folder"_s].toString(), m_apps);
    EXPECT_EQ(alpha[u"path"_s].toString(), m_apps + u"/Utilities/alpha.app"_s);
    EXPECT_EQ(alpha[u"feedURL"_s].toString(), u"https://acme.com/appcast.xml"_s);
    EXPECT_EQ(alpha[u"electronFeed"_s].toString(), u"https://acme.com/alpha/latest-mac.yml"_s);
    const QJsonObject zeta = apps[1].toObject();
    EXPECT_EQ(zeta[u"build"_s].toString(), u"77"_s);
    EXPECT_TRUE(zeta[u"isAppStore"_s].toBool());
    EXPECT_TRUE(zeta[u"team"_s].isNull());
}

TEST_F(ScanCommand, TableNamesTheFolder)
{
    const Outcome outcome = run({ u"scan"_s, u"--sandbox"_s, m_apps });
    ASSERT_EQ(outcome.code, 0);
    const QStringList lines = outcome.out.split(u'\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(u"NAME"_s));
    EXPECT_TRUE(lines[1].startsWith(u"alpha "_s));
    EXPECT_TRUE(lines[2].startsWith(u"Zeta "_s));
    EXPECT_TRUE(outcome.out.contains(u"2 apps in "_s + m_apps));
}

TEST_F(ScanCommand, RefusesStrayArguments)
{
    EXPECT_EQ(run({ u"scan"_s, u"--sandbox"_s }).code, Cli::usageError);
    EXPECT_EQ(run({ u"scan"_s, u"extra"_s }).code, Cli::usageError);
    EXPECT_EQ(run({ u"inspect"_s, u"bundle"_s }).code, Cli::usageError);
}

TEST_F(ScanCommand, InspectBundleShowsWhatWasRead)
{
    const Outcome outcome = run({ u"inspect"_s, u"bundle"_s, m_apps + u"/Zeta.app/"_s, u"--json"_s });
    ASSERT_EQ(outcome.code, 0) << outcome.err.toStdString();
    const QJsonObject bundle = QJsonDocument::fromJson(outcome.out.toUtf8()).object();
    EXPECT_EQ(bundle[u"bundleID"_s].toString(), u"com.acme.zeta"_s);
    EXPECT_EQ(bundle[u"folder"_s].toString(), m_apps);
    EXPECT_FALSE(bundle[u"isCorvanta"_s].toBool());
    const QJsonObject info = bundle[u"infoPlist"_s].toObject();
    EXPECT_EQ(info[u"format"_s].toString(), u"binary"_s);
    const QJsonObject build = info[u"keys"_s].toObject()[u"CFBundleVersion"_s].toObject();
    EXPECT_EQ(build[u"type"_s].toString(), u"integer"_s);
    EXPECT_EQ(build[u"value"_s].toInt(), 77);
    EXPECT_TRUE(bundle[u"appUpdate"_s].isNull());
}

TEST_F(ScanCommand, InspectBundleSaysWhyItCantRead)
{
    BundleBuilder(m_apps, u"NoID"_s).remove(u"CFBundleIdentifier"_s).create();
    BundleBuilder(m_apps, u"Broken"_s).infoPlistBytes("not a plist").create();
    const struct {
        QString path;
        QString message;
    } rows[] = {
        { m_apps + u"/NoID.app"_s, u"has no CFBundleIdentifier string"_s },
        { m_apps + u"/Broken.app"_s, u"is not a readable property-list dictionary"_s },
        { m_apps + u"/Missing.app"_s, u"is not a folder"_s },
        { m_apps, u"has no Contents/Info.plist"_s },
    };
    for (const auto& row : rows) {
        const Outcome outcome = run({ u"inspect"_s, u"bundle"_s, row.path });
        EXPECT_EQ(outcome.code, 1) << row.path.toStdString();
        EXPECT_TRUE(outcome.err.contains(row.message)) << outcome.err.toStdString();
    }
}

} // namespace

// A real Developer ID app judged as the installer would judge a download:
// valid against Apple's root, its team's requirement, one architecture; a
// flipped byte of its code turns the verdict.
TEST(InspectBundle, JudgesTheSignatureAgainstTheGivenRoots)
{
    QTemporaryDir dir;
    ASSERT_TRUE(corvanta::test::extractZip(
        corvanta::test::realworld(u"zip"_s, u"sparkle-DevSignedApp.zip"_s), dir.filePath(u"apps"_s)));
    const QString app = dir.filePath(u"apps/DevSignedApp.app"_s);
    const QString anchors = dir.filePath(u"anchors"_s);
    ASSERT_TRUE(QDir().mkpath(anchors));
    ASSERT_TRUE(QFile::copy(corvanta::test::realworld(u"macho"_s, u"apple-AppleIncRootCertificate.cer"_s),
        anchors + u"/root.cer"_s));

    // Offline: the test never asks the certificate's real revocation service.
    const Outcome judged
        = run({ u"inspect"_s, u"bundle"_s, app, u"--anchors"_s, anchors, u"--offline"_s, u"--json"_s });
    ASSERT_EQ(judged.code, 0) << judged.err.toStdString();
    const QJsonObject bundle = QJsonDocument::fromJson(judged.out.toUtf8()).object();
    EXPECT_EQ(bundle[u"architectures"_s].toArray(), QJsonArray { u"arm64"_s });
    const QJsonObject signature = bundle[u"signature"_s].toObject();
    EXPECT_TRUE(signature[u"valid"_s].toBool());
    EXPECT_TRUE(signature[u"revocationNote"_s].isNull());
    EXPECT_TRUE(signature[u"designatedRequirement"_s].toString().contains(
        u"certificate leaf[subject.OU] = ZCK58M894E"_s));

    QFile executable(app + u"/Contents/MacOS/SignedApp"_s);
    ASSERT_TRUE(executable.exists());
    ASSERT_TRUE(executable.open(QIODevice::ReadWrite));
    // The first page is the Mach-O header and load commands, all hashed.
    ASSERT_TRUE(executable.seek(0x20));
    const QByteArray byte = executable.peek(1);
    ASSERT_EQ(byte.size(), 1);
    executable.write(QByteArray(1, char(byte[0] ^ 0x01)));
    executable.close();
    const Outcome tampered = run({ u"inspect"_s, u"bundle"_s, app, u"--anchors"_s, anchors, u"--offline"_s });
    ASSERT_EQ(tampered.code, 0) << tampered.err.toStdString();
    EXPECT_TRUE(tampered.out.contains(u"Signature:      invalid (-67061): "_s)) << tampered.out.toStdString();
    EXPECT_TRUE(tampered.out.contains(u"Architectures:  arm64"_s)) << tampered.out.toStdString();
}
