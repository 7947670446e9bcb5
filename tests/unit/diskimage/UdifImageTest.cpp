#include "diskimage/UdifImage.h"

#include "diskimage/Resources.h"
#include "diskimage/UdifWriter.h"
#include "support/UdifFixtures.h"

#include <set>

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::test;

namespace {

struct RealImage {
    const char* file;
    const char* format;
    std::size_t partitions;
    bool license;
    // SHA-256 of the whole disk; empty where the raw-codec twin is the reference.
    const char* diskSha256;
};

const RealImage realImages[] = {
    { "homebrew-container-apfs.zlib-gpt-apfs.dmg", "UDZO", 8, false,
        "61833dc9072031966547d12b4aa5faa9f1f74e8f160ee38e2deb5c4c403ff52f" },
    { "homebrew-container.zlib-gpt-hfs.dmg", "UDZO", 8, false,
        "c29a633edae75e46c02e311e2af5df472a3299ff3a672963f3457076e98ec8d8" },
    { "node-udif-compression-adc.mbr-fat16.dmg", "UDCO", 5, false, "" },
    { "node-udif-compression-bz2.mbr-fat16.dmg", "UDBZ", 5, false,
        "0786ad1fdcba31a3f03ee80eb1d6e8c7ee2f4647a2b4b6f1855c9fe0719784de" },
    { "node-udif-compression-lzfse.mbr-fat16.dmg", "ULFO", 5, false, "" },
    { "node-udif-compression-raw.mbr-fat16.dmg", "UDRO", 5, false,
        "0786ad1fdcba31a3f03ee80eb1d6e8c7ee2f4647a2b4b6f1855c9fe0719784de" },
    { "node-udif-compression-zlib.mbr-fat16.dmg", "UDZO", 5, false,
        "0786ad1fdcba31a3f03ee80eb1d6e8c7ee2f4647a2b4b6f1855c9fe0719784de" },
    { "node-udif-raw.whole-disk-hfs.dmg", "UDRO", 1, false,
        "2deccfded5012b341726df88ea00d71e4ac6b8fbf93bf157885269b42d61b910" },
    { "node-udif-zlib-compressed.whole-disk-hfs.dmg", "UDZO", 1, false,
        "308bcbc833f18ef17c01a3e6798c6de475329710168bd5d3d1cf89f9501b8930" },
    { "sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg", "UDBZ", 3, true,
        "c45a5fd694b67ef971fd3543a5c27384b223b3a24d6510135e60a9da11dbf2c5" },
    { "sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg", "UDBZ", 8, false,
        "af3741de4f094d04b251238d344fa8e95af617bacb232d3955e0406c89e5356d" },
    { "sparkle-SparkleTestCodeSign_apfs_lzma_aux_files.lzma-gpt-apfs.dmg", "ULMO", 8, false,
        "1ce9804a73c217cf94bdc03a82c965ccdc3e35402cb3ce74453bda218446125f" },
    { "sparkle-SparkleTestCodeSign_pkg.lzma-gpt-apfs-pkg.dmg", "ULMO", 8, false,
        "634ffe8a67cec1f85c1e1b84fa1ed6f4dadd6f14f31131558b935a2c2e197d88" },
};

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

std::string errorText(const std::function<void()>& body)
{
    try {
        body();
    } catch (const DiskImageError& error) {
        return error.description().toStdString();
    }
    return "(no error)";
}

class RealImageTest : public testing::TestWithParam<RealImage> { };

TEST_P(RealImageTest, OpensVerifiesAndDecompressesToTheKnownDisk)
{
    const RealImage& row = GetParam();
    auto image = udif::UdifImage::open(realDiskImage(QString::fromLatin1(row.file)));
    const DiskImageInfo info = image.info();
    EXPECT_EQ(info.format.toStdString(), row.format);
    EXPECT_EQ(image.partitions().size(), row.partitions);
    EXPECT_EQ(info.partitions.size(), qsizetype(row.partitions));
    EXPECT_EQ(info.softwareLicenseAgreement, row.license);
    EXPECT_EQ(info.size, image.trailer().sectorCount * 512);
    EXPECT_NO_THROW(image.verifyChecksums());

    const QByteArray disk = decompressDisk(image);
    const QByteArray reference = *row.diskSha256
        ? QByteArray(row.diskSha256)
        : sha256Hex(decompressDisk(*std::make_unique<udif::UdifImage>(
            udif::UdifImage::open(realDiskImage(u"node-udif-compression-raw.mbr-fat16.dmg"_s)))));
    EXPECT_EQ(sha256Hex(disk), reference);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RealImageTest, testing::ValuesIn(realImages),
    [](const testing::TestParamInfo<RealImage>& row) { return "image" + std::to_string(row.index); });

TEST(UdifImage, NamesThePartitionTypes)
{
    auto image = udif::UdifImage::open(realDiskImage(u"homebrew-container.zlib-gpt-hfs.dmg"_s));
    QStringList types;
    for (const auto& partition : image.partitions())
        types << partition.type;
    EXPECT_EQ(types,
        (QStringList { u"MBR"_s, u"Primary GPT Header"_s, u"Primary GPT Table"_s, u"Apple_Free"_s,
            u"Apple_HFS"_s, u"Apple_Free"_s, u"Backup GPT Table"_s, u"Backup GPT Header"_s }));
    EXPECT_EQ(image.partitions()[4].name, u"disk image (Apple_HFS : 4)"_s);
}

TEST(UdifImage, RefusesEncryptedImagesWithTheirOwnSentence)
{
    for (const auto* name : { "sparkle-SparkleTestCodeSignApp.encrypted-nolicense.dmg",
             "sparkle-SparkleTestCodeSignApp.encrypted-with-license.dmg" }) {
        const QString path = realDiskImage(QString::fromLatin1(name));
        EXPECT_EQ(errorText([&] { udif::UdifImage::open(path); }),
            "The disk image is encrypted. Corvanta can't open encrypted disk images.")
            << name;
        EXPECT_EQ(udif::probeImage(path), udif::ImageKind::encrypted);
    }
}

TEST(UdifImage, ProbesByBytesNotByName)
{
    QTemporaryDir dir;
    const QString disguised = dir.filePath(u"Update.zip"_s);
    writeWholeFile(disguised, readWholeFile(realDiskImage(u"node-udif-compression-zlib.mbr-fat16.dmg"_s)));
    EXPECT_EQ(udif::probeImage(disguised), udif::ImageKind::udif);

    const QString zip = dir.filePath(u"App.dmg"_s);
    writeWholeFile(zip, QByteArray("PK\x03\x04", 4) + QByteArray(600, 'z'));
    EXPECT_EQ(udif::probeImage(zip), udif::ImageKind::other);

    const QString tiny = dir.filePath(u"tiny.dmg"_s);
    writeWholeFile(tiny, "koly");
    EXPECT_EQ(udif::probeImage(tiny), udif::ImageKind::other);
    EXPECT_THROW(udif::probeImage(dir.filePath(u"missing"_s)), SystemError);
}

TEST(UdifImage, RefusesTruncatedImages)
{
    const QByteArray whole
        = readWholeFile(realDiskImage(u"sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"_s));
    QTemporaryDir dir;
    for (const qsizetype length : { qsizetype(0), qsizetype(7), qsizetype(511), whole.size() / 2,
             whole.size() - 512, whole.size() - 1 }) {
        const QString path = dir.filePath(u"cut-%1.dmg"_s.arg(length));
        writeWholeFile(path, whole.left(length));
        EXPECT_EQ(errorText([&] { udif::UdifImage::open(path); }), "The file isn't a complete disk image.")
            << length;
    }
}

TEST(UdifImage, RefusesAFlippedByteInTheDataFork)
{
    for (const auto* name :
        { "node-udif-compression-bz2.mbr-fat16.dmg", "node-udif-compression-lzfse.mbr-fat16.dmg",
            "sparkle-SparkleTestCodeSign_apfs_lzma_aux_files.lzma-gpt-apfs.dmg" }) {
        QByteArray bytes = readWholeFile(realDiskImage(QString::fromLatin1(name)));
        bytes[100] = char(bytes[100] ^ 0x20);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"flipped.dmg"_s);
        writeWholeFile(path, bytes);
        auto image = udif::UdifImage::open(path);
        EXPECT_EQ(errorText([&] { image.verifyChecksums(); }),
            "The disk image is damaged: its checksum doesn't match its contents.")
            << name;
    }
}

