#include "diskimage/UdifWriter.h"

#include "base/Error.h"
#include "diskimage/ChunkDecoder.h"

#include <cerrno>
#include <map>

#include <QFile>
#include <QUuid>

#include <plist/plist.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

[[noreturn]] void ioFailure(const QFile& file, const QString& verb)
{
    throw SystemError(u"Couldn't "_s + verb + u" "_s + file.fileName() + u": "_s + file.errorString(), EIO);
}

bool allZero(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

} // namespace

QByteArray resourcePropertyList(const std::vector<Resource>& resources)
{
    plist_t root = plist_new_dict();
    plist_t fork = plist_new_dict();
    std::map<QByteArray, plist_t> lists;
    for (const Resource& resource : resources) {
        plist_t& list = lists[resource.type];
        if (!list)
            list = plist_new_array();
        plist_t entry = plist_new_dict();
        const bool table = resource.type == "blkx";
        plist_dict_set_item(entry, "Attributes", plist_new_string(table ? "0x0050" : "0x0000"));
        if (table)
            plist_dict_set_item(entry, "CFName", plist_new_string(resource.name.toUtf8().constData()));
        plist_dict_set_item(
            entry, "Data", plist_new_data(resource.data.constData(), std::uint64_t(resource.data.size())));
        plist_dict_set_item(entry, "ID", plist_new_string(QByteArray::number(resource.id).constData()));
        plist_dict_set_item(entry, "Name", plist_new_string(resource.name.toUtf8().constData()));
        plist_array_append_item(list, entry);
    }
    for (const auto& [type, list] : lists)
        plist_dict_set_item(fork, type.constData(), list);
    plist_dict_set_item(root, "resource-fork", fork);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    QByteArray bytes(xml, qsizetype(length));
    plist_to_xml_free(xml);
    plist_free(root);
    return bytes;
}

void writeUdif(const QString& rawDisk, const QString& output, const WriteOptions& options)
{
    QFile input(rawDisk);
    if (!input.open(QIODevice::ReadOnly))
        ioFailure(input, u"read"_s);
    const std::uint64_t sectors = (std::uint64_t(input.size()) + sectorSize - 1) / sectorSize;
    std::vector<DiskPartition> partitions = options.partitions;
    if (partitions.empty())
        partitions.push_back({ u"whole disk (Apple_HFS : 0)"_s, 0, sectors });
    std::uint64_t next = 0;
    for (const DiskPartition& partition : partitions) {
        if (partition.firstSector != next)
            throw Error(u"The partitions of "_s + rawDisk + u" don't tile the disk."_s);
        next += partition.sectorCount;
    }
    if (next != sectors)
        throw Error(u"The partitions of "_s + rawDisk + u" don't tile the disk."_s);

    QFile out(output);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ioFailure(out, u"create"_s);
    uLong forkCrc = crc32(0, nullptr, 0);
    std::uint64_t forkLength = 0;
    std::vector<Resource> resources;
    QByteArray tableChecksums;

    int id = -1;
    for (const DiskPartition& partition : partitions) {
        BlockTable table;
        table.sectorNumber = partition.firstSector;
        table.sectorCount = partition.sectorCount;
        table.buffersNeeded = std::uint32_t(options.chunkSectors);
        uLong tableCrc = crc32(0, nullptr, 0);
        for (std::uint64_t done = 0; done < partition.sectorCount; done += options.chunkSectors) {
            const std::uint64_t count = std::min(options.chunkSectors, partition.sectorCount - done);
            if (!input.seek(qint64((partition.firstSector + done) * sectorSize)))
                ioFailure(input, u"read"_s);
            QByteArray data = input.read(qint64(count * sectorSize));
            data.append(
                QByteArray(qsizetype(count * sectorSize) - data.size(), '\0')); // the last sector, padded
            tableCrc = crc32(tableCrc, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));

            Chunk chunk;
            chunk.sectorNumber = done;
            chunk.sectorCount = count;
            chunk.compressedOffset = forkLength;
            if (allZero(data)) {
                chunk.type = std::uint32_t(ChunkType::zeroFill);
            } else {
                QByteArray stored = encodeChunk(options.compression, data, options.level);
                chunk.type = std::uint32_t(options.compression);
                if (stored.isEmpty() || stored.size() >= data.size()) {
                    stored = data;
                    chunk.type = std::uint32_t(ChunkType::raw);
                }
                if (out.write(stored) != stored.size())
                    ioFailure(out, u"write"_s);
                forkCrc
                    = crc32(forkCrc, reinterpret_cast<const Bytef*>(stored.constData()), uInt(stored.size()));
                chunk.compressedLength = std::uint64_t(stored.size());
                forkLength += chunk.compressedLength;
            }
            table.chunks.push_back(chunk);
        }
        Chunk end;
        end.type = std::uint32_t(ChunkType::terminator);
        end.sectorNumber = partition.sectorCount;
        end.compressedOffset = forkLength;
        table.chunks.push_back(end);
        table.checksum = Checksum::fromCrc32(std::uint32_t(tableCrc));
        tableChecksums.append(reinterpret_cast<const char*>(table.checksum.data.data()), 4);
        resources.push_back(Resource { "blkx", id++, partition.name, table.serialize() });
    }
    if (options.licenseText) {
        const auto license = licenseResources(*options.licenseText);
        resources.insert(resources.end(), license.begin(), license.end());
    }

    const QByteArray xml = resourcePropertyList(resources);
    if (out.write(xml) != xml.size())
        ioFailure(out, u"write"_s);

    Trailer trailer;
    trailer.dataForkLength = forkLength;
    trailer.dataChecksum = Checksum::fromCrc32(std::uint32_t(forkCrc));
    trailer.xmlOffset = forkLength;
    trailer.xmlLength = std::uint64_t(xml.size());
    trailer.masterChecksum = Checksum::fromCrc32(std::uint32_t(
        crc32(0, reinterpret_cast<const Bytef*>(tableChecksums.constData()), uInt(tableChecksums.size()))));
    trailer.sectorCount = sectors;
    const QByteArray uuid = QUuid::createUuid().toRfc4122();
    std::copy_n(uuid.constData(), 16, trailer.segmentId.begin());
    const QByteArray koly = trailer.serialize();
    if (out.write(koly) != koly.size() || !out.flush())
        ioFailure(out, u"write"_s);
}

} // namespace corvanta::udif
