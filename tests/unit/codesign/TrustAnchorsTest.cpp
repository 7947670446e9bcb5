#include "codesign/TrustAnchors.h"

#include "support/SigningFixtures.h"
#include "support/TestAuthority.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

QByteArray pem(const QByteArray& der)
{
    QByteArray text = "-----BEGIN CERTIFICATE-----\n";
    const QByteArray base64 = der.toBase64();
    for (qsizetype at = 0; at < base64.size(); at += 64)
        text += base64.mid(at, 64) + '\n';
    return text + "-----END CERTIFICATE-----\n";
}

// The folder an administrator fills: DER files, PEM bundles with comments
// between the certificates, copies, and whatever else ends up there.
TEST(TrustAnchors, FromDerFilesPemBundlesAndFoldersWithStrayFiles)
{
    const QByteArray incRoot
        = test::readFile(test::realworld(u"macho"_s, u"apple-AppleIncRootCertificate.cer"_s));
    const QByteArray g3 = test::readFile(test::realworld(u"macho"_s, u"apple-AppleRootCA-G3.cer"_s));
    const test::TestAuthority authority;
    ASSERT_EQ(TrustAnchors::parseCertificates(incRoot), QList<QByteArray> { incRoot });

    QTemporaryDir dir;
    const auto write
        = [&](const QString& name, const QByteArray& bytes) { test::writeFile(dir.filePath(name), bytes); };
    write(u"AppleIncRoot.cer"_s, incRoot);
    write(u"bundle.pem"_s,
        "# Apple Root CA - G3\n" + pem(g3) + "\n# a private root\n" + pem(authority.rootDer()));
    write(u"copy.crt"_s, pem(incRoot)); // the same root again, in PEM
    write(u"broken.pem"_s, "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
    write(u"empty.der"_s, {});
    write(u"huge.cer"_s, incRoot + QByteArray(2 << 20, '\0'));
    write(u"README.txt"_s, pem(g3)); // not a certificate's name
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"folder.pem"_s));

    EXPECT_EQ(TrustAnchors::fromFolder(dir.path()).certificates(),
        (QList<QByteArray> { incRoot, g3, authority.rootDer() }));
    EXPECT_TRUE(TrustAnchors::fromFolder(dir.filePath(u"missing"_s)).isEmpty());
}

} // namespace
