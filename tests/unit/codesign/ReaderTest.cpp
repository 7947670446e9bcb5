#include "Printers.h"
#include "codesign/CodeLocation.h"
#include "codesign/CodeSigner.h"
#include "codesign/Digest.h"
#include "codesign/EmbeddedSignature.h"
#include "codesign/MachO.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"
#include "support/MachOWriter.h"
#include "support/SigningFixtures.h"

#include <algorithm>
#include <tuple>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

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

// The signer writes SHA-256 directories only; this rewrites the one of an
// ad-hoc signed thin file for another hash type, with every hash (code pages
// and the bound requirements) taken again, the signature's space in the
// Mach-O headers grown to fit.
void rehashDirectory(const QString& path, HashType type)
{
    QByteArray bytes = test::readFile(path);
    const auto file = MachOFile::parse(ByteView(bytes));
    ASSERT_TRUE(file && file->slices[0].signature && file->slices[0].segment("__LINKEDIT"));
    const SignatureLocation room = *file->slices[0].signature;
    const MachOSegment linkedit = *file->slices[0].segment("__LINKEDIT");
    const QByteArray old = bytes.mid(room.dataOffset, room.dataSize);
    const auto signature = EmbeddedSignature::parse(ByteView(old));
    ASSERT_TRUE(signature && signature->directories.size() == 1);
    const CodeDirectory& primary = signature->primary();
    const std::uint32_t size = *hashSize(type);
    const std::uint32_t names = primary.hashOffset - primary.specialSlotCount * primary.hashLength;
    const std::uint32_t hashOffset = names + primary.specialSlotCount * size;
    const auto be32 = [](std::uint32_t value) {
        const char out[] = { char(value >> 24), char(value >> 16), char(value >> 8), char(value) };
        return QByteArray(out, 4);
    };
    const auto setLe = [&bytes](std::uint64_t at, std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes[qsizetype(at) + i] = char(value >> (8 * i));
    };

    // The other blobs stay; the space grows to hold the new directory.
    const ByteView blob(old);
    const std::uint32_t count = *blob.be32(8);
    std::vector<std::pair<std::uint32_t, QByteArray>> blobs;
    std::uint32_t total = 12 + count * 8 + hashOffset + primary.codeSlotCount * size;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t slotType = *blob.be32(12 + i * 8);
        const std::uint32_t at = *blob.be32(16 + i * 8);
        blobs.emplace_back(slotType,
            slotType == blobSlot::codeDirectory ? QByteArray()
                                                : blob.sub(at, *blob.be32(at + 4))->toByteArray());
        total += std::uint32_t(blobs.back().second.size());
    }
    const std::uint32_t space = std::max(room.dataSize, (total + 15) / 16 * 16);
    const std::uint64_t linkeditSize = linkedit.fileSize + (space - room.dataSize);
    setLe(room.commandOffset + 12, space, 4);
    setLe(linkedit.commandOffset + 48, linkeditSize, 8);
    setLe(
        linkedit.commandOffset + 32, std::max(linkedit.vmSize, (linkeditSize + 0x3fff) / 0x4000 * 0x4000), 8);
    bytes.resize(room.dataOffset + space);

    QByteArray directory = primary.bytes.left(names);
    directory.replace(4, 4, be32(hashOffset + primary.codeSlotCount * size));
    directory.replace(16, 4, be32(hashOffset));
    directory[36] = char(size);
    directory[37] = char(type);
    for (int slot = int(primary.specialSlotCount); slot >= 1; --slot) {
        ASSERT_TRUE(slot == specialSlot::requirements || !primary.hasSpecialSlot(slot)) << slot;
        directory += primary.hasSpecialSlot(slot) ? Digest::of(type, ByteView(*signature->requirements))
                                                  : QByteArray(int(size), '\0');
    }
    const std::uint64_t page = primary.pageSize();
    for (std::uint32_t i = 0; i < primary.codeSlotCount; ++i) {
        const std::uint64_t start = i * page;
        directory += Digest::of(type, *ByteView(bytes).sub(start, std::min(page, primary.codeLimit - start)));
    }

    QByteArray index;
    QByteArray contents;
    for (auto& [slotType, bytesOf] : blobs) {
        index += be32(slotType) + be32(12 + count * 8 + std::uint32_t(contents.size()));
        contents += slotType == blobSlot::codeDirectory ? directory : bytesOf;
    }
    QByteArray superBlob = be32(blobMagic::embeddedSignature) + be32(total) + be32(count) + index + contents;
    ASSERT_EQ(superBlob.size(), qsizetype(total));
    superBlob.resize(space, '\0');
    bytes.replace(qsizetype(room.dataOffset), superBlob.size(), superBlob);
    test::writeFile(path, bytes);
}

