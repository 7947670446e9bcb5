#include "Printers.h"
#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"
#include "support/MachOWriter.h"
#include "support/SigningFixtures.h"
#include "support/TestAuthority.h"

#include <functional>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

void setLe32(QByteArray& bytes, qsizetype at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

void setBe32(QByteArray& bytes, qsizetype at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * (3 - i)));
}

// A signed thin executable and a signed universal one, made once.
struct Signed {
    QByteArray thin;
    QByteArray universal;
    test::TestAuthority authority;

    Signed()
    {
        QTemporaryDir dir;
        SigningOptions options;
        options.identity = authority.developerId(u"TESTTEAM01"_s);
        options.identifier = u"com.example.tool"_s;
        const QString thinPath = dir.filePath(u"thin"_s);
        test::writeFile(thinPath, test::MachOWriter::executable(test::MachOWriter::arm64, 9000));
        CodeSigner(options).sign(thinPath);
        thin = test::readFile(thinPath);
        const QString fatPath = dir.filePath(u"fat"_s);
        test::writeFile(fatPath,
            test::MachOWriter::universal(
                { { test::MachOWriter::x86_64,
                      test::MachOWriter::executable(test::MachOWriter::x86_64, 7000) },
                    { test::MachOWriter::arm64,
                        test::MachOWriter::executable(test::MachOWriter::arm64, 7000) } }));
        CodeSigner(options).sign(fatPath);
        universal = test::readFile(fatPath);
    }
};

const Signed& samples()
{
    static const Signed instance;
    return instance;
}

struct Corruption {
    const char* name;
    bool universal;
    std::function<void(QByteArray& bytes, const test::SignatureLayout& layout)> change;
};

void PrintTo(const Corruption& corruption, std::ostream* out)
{
    *out << corruption.name;
}

class Corruptions : public testing::TestWithParam<Corruption> { };

// Every corruption is refused or read as unsigned, never trusted, and never
// read outside the file (the sanitizers watch).
TEST_P(Corruptions, AreRefusedWithoutReadingOutOfBounds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"code"_s);
    QByteArray bytes = GetParam().universal ? samples().universal : samples().thin;
    test::writeFile(path, bytes);
    const test::SignatureLayout layout = test::signatureLayout(path);
    GetParam().change(bytes, layout);
    test::writeFile(path, bytes);

    const PortableCodeSigning signing { samples().authority.anchors() };
    EXPECT_FALSE(signing.checkValidity(path, ValidityFlags::installer).isValid());
    EXPECT_FALSE(signing.signing(path).team && !signing.checkValidity(path, 0).isValid()
        && signing.checkValidity(path, ValidityFlags::installer).isValid());
    (void)signing.designatedRequirement(path);
    (void)signing.architectures(path);
}