// With the data fork checksum recomputed, damage reaches the decoders: each
// must refuse cleanly or, when the change happens to be harmless, yield the
// same disk; the block tables' checksums catch everything else.
TEST(UdifImage, DecodersRefuseDamagedChunks)
{
    struct Row {
        const char* file;
        udif::ChunkType type;
    };
    const Row rows[] = {
        { "node-udif-compression-adc.mbr-fat16.dmg", udif::ChunkType::adc },
        { "node-udif-compression-bz2.mbr-fat16.dmg", udif::ChunkType::bzip2 },
        { "node-udif-compression-lzfse.mbr-fat16.dmg", udif::ChunkType::lzfse },
        { "node-udif-compression-zlib.mbr-fat16.dmg", udif::ChunkType::zlib },
        { "node-udif-compression-raw.mbr-fat16.dmg", udif::ChunkType::raw },
        { "sparkle-SparkleTestCodeSign_pkg.lzma-gpt-apfs-pkg.dmg", udif::ChunkType::lzma },
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        const QString source = realDiskImage(QString::fromLatin1(row.file));
        const QByteArray original = readWholeFile(source);
        auto pristine = udif::UdifImage::open(source);
        const QByteArray expected = decompressDisk(pristine);
        const auto [offset, length] = firstChunkOf(source, row.type);
        ASSERT_GE(offset, 0) << row.file;

        int refused = 0;
        int tried = 0;
        const qint64 step = std::max<qint64>(1, length / 48);
        for (qint64 at = offset; at < offset + length; at += step) {
            QByteArray bytes = original;
            bytes[at] = char(bytes[at] ^ 0x5A);
            resealDataFork(bytes);
            const QString path = dir.filePath(u"damaged.dmg"_s);
            writeWholeFile(path, bytes);
            ++tried;
            try {
                auto image = udif::UdifImage::open(path);
                image.verifyChecksums();
                EXPECT_EQ(decompressDisk(image), expected) << row.file << " at " << at;
            } catch (const DiskImageError&) {
                ++refused;
            }
        }
        EXPECT_GT(refused, tried / 2) << row.file;
    }
}