// Directories of every hash type verify their pages and give a CDHash of
// 20 bytes from their own full hash.
TEST(Reader, EveryHashTypeOfADirectoryIsCheckedWithItsOwnDigest)
{
    QTemporaryDir dir;
    const PortableCodeSigning signing { TrustAnchors() };
    for (const HashType type :
        { HashType::sha1, HashType::sha256Truncated, HashType::sha256, HashType::sha384 }) {
        SCOPED_TRACE(int(type));
        const QString path = dir.filePath(u"tool-%1"_s.arg(int(type)));
        test::writeFile(path, test::MachOWriter::executable(CpuType::ofThisBuild(), 20000));
        CodeSigner(SigningOptions {}).sign(path);
        rehashDirectory(path, type);
        const auto image = SignedImage::open(path);
        ASSERT_TRUE(image && image->slices()[0].signature);
        const CodeDirectory& directory = image->slices()[0].signature->primary();
        EXPECT_EQ(directory.hashType, type);
        EXPECT_EQ(directory.hashLength, *hashSize(type));
        EXPECT_EQ(directory.cdhash(), Digest::of(type, ByteView(directory.bytes)).left(20));
        EXPECT_EQ(signing.checkValidity(path, ValidityFlags::installer).status, SigningStatus::ok);

        test::flipByte(path, 0x1100); // a code page
        EXPECT_EQ(
            signing.checkValidity(path, ValidityFlags::installer).status, SigningStatus::signatureFailed);
    }
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

// Signing information is read with a few small reads rather than a mapping;
// both must see the same file, whole or cut short anywhere.
TEST(Reader, HeadersReadInPiecesAgreeWithTheMappedFile)
{
    QTemporaryDir dir;
    const auto same = [](const QString& path) {
        const auto mapped = SignedImage::open(path);
        const auto headers = SigningHeaders::read(path, cpu::arm64);
        ASSERT_EQ(bool(mapped), bool(headers));
        if (!mapped)
            return;
        ASSERT_EQ(mapped->slices().size(), headers->machO.slices.size());
        for (std::size_t i = 0; i < mapped->slices().size(); ++i) {
            const MachOSlice& a = mapped->slices()[i].slice;
            const MachOSlice& b = headers->machO.slices[i];
            EXPECT_EQ(
                std::tie(a.cpuType, a.offset, a.size, a.commandsSize, a.firstSectionOffset, a.infoPlist),
                std::tie(b.cpuType, b.offset, b.size, b.commandsSize, b.firstSectionOffset, b.infoPlist));
            EXPECT_EQ(bool(a.signature), bool(b.signature));
        }
        const auto& signature = mapped->preferred(cpu::arm64).signature;
        ASSERT_EQ(bool(signature), bool(headers->signature));
        if (signature) {
            EXPECT_EQ(signature->primary().bytes, headers->signature->primary().bytes);
            EXPECT_EQ(signature->cms, headers->signature->cms);
        }
    };
    const QDir samples(test::realworld(u"macho"_s, QString()));
    for (const QString& name : samples.entryList(QDir::Files)) {
        if (name.endsWith(u".md"_s) || name.endsWith(u".cer"_s))
            continue;
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = test::readFile(samples.filePath(name));
        same(samples.filePath(name));
        // Cut inside the headers, just past them, and inside the signature.
        for (const qsizetype cut : { qsizetype(20), qsizetype(4096), bytes.size() - 100 }) {
            const QString path = dir.filePath(name + u"-%1"_s.arg(cut));
            test::writeFile(path, bytes.left(cut));
            same(path);
        }
    }
}

// A universal header may name the same bytes many times over, and load
// commands may be large: neither may have a reader go over them again and
// again, nor copy more than a bounded amount.
TEST(Reader, SlicesOwnTheirBytesAndHeadersAreReadWithinABudget)
{
    QTemporaryDir dir;
    const auto le32 = [](QByteArray& out, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out += char(value >> (8 * i));
    };
    const auto be32 = [](QByteArray& out, std::uint32_t value) {
        for (int i = 3; i >= 0; --i)
            out += char(value >> (8 * i));
    };
    // A 64-bit slice whose only load command, of a kind nobody reads, fills it.
    const auto slice = [&](std::uint32_t commandsSize) {
        QByteArray out;
        for (const std::uint32_t field :
            { machO::magic64, cpu::arm64, 0u, machO::fileExecute, 1u, commandsSize, 0u, 0u })
            le32(out, field);
        le32(out, 0x7fff);
        le32(out, commandsSize);
        out.resize(32 + commandsSize, '\0');
        return out;
    };
    const auto universal = [&](const QByteArray& member, std::vector<std::uint32_t> offsets) -> QByteArray {
        QByteArray out;
        be32(out, machO::fatMagic);
        be32(out, std::uint32_t(offsets.size()));
        for (const std::uint32_t offset : offsets) {
            for (const std::uint32_t field : { cpu::arm64, 0u, offset, std::uint32_t(member.size()), 12u })
                be32(out, field);
        }
        out.resize(4096, '\0');
        return out + member + member;
    };
    const QByteArray small = slice(4096);
    const struct {
        const char* name;
        QByteArray bytes;
        bool read;
    } rows[] = {
        { "two slices", universal(small, { 4096, std::uint32_t(4096 + small.size()) }), true },
        { "one slice named twice", universal(small, { 4096, 4096 }), false },
        { "a slice inside the header", universal(small, { 0, 4096 }), false },
        { "load commands past the budget", slice(std::uint32_t(SigningHeaders::maxRead)), false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(QString::fromLatin1(row.name));
        test::writeFile(path, row.bytes);
        EXPECT_EQ(bool(SigningHeaders::read(path, cpu::arm64)), row.read);
        // The mapped file takes what its reader can, past the budget too.
        EXPECT_EQ(
            bool(SignedImage::open(path)), row.read || row.bytes.size() > qsizetype(SigningHeaders::maxRead));
    }
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
    EXPECT_EQ(signing.signing(bundle).identifier, u"com.zoo.SignedApp"_s);
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
