#include "UdifFixtures.h"

#include "diskimage/UdifWriter.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <zlib.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

QString realDiskImage(const QString& name)
{
    return QStringLiteral(CORVANTA_REALWORLD) + u"/dmg/"_s + name;
}

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("can't read " + path.toStdString());
    return file.readAll();
}

void writeWholeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("can't write " + path.toStdString());
}

QByteArray decompressDisk(udif::UdifImage& image)
{
    QByteArray disk(qsizetype(image.trailer().sectorCount * udif::sectorSize), '\0');
    for (std::size_t i = 0; i < image.partitions().size(); ++i) {
        const auto start = image.partitions()[i].table.sectorNumber * udif::sectorSize;
        image.decompress(i, [&](std::uint64_t offset, const char* data, std::size_t size) {
            std::copy_n(data, size, disk.begin() + qsizetype(start + offset));
        });
    }
    return disk;
}

void resealDataFork(QByteArray& image)
{
    auto trailer = udif::Trailer::parse(image.right(qsizetype(udif::trailerSize)));
    if (!trailer)
        throw std::runtime_error("no trailer");
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(image.constData() + trailer->dataForkOffset),
        uInt(trailer->dataForkLength));
    trailer->dataChecksum = udif::Checksum::fromCrc32(std::uint32_t(crc));
    image.replace(
        image.size() - qsizetype(udif::trailerSize), qsizetype(udif::trailerSize), trailer->serialize());
}

QByteArray rebuiltImage(
    const QString& path, const std::function<void(std::vector<udif::Resource>&, udif::Trailer&)>& change)
{
    auto image = udif::UdifImage::open(path);
    std::vector<udif::Resource> resources = image.resources();
    udif::Trailer trailer = image.trailer();
    const QByteArray original = readWholeFile(path);
    QByteArray bytes = original.mid(qsizetype(trailer.dataForkOffset), qsizetype(trailer.dataForkLength));
    change(resources, trailer);
    const QByteArray xml = udif::resourcePropertyList(resources);
    trailer.xmlOffset = std::uint64_t(bytes.size());
    trailer.xmlLength = std::uint64_t(xml.size());
    trailer.resourceForkOffset = 0;
    trailer.resourceForkLength = 0;
    return bytes + xml + trailer.serialize();
}

std::pair<qint64, qint64> firstChunkOf(const QString& path, udif::ChunkType type)
{
    auto image = udif::UdifImage::open(path);
    for (const auto& partition : image.partitions())
        for (const auto& chunk : partition.table.chunks)
            if (chunk.type == std::uint32_t(type))
                return { qint64(image.trailer().dataForkOffset + partition.table.dataOffset
                             + chunk.compressedOffset),
                    qint64(chunk.compressedLength) };
    return { -1, 0 };
}

namespace {

void runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + process.readAll().toStdString());
}

} // namespace

void writeIsoImage(
    const QString& folder, const QString& output, const std::map<QByteArray, QByteArray>& renames)
{
    QTemporaryDir work;
    const QString raw = work.filePath(u"volume.iso"_s);
    runTool(u"xorriso"_s, { u"-as"_s, u"mkisofs"_s, u"-quiet"_s, u"-R"_s, u"-o"_s, raw, folder });
    QByteArray volume = readWholeFile(raw);
    for (const auto& [from, to] : renames) {
        if (from.size() != to.size() || !volume.contains(from))
            throw std::runtime_error("can't rename " + from.toStdString());
        volume.replace(from, to);
    }
    writeWholeFile(raw, volume);
    udif::writeUdif(raw, output, {});
}

void writeExtImage(const QString& folder, const QString& output, qint64 volumeBytes)
{
    QTemporaryDir work;
    const QString raw = work.filePath(u"volume.ext4"_s);
    runTool(u"mke2fs"_s,
        { u"-q"_s, u"-t"_s, u"ext4"_s, u"-d"_s, folder, raw, QString::number(volumeBytes / 1024) + u'k' });
    udif::writeUdif(raw, output, {});
}

void writeZeroBomb(const QString& output, int chunks)
{
    constexpr std::uint64_t chunkSectors = 2048;
    const QByteArray zeros(qsizetype(chunkSectors * udif::sectorSize), '\0');
    uLongf length = compressBound(uLong(zeros.size()));
    QByteArray stored(qsizetype(length), '\0');
    compress2(reinterpret_cast<Bytef*>(stored.data()), &length,
        reinterpret_cast<const Bytef*>(zeros.constData()), uLong(zeros.size()), 9);
    stored.truncate(qsizetype(length));

    udif::BlockTable table;
    table.sectorCount = chunkSectors * std::uint64_t(chunks);
    table.buffersNeeded = std::uint32_t(chunkSectors);
    for (int i = 0; i < chunks; ++i)
        table.chunks.push_back({ std::uint32_t(udif::ChunkType::zlib), 0, chunkSectors * std::uint64_t(i),
            chunkSectors, 0, std::uint64_t(stored.size()) });
    table.chunks.push_back({ std::uint32_t(udif::ChunkType::terminator), 0, table.sectorCount, 0, 0, 0 });
    const QByteArray xml
        = udif::resourcePropertyList({ { "blkx", 0, u"whole disk (Apple_HFS : 0)"_s, table.serialize() } });

    udif::Trailer trailer;
    trailer.dataForkLength = std::uint64_t(stored.size());
    trailer.dataChecksum = udif::Checksum::fromCrc32(
        std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(stored.constData()), uInt(stored.size()))));
    trailer.xmlOffset = std::uint64_t(stored.size());
    trailer.xmlLength = std::uint64_t(xml.size());
    trailer.sectorCount = table.sectorCount;
    writeWholeFile(output, stored + xml + trailer.serialize());
}

} // namespace corvanta::test
