#include "codesign/Requirement.h"

#include "Printers.h"
#include "codesign/RequirementEvaluator.h"
#include "codesign/SignedImage.h"
#include "support/SigningFixtures.h"
#include "support/TestAuthority.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

std::optional<RequirementSet> requirementsOf(const char* sample)
{
    const auto image = SignedImage::open(test::realworld(u"macho"_s, QString::fromLatin1(sample)));
    if (!image || !image->slices()[0].signature || !image->slices()[0].signature->requirements)
        return std::nullopt;
    return RequirementSet::fromBlob(ByteView(*image->slices()[0].signature->requirements));
}

struct RealRequirement {
    const char* sample;
    const char* text;
    bool bytesRoundTrip; // right-nested "and"s print without parentheses, so only some blobs come back byte
                         // for byte
};

class RealRequirements : public testing::TestWithParam<RealRequirement> { };

TEST_P(RealRequirements, DecompileAndCompileBack)
{
    const auto set = requirementsOf(GetParam().sample);
    ASSERT_TRUE(set);
    ASSERT_EQ(set->entries.size(), 1u);
    const Requirement* designated = set->find(RequirementType::designated);
    ASSERT_TRUE(designated);
    EXPECT_EQ(designated->text(), QString::fromUtf8(GetParam().text));
    EXPECT_EQ(set->text(), u"designated => "_s + QString::fromUtf8(GetParam().text));

    QString error;
    const auto compiled = Requirement::compile(designated->text(), &error);
    ASSERT_TRUE(compiled) << error.toStdString();
    EXPECT_EQ(compiled->text(), designated->text());
    if (GetParam().bytesRoundTrip) {
        EXPECT_EQ(compiled->toBlob(), designated->toBlob());
        const auto image
            = SignedImage::open(test::realworld(u"macho"_s, QString::fromLatin1(GetParam().sample)));
        EXPECT_EQ(set->toBlob(), *image->slices()[0].signature->requirements);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, RealRequirements,
    testing::Values(
        RealRequirement { "sparkle-DevSignedApp-SignedApp",
            "anchor apple generic and identifier \"com.zoo.SignedApp\" and (certificate "
            "leaf[field.1.2.840.113635.100.6.1.9] /* exists */ or certificate "
            "1[field.1.2.840.113635.100.6.2.6] /* "
            "exists */ and certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate "
            "leaf[subject.OU] = ZCK58M894E)",
            true },
        RealRequirement { "santa-universal-appledev-team-EQHXZ8M8AV",
            "identifier \"com.google.blocked_signing_id\" and anchor apple generic and certificate "
            "leaf[subject.CN] = \"Apple Development: Google Development (69FHSU289T)\" and certificate "
            "1[field.1.2.840.113635.100.6.2.1] /* exists */",
            false },
        RealRequirement { "santa-x86_64-selfsigned-cert-OU-but-no-team",
            "identifier goodcert and certificate root = H\"a6843b655e811f43f07b0ae1b34ae8c7874b3d63\"",
            true },
        RealRequirement { "santa-x86_64-selfsigned-cert-no-OU",
            "identifier badcert and certificate leaf = H\"d83f2e6137f03de14122ca5b7a178664befd083e\"",
            true }));

TEST(RequirementText, AdHocSamplesCarryAnEmptySet)
{
    const auto set = requirementsOf("sparkle2-Updater-universal-adhoc");
    ASSERT_TRUE(set);
    EXPECT_TRUE(set->entries.empty());
    EXPECT_EQ(set->toBlob().toHex(), "fade0c010000000c00000000");
}

// Text in, canonical text out; the canonical text compiles to itself.
TEST(RequirementText, CompilesToCanonicalText)
{
    const std::vector<std::pair<QString, QString>> table {
        { u"anchor apple generic and certificate leaf[subject.OU] = \"ABCDE12345\""_s,
            u"anchor apple generic and certificate leaf[subject.OU] = ABCDE12345"_s },
        { u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists and certificate "
          u"leaf[field.1.2.840.113635.100.6.1.13] exists"_s,
            u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */ and "
            u"certificate "
            u"leaf[field.1.2.840.113635.100.6.1.13] /* exists */"_s },
        { u"identifier com.example.app"_s, u"identifier \"com.example.app\""_s },
        { u"identifier = \"plain\""_s, u"identifier plain"_s },
        { u"anchor apple"_s, u"anchor apple"_s },
        { u"cert leaf[subject.OU] = \"43AQ936H96\""_s, u"certificate leaf[subject.OU] = \"43AQ936H96\""_s },
        { u"(always or never) and never"_s, u"(always or never) and never"_s },
        { u"always or never and never"_s, u"always or never and never"_s },
        { u"!(identifier a and identifier b)"_s, u"! (identifier a and identifier b)"_s },
        { u"not identifier a"_s, u"! identifier a"_s },
        { u"cdhash H\"0011223344556677889900112233445566778899\""_s,
            u"cdhash H\"0011223344556677889900112233445566778899\""_s },
        { u"anchor = H\"00112233\""_s, u"certificate root = H\"00112233\""_s },
        { u"certificate -2 trusted"_s, u"certificate -2 trusted"_s },
        { u"anchor trusted"_s, u"anchor trusted"_s },
        { u"info[CFBundleVersion] >= \"1.2\""_s, u"info[CFBundleVersion] >= \"1.2\""_s },
        { u"info[CFBundleName] = Foo*"_s, u"info[CFBundleName] = Foo*"_s },
        { u"info[CFBundleName] = *Foo"_s, u"info[CFBundleName] = *Foo"_s },
        { u"info[CFBundleName] = *Foo*"_s, u"info[CFBundleName] ~ Foo"_s },
        { u"entitlement[\"com.apple.security.app-sandbox\"] exists"_s,
            u"entitlement[\"com.apple.security.app-sandbox\"] /* exists */"_s },
        { u"info[Missing] absent"_s, u"info[Missing] absent"_s },
        { u"certificate 1[policy.1.2.840.113635.100.5.1]"_s,
            u"certificate 1[policy.1.2.840.113635.100.5.1] /* exists */"_s },
        { u"platform = 1 /* a comment */ and notarized // trailing"_s, u"platform = 1 and notarized"_s },
        { u"identifier \"has \\\"quotes\\\"\""_s, u"identifier \"has \\\"quotes\\\"\""_s },
        { u"identifier \"and\""_s, u"identifier \"and\""_s },
        { u"certificate leaf[subject.CN] = 0x00ff"_s, u"certificate leaf[subject.CN] = 0x00ff"_s },
    };
    for (const auto& [input, canonical] : table) {
        QString error;
        const auto requirement = Requirement::compile(input, &error);
        ASSERT_TRUE(requirement) << input.toStdString() << ": " << error.toStdString();
        EXPECT_EQ(requirement->text(), canonical) << input.toStdString();
        const auto again = Requirement::compile(canonical);
        ASSERT_TRUE(again) << canonical.toStdString();
        EXPECT_EQ(*again, *requirement) << canonical.toStdString();
        const auto fromBlob = Requirement::fromBlob(ByteView(requirement->toBlob()));
        ASSERT_TRUE(fromBlob) << canonical.toStdString();
        EXPECT_EQ(*fromBlob, *requirement) << canonical.toStdString();
    }
}

TEST(RequirementText, InstallerRequirementsCompile)
{
    // The library requirement and the Developer ID requirement the installer builds.
    const QString library = u"anchor apple generic and certificate leaf[subject.OU] = \"ABCDE12345\""_s;
    const QString developerId
        = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists "
          u"and certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;
    const auto compiledLibrary = Requirement::compile(library);
    const auto compiledDeveloperId = Requirement::compile(developerId);
    ASSERT_TRUE(compiledLibrary);
    ASSERT_TRUE(compiledDeveloperId);
    // The OID arcs encode as the platform stores them.
    EXPECT_TRUE(compiledDeveloperId->toBlob().contains(QByteArray::fromHex("2a864886f763640602060000")));
}

TEST(RequirementText, RejectsMalformedText)
{
    for (const QString& text : { u""_s, u"identifier"_s, u"anchor apple generic and"_s, u"(always"_s,
             u"always)"_s, u"certificate leaf[subject.OU"_s, u"certificate leaf[] = x"_s,
             u"cdhash H\"abc\""_s, u"cdhash \"text\""_s, u"certificate leaf[field.1.2.x] exists"_s,
             u"certificate leaf[field.7.1] exists"_s, u"identifier \"unterminated"_s, u"bogus"_s,
             u"always /* unterminated"_s, u"platform = x"_s, u"identifier a identifier b"_s, u"info[k] = "_s,
             u"certificate sideways trusted"_s }) {
        QString error;
        EXPECT_FALSE(Requirement::compile(text, &error)) << text.toStdString();
        EXPECT_FALSE(error.isEmpty()) << text.toStdString();
    }
}

// Inputs the fuzz target found; each must print as text that compiles back.
TEST(RequirementText, FuzzFindingsRoundTrip)
{
    std::vector<Requirement> requirements;
    // A field name with a NUL inside: printed quoted, not as hexadecimal data.
    const QByteArray blob = QByteArray::fromBase64("+t4MAAAAALQAAAABAAAABgAAAAIAAAAdY29tLmdvb2dsZS5ibG9ja3N1Y"
                                                   "mplY25pbmdfaWQAAAAAAAAGAAAADwAAAAYAAAALAAAAAAAAAA"
                                                   "pzdWJqZWN0LkMATgAAAAABAAAAMkFwcGxlIERldmVsb3BtZW50OiBHb29"
                                                   "nbGUgRGV2ZWxvcG1lbnQgKDY5RkhTVTI4OVQpAAAAAAAOAAAA"
                                                   "AQAAAAoqhkiG92NkBgIBAAAAAAAA");
    const auto fromBlob = Requirement::fromBlob(ByteView(blob));
    ASSERT_TRUE(fromBlob);
    requirements.push_back(*fromBlob);
    // A named requirement whose name holds control characters.
    const auto fromText = Requirement::compile(QString::fromUtf8(
        "certificate -2[polic{.1.2.3] absent or entitlement[\"x\"] = cy or (\"\xff\xff\x06named\")"));
    ASSERT_TRUE(fromText);
    requirements.push_back(*fromText);
    for (const Requirement& requirement : requirements) {
        QString error;
        const auto again = Requirement::compile(requirement.text(), &error);
        ASSERT_TRUE(again) << requirement.text().toStdString() << ": " << error.toStdString();
        EXPECT_EQ(again->text(), requirement.text());
    }
}

TEST(RequirementText, DeepNestingIsRefusedNotOverflowed)
{
    QString text;
    for (int i = 0; i < 5000; ++i)
        text += u'(';
    text += u"always"_s;
    for (int i = 0; i < 5000; ++i)
        text += u')';
    EXPECT_FALSE(Requirement::compile(text));
    QString negations = u"! "_s.repeated(5000) + u"always"_s;
    EXPECT_FALSE(Requirement::compile(negations));

    QByteArray blob = QByteArray::fromHex("fade0c000000000000000001");
    for (int i = 0; i < 5000; ++i)
        blob += QByteArray::fromHex("00000009");
    blob += QByteArray::fromHex("00000001");
    const std::uint32_t length = std::uint32_t(blob.size());
    blob[4] = char(length >> 24);
    blob[5] = char(length >> 16);
    blob[6] = char(length >> 8);
    blob[7] = char(length);
    EXPECT_FALSE(Requirement::fromBlob(ByteView(blob)));
}

TEST(RequirementText, TruncatedAndOverlongBlobsAreRefused)
{
    const QByteArray good
        = Requirement::compile(u"identifier \"com.example\" and anchor apple generic"_s)->toBlob();
    for (qsizetype cut = 0; cut < good.size(); ++cut) {
        QByteArray truncated = good.left(cut);
        EXPECT_FALSE(Requirement::fromBlob(ByteView(truncated))) << cut;
    }
    QByteArray lying = good;
    lying[23] = char(0x7f); // the identifier's length now runs past the end
    EXPECT_FALSE(Requirement::fromBlob(ByteView(lying)));
    QByteArray unknownOp = QByteArray::fromHex("fade0c00000000100000000100000063");
    EXPECT_FALSE(Requirement::fromBlob(ByteView(unknownOp)));
}

// Evaluation against identities of a test authority shaped like Apple's.
class RequirementEvaluation : public testing::Test {
protected:
    static EvaluationContext contextFor(const SigningIdentity& identity, bool anchored)
    {
        EvaluationContext context;
        context.identifier = u"com.example.app"_s;
        context.team = identity.team();
        context.chain.push_back(identity.leaf);
        for (const Certificate& certificate : identity.chain)
            context.chain.push_back(certificate);
        context.anchoredAtApple = anchored;
        context.cdhashes = { QByteArray::fromHex("0011223344556677889900112233445566778899") };
        context.infoPlist = QVariantMap { { u"CFBundleVersion"_s, u"10.2"_s },
            { u"CFBundleName"_s, u"Example"_s }, { u"LSUIElement"_s, false }, { u"Count"_s, qint64(7) } };
        context.entitlements = QVariantMap { { u"com.apple.security.app-sandbox"_s, true },
            { u"keychain-access-groups"_s, QVariantList { u"A.one"_s, u"A.two"_s } } };
        return context;
    }

    test::TestAuthority authority;
};

TEST_F(RequirementEvaluation, Table)
{
    const EvaluationContext developerId = contextFor(authority.developerId(u"ABCDE12345"_s), true);
    const EvaluationContext unanchored = contextFor(authority.developerId(u"ABCDE12345"_s), false);
    test::LeafOptions plain;
    plain.team = u"ABCDE12345"_s;
    plain.developerIdMark = false;
    const EvaluationContext notDeveloperId = contextFor(authority.identity(plain), true);
    EvaluationContext adHoc;
    adHoc.identifier = u"com.example.app"_s;
    adHoc.cdhashes = { QByteArray::fromHex("0011223344556677889900112233445566778899") };

    const QString developerIdRequirement
        = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists and certificate "
          u"leaf[field.1.2.840.113635.100.6.1.13] exists"_s;
    struct Row {
        QString requirement;
        const EvaluationContext* context;
        bool expected;
    };
    const std::vector<Row> rows {
        { u"anchor apple generic and certificate leaf[subject.OU] = \"ABCDE12345\""_s, &developerId, true },
        { u"anchor apple generic and certificate leaf[subject.OU] = \"ZZZZZ99999\""_s, &developerId, false },
        { u"anchor apple generic and certificate leaf[subject.OU] = \"ABCDE12345\""_s, &unanchored, false },
        { u"anchor apple generic and certificate leaf[subject.OU] = \"ABCDE12345\""_s, &adHoc, false },
        { developerIdRequirement, &developerId, true },
        { developerIdRequirement, &notDeveloperId, false },
        { developerIdRequirement, &unanchored, false },
        { u"anchor apple"_s, &developerId, false }, // Apple's own code only
        { u"identifier \"com.example.app\""_s, &developerId, true },
        { u"identifier \"com.example.other\""_s, &developerId, false },
        { u"cdhash H\"0011223344556677889900112233445566778899\""_s, &adHoc, true },
        { u"cdhash H\"ff11223344556677889900112233445566778899\""_s, &adHoc, false },
        { u"certificate leaf[subject.CN] = \"Developer ID Application: Test Developer (ABCDE12345)\""_s,
            &developerId, true },
        { u"certificate leaf[subject.CN] = \"Developer ID Application:\"*"_s, &developerId, true },
        { u"certificate leaf[subject.CN] = *\"(ABCDE12345)\""_s, &developerId, true },
        { u"certificate leaf[subject.CN] ~ \"Test Developer\""_s, &developerId, true },
        { u"certificate leaf[issuer.CN] = \"Developer ID Certification Authority\""_s, &developerId, true },
        { u"certificate root[subject.CN] = \"Test Apple Root CA\""_s, &developerId, true },
        { u"certificate 2[subject.CN] = \"Test Apple Root CA\""_s, &developerId, true },
        { u"certificate -2[subject.CN] = \"Developer ID Certification Authority\""_s, &developerId, true },
        { u"certificate 5[subject.CN] exists"_s, &developerId, false },
        { u"certificate leaf[subject.OU] exists"_s, &adHoc, false },
        { u"certificate leaf[subject.STREET] absent"_s, &developerId, true },
        { u"certificate leaf[bogus.CN] exists"_s, &developerId, false },
        { u"info[CFBundleVersion] >= \"10.10\""_s, &developerId, false }, // 10.2 < 10.10, numerically
        { u"info[CFBundleVersion] >= \"9.99\""_s, &developerId, true },
        { u"info[CFBundleVersion] < \"10.3\""_s, &developerId, true },
        { u"info[Count] = 7"_s, &developerId, true },
        { u"info[LSUIElement] exists"_s, &developerId, false }, // explicit false
        { u"info[Missing] absent"_s, &developerId, true },
        { u"info[CFBundleName] absent"_s, &developerId, false },
        { u"entitlement[\"com.apple.security.app-sandbox\"] exists"_s, &developerId, true },
        { u"entitlement[\"keychain-access-groups\"] = A.two"_s, &developerId, true },
        { u"entitlement[\"keychain-access-groups\"] = A.three"_s, &developerId, false },
        { u"always and ! never"_s, &adHoc, true },
        { u"never or identifier \"com.example.app\""_s, &adHoc, true },
        { u"notarized"_s, &developerId, false },
        { u"anchor trusted"_s, &developerId, true },
        { u"anchor trusted"_s, &unanchored, false },
        { u"platform = 0"_s, &adHoc, true },
    };
    for (const Row& row : rows) {
        QString error;
        const auto requirement = Requirement::compile(row.requirement, &error);
        ASSERT_TRUE(requirement) << row.requirement.toStdString() << ": " << error.toStdString();
        EXPECT_EQ(satisfies(*requirement, *row.context), row.expected) << row.requirement.toStdString();
    }
}

TEST_F(RequirementEvaluation, AnchorHashNamesTheCertificateBySha1)
{
    const SigningIdentity identity = authority.developerId(u"ABCDE12345"_s);
    const EvaluationContext context = contextFor(identity, true);
    const QString rootSha1
        = QString::fromLatin1(Digest::of(HashType::sha1, ByteView(authority.rootDer())).toHex());
    EXPECT_TRUE(satisfies(*Requirement::compile(u"certificate root = H\""_s + rootSha1 + u'"'), context));
    EXPECT_FALSE(satisfies(*Requirement::compile(u"certificate leaf = H\""_s + rootSha1 + u'"'), context));
}

} // namespace