TEST(UdifImage, ReadsTheEnglishLicenseAgreement)
{
    auto image
        = udif::UdifImage::open(realDiskImage(u"sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg"_s));
    EXPECT_TRUE(image.hasLicenseAgreement());
    const auto license = image.info().license;
    ASSERT_TRUE(license.has_value());
    EXPECT_EQ(license->language, u"English"_s);
    EXPECT_EQ(license->text, u"Blah blah blah blah blah blah, ok.. Agree."_s);
    EXPECT_TRUE(license->prompt.startsWith(u"IMPORTANT - Read this License Agreement carefully"_s));

    for (const auto& row : realImages) {
        if (row.license)
            continue;
        auto other = udif::UdifImage::open(realDiskImage(QString::fromLatin1(row.file)));
        EXPECT_FALSE(other.hasLicenseAgreement()) << row.file;
        EXPECT_FALSE(other.info().license.has_value()) << row.file;
    }
}

TEST(UdifImage, BinaryResourceForkHoldsTheSameAgreement)
{
    const QString path = realDiskImage(u"sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg"_s);
    auto image = udif::UdifImage::open(path);
    const auto& trailer = image.trailer();
    ASSERT_GT(trailer.resourceForkLength, 0u);
    const QByteArray fork = readWholeFile(path).mid(
        qsizetype(trailer.resourceForkOffset), qsizetype(trailer.resourceForkLength));
    const auto resources = udif::parseResourceFork(fork);
    ASSERT_TRUE(resources.has_value());
    for (const char* type : { "LPic", "STR#", "TEXT", "styl" }) {
        const auto inFork = std::find_if(
            resources->begin(), resources->end(), [&](const udif::Resource& r) { return r.type == type; });
        const auto inList = std::find_if(image.resources().begin(), image.resources().end(),
            [&](const udif::Resource& r) { return r.type == type; });
        ASSERT_NE(inFork, resources->end()) << type;
        ASSERT_NE(inList, image.resources().end()) << type;
        EXPECT_EQ(inFork->id, 5000) << type;
        EXPECT_EQ(inFork->data, inList->data) << type;
    }
    EXPECT_EQ(udif::readLicenseAgreement(*resources)->text, u"Blah blah blah blah blah blah, ok.. Agree."_s);
    EXPECT_FALSE(udif::parseResourceFork(fork.left(40)).has_value());
}

} // namespace

