#include "UdifFixtures.h"

#include "diskimage/UdifWriter.h"

#include <QFile>
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

} // namespace corvanta::test
