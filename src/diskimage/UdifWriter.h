#pragma once

#include "diskimage/Resources.h"
#include "diskimage/UdifStructures.h"

#include <optional>
#include <vector>

#include <QString>

namespace corvanta::udif {

// A range of the raw disk that becomes one block table.
struct DiskPartition {
    QString name; // "disk image (Apple_HFS : 3)"
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
};

struct WriteOptions {
    ChunkType compression = ChunkType::zlib; // raw, zlib, bzip2 or lzma
    int level = 1;
    std::uint64_t chunkSectors = 2048;
    // Empty: the whole disk is one partition.
    std::vector<DiskPartition> partitions;
    // Shown as the image's English licence agreement before it opens.
    std::optional<QString> licenseText;
};

// Wraps the raw disk image at `rawDisk` into a UDIF image at `output`, the
// way hdiutil's read-only formats lay it out: chunks of `chunkSectors`, zero
// runs as zero-fill chunks, incompressible chunks stored raw, CRC32 of every
// block table, of the data fork and of the tables' checksums. Partitions
// must tile the disk. Throws SystemError for I/O failures.
void writeUdif(const QString& rawDisk, const QString& output, const WriteOptions& options);

// The XML property list holding `resources` under "resource-fork".
QByteArray resourcePropertyList(const std::vector<Resource>& resources);

} // namespace corvanta::udif