INSTANTIATE_TEST_SUITE_P(MachOAndSuperBlob, Corruptions,
    testing::Values(Corruption { "CommandCountHuge", false,
                        [](QByteArray& b, const auto&) { setLe32(b, 16, 0x7fffffff); } },
        Corruption { "CommandsSizePastTheFile", false,
            [](QByteArray& b, const auto&) { setLe32(b, 20, 0xfffffff0); } },
        Corruption { "CommandSizeZero", false, [](QByteArray& b, const auto&) { setLe32(b, 32 + 4, 0); } },
        Corruption { "SignatureOffsetPastTheFile", false,
            [](QByteArray& b, const test::SignatureLayout& layout) {
                const qsizetype command = b.indexOf(QByteArray::fromHex("1d00000010000000"));
                setLe32(b, command + 8, 0xfffffff0);
                Q_UNUSED(layout);
            } },
        Corruption { "SignatureSizeWraps", false,
            [](QByteArray& b, const test::SignatureLayout&) {
                const qsizetype command = b.indexOf(QByteArray::fromHex("1d00000010000000"));
                setLe32(b, command + 12, 0xffffffff);
            } },
        Corruption { "SuperBlobCountHuge", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.superBlob + 8, 0x10000000); } },
        Corruption { "SuperBlobLengthPastTheRegion", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.superBlob + 4, 0x7fffffff); } },
        Corruption { "BlobOffsetPastTheEnd", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.superBlob + 16, 0x7ffffff0); } },
        Corruption { "BlobOffsetIntoTheIndex", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.superBlob + 16, 4); } },
        Corruption { "RepeatedSlot", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.superBlob + 20, 0); } },
        Corruption { "DirectoryLengthPastTheBlob", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.codeDirectory + 4, 0x7fffffff);
            } },
        Corruption { "DirectoryHashOffsetPastTheEnd", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.codeDirectory + 16, 0xfffffff0);
            } },
        Corruption { "DirectorySpecialSlotsHuge", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.codeDirectory + 24, 0x40000000);
            } },
        Corruption { "DirectoryCodeSlotsHuge", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.codeDirectory + 28, 0x40000000);
            } },
        Corruption { "DirectoryCodeLimitPastTheFile", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.codeDirectory + 32, 0xffffff00);
            } },
        Corruption { "DirectoryIdentifierUnterminated", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.codeDirectory + 20, *ByteView(b).be32(std::uint64_t(l.codeDirectory) + 4) - 1);
            } },
        Corruption { "DirectoryHashTypeUnknown", false,
            [](QByteArray& b, const test::SignatureLayout& l) { b[l.codeDirectory + 37] = char(99); } },
        Corruption { "DirectoryPageSizeHuge", false,
            [](QByteArray& b, const test::SignatureLayout& l) { b[l.codeDirectory + 39] = char(64); } },
        Corruption { "DirectoryVersionFromTheFuture", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.codeDirectory + 8, 0x30000); } },
        Corruption { "CmsLengthPastTheBlob", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.cms + 4, 0x7fffffff); } },
        Corruption { "CmsEmptiedButNotAdHoc", false,
            [](QByteArray& b, const test::SignatureLayout& l) { setBe32(b, l.cms + 4, 8); } },
        Corruption { "RequirementsCountHuge", false,
            [](QByteArray& b, const test::SignatureLayout& l) {
                setBe32(b, l.requirements + 8, 0x7fffffff);
            } },
        Corruption {
            "UniversalCountHuge", true, [](QByteArray& b, const auto&) { setBe32(b, 4, 0x7fffffff); } },
        Corruption { "UniversalOffsetPastTheFile", true,
            [](QByteArray& b, const auto&) { setBe32(b, 8 + 20 + 8, 0xfffffff0); } },
        Corruption {
            "UniversalSizeWraps", true, [](QByteArray& b, const auto&) { setBe32(b, 8 + 12, 0xffffffff); } },
        Corruption { "UniversalSlicesOverlap", true,
            [](QByteArray& b, const auto&) { setBe32(b, 8 + 20 + 8, *ByteView(b).be32(8 + 8)); } },
        Corruption { "UniversalProcessorDisagrees", true,
            [](QByteArray& b, const auto&) { setBe32(b, 8, test::MachOWriter::arm64); } },
        Corruption { "TruncatedInsideTheSuperBlob", false,
            [](QByteArray& b, const test::SignatureLayout& l) { b.truncate(qsizetype(l.superBlob) + 30); } },
        Corruption {
            "TruncatedInsideTheHeader", false, [](QByteArray& b, const auto&) { b.truncate(10); } }));

// Every single byte of a signature, flipped in turn: never accepted, never a crash.
TEST(HostileInput, EveryByteOfTheSignatureMatters)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"tool"_s);
    const QByteArray original = samples().thin;
    test::writeFile(path, original);
    const test::SignatureLayout layout = test::signatureLayout(path);
    const auto image = SignedImage::open(path);
    const std::uint32_t used = image->slices()[0].signature->length;
    const PortableCodeSigning signing { samples().authority.anchors() };
    const QString requirement = u"anchor apple generic and certificate leaf[subject.OU] = TESTTEAM01"_s;
    // The copy of the root inside the CMS proves nothing: the configured root is what counts.
    const QByteArray root = samples().authority.rootDer();
    const qint64 rootAt = original.indexOf(root, layout.superBlob);
    ASSERT_GT(rootAt, 0);
    int accepted = 0;
    for (qint64 offset = layout.superBlob; offset < layout.superBlob + used; ++offset) {
        if (offset >= rootAt && offset < rootAt + root.size())
            continue;
        QByteArray bytes = original;
        bytes[offset] = char(~bytes[offset]);
        test::writeFile(path, bytes);
        if (signing.checkValidity(path, ValidityFlags::installer, requirement).isValid()) {
            ++accepted;
            ADD_FAILURE() << "a flipped byte at " << offset - layout.superBlob
                          << " of the SuperBlob was accepted";
        }
    }
    EXPECT_EQ(accepted, 0);
}

} // namespace