namespace {

struct Mutation {
    const char* name;
    std::function<void(std::vector<udif::Resource>&, udif::Trailer&)> change;
    const char* message;
};

udif::Resource& tableOf(std::vector<udif::Resource>& resources, int index)
{
    int seen = 0;
    for (auto& resource : resources)
        if (resource.type == "blkx" && seen++ == index)
            return resource;
    throw std::runtime_error("no such table");
}

void changeTable(
    std::vector<udif::Resource>& resources, int index, const std::function<void(udif::BlockTable&)>& change)
{
    auto& resource = tableOf(resources, index);
    auto table = udif::BlockTable::parse(resource.data);
    change(*table);
    resource.data = table->serialize();
}

TEST(UdifImage, RefusesInconsistentStructures)
{
    const char* damaged = "The disk image is damaged.";
    const Mutation mutations[] = {
        { "unknown chunk type",
            [](auto& r, auto&) {
                changeTable(r, 2, [](udif::BlockTable& t) { t.chunks[0].type = 0x80000009; });
            },
            "The disk image uses a kind of compression Corvanta can't read." },
        { "chunk beyond the data fork",
            [](auto& r, auto&) {
                changeTable(r, 2, [](udif::BlockTable& t) { t.chunks[0].compressedOffset = 1u << 30; });
            },
            damaged },
        { "chunk length overflowing",
            [](auto& r, auto&) {
                changeTable(
                    r, 2, [](udif::BlockTable& t) { t.chunks[0].compressedLength = ~std::uint64_t(0); });
            },
            damaged },
        { "gap between chunks",
            [](auto& r, auto&) {
                changeTable(r, 2, [](udif::BlockTable& t) { t.chunks[1].sectorNumber += 1; });
            },
            damaged },
        { "table longer than its chunks",
            [](auto& r, auto&) { changeTable(r, 2, [](udif::BlockTable& t) { t.sectorCount += 8; }); },
            damaged },
        { "table past the disk",
            [](auto& r, auto&) {
                changeTable(r, 2, [](udif::BlockTable& t) { t.sectorNumber = 1ull << 40; });
            },
            damaged },
        { "table cut short", [](auto& r, auto&) { tableOf(r, 2).data.truncate(120); }, damaged },
        { "chunk count past the table",
            [](auto& r, auto&) {
                auto& data = tableOf(r, 2).data;
                data[200] = char(0x7F);
            },
            damaged },
        { "no tables",
            [](auto& r, auto&) {
                std::erase_if(r, [](const udif::Resource& resource) { return resource.type == "blkx"; });
            },
            damaged },
        { "trailer version", [](auto&, auto& t) { t.version = 3; }, damaged },
        { "property list past the file", [](auto&, auto& t) { t.dataForkLength = 1ull << 40; }, damaged },
        { "several segments", [](auto&, auto& t) { t.segmentCount = 2; },
            "The disk image is split into several segments, which Corvanta can't open." },
    };
    const QString source = realDiskImage(u"node-udif-compression-zlib.mbr-fat16.dmg"_s);
    QTemporaryDir dir;
    for (const Mutation& mutation : mutations) {
        const QString path = dir.filePath(u"mutated.dmg"_s);
        writeWholeFile(path, rebuiltImage(source, mutation.change));
        EXPECT_EQ(errorText([&] { udif::UdifImage::open(path); }), mutation.message) << mutation.name;
    }

    // The unchanged rebuild still opens, so each refusal above is the mutation's doing.
    const QString path = dir.filePath(u"rebuilt.dmg"_s);
    writeWholeFile(path, rebuiltImage(source, [](auto&, auto&) {}));
    auto image = udif::UdifImage::open(path);
    EXPECT_NO_THROW(image.verifyChecksums());
    EXPECT_EQ(
        sha256Hex(decompressDisk(image)), "0786ad1fdcba31a3f03ee80eb1d6e8c7ee2f4647a2b4b6f1855c9fe0719784de");

    // A block table checksum changed in the property list breaks the master checksum.
    writeWholeFile(path, rebuiltImage(source, [](auto& r, auto&) {
        changeTable(r, 0, [](udif::BlockTable& t) { t.checksum = udif::Checksum::fromCrc32(0x12345678); });
    }));
    auto forged = udif::UdifImage::open(path);
    EXPECT_EQ(errorText([&] { forged.verifyChecksums(); }),
        "The disk image is damaged: its checksum doesn't match its contents.");
}

TEST(UdifImage, ExtractsZerosOfAPartitionAsHoles)
{
    QTemporaryDir dir;
    const QString image = dir.filePath(u"zeros.dmg"_s);
    writeZeroBomb(image, 64);
    auto udif = udif::UdifImage::open(image);
    const QString raw = dir.filePath(u"partition.raw"_s);
    udif.extractPartition(0, raw);
    struct stat status { };
    ASSERT_EQ(::stat(QFile::encodeName(raw).constData(), &status), 0);
    EXPECT_EQ(status.st_size, 64 << 20);
    EXPECT_EQ(status.st_blocks, 0);
}

TEST(UdifWriter, WritesWhatTheReaderReadsBack)
{
    QTemporaryDir dir;
    // A disk of compressible text, a zero run and incompressible bytes.
    QByteArray disk;
    for (int i = 0; i < 3000; ++i)
        disk += "line " + QByteArray::number(i) + "\n";
    disk.append(QByteArray(300 * 512, '\0'));
    std::uint32_t seed = 7;
    for (int i = 0; i < 200 * 1024; ++i) {
        seed = seed * 1103515245u + 12345u;
        disk.append(char(seed >> 24));
    }
    disk.append(QByteArray(511 - (disk.size() + 511) % 512, 'e')); // not a whole sector: padded with zeros
    const QString raw = dir.filePath(u"disk.raw"_s);
    writeWholeFile(raw, disk);
    QByteArray expected = disk;
    expected.append(QByteArray((512 - expected.size() % 512) % 512, '\0'));

    for (const auto compression :
        { udif::ChunkType::raw, udif::ChunkType::zlib, udif::ChunkType::bzip2, udif::ChunkType::lzma }) {
        udif::WriteOptions options;
        options.compression = compression;
        options.chunkSectors = 64;
        const std::uint64_t sectors = std::uint64_t(expected.size()) / 512;
        options.partitions = { { u"Driver Descriptor Map (DDM : 0)"_s, 0, 1 },
            { u"disk image (Apple_HFS : 1)"_s, 1, sectors - 1 } };
        const QString path = dir.filePath(u"written.dmg"_s);
        udif::writeUdif(raw, path, options);
        auto image = udif::UdifImage::open(path);
        EXPECT_NO_THROW(image.verifyChecksums());
        EXPECT_EQ(image.partitions().size(), 2u);
        EXPECT_EQ(image.partitions()[1].type, u"Apple_HFS"_s);
        EXPECT_EQ(decompressDisk(image), expected) << int(compression);
        std::set<std::uint32_t> types;
        for (const auto& chunk : image.partitions()[1].table.chunks)
            types.insert(chunk.type);
        EXPECT_TRUE(types.contains(std::uint32_t(udif::ChunkType::zeroFill)));
        EXPECT_TRUE(types.contains(std::uint32_t(compression)));
    }

    udif::WriteOptions gapped;
    gapped.partitions = { { u"a (Apple_HFS : 0)"_s, 1, 10 } };
    EXPECT_THROW(udif::writeUdif(raw, dir.filePath(u"bad.dmg"_s), gapped), Error);
}

} // namespace
