#pragma once

#include "diskimage/Resources.h"
#include "diskimage/UdifStructures.h"
#include "platform/DiskImages.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QIODevice>
#include <QString>

namespace corvanta::udif {

// One "blkx" table: a partition of the disk inside the image, or a part of
// its partition map.
struct Partition {
    QString name; // as recorded: "disk image (Apple_HFS : 4)"
    QString type; // the part before " : " in the last parentheses: "Apple_HFS"; empty when absent
    BlockTable table;
};

// Receives a partition's decompressed bytes at their offset from its start.
// Zero runs are not delivered: what isn't written reads as zeros.
using PartitionOutput = std::function<void(std::uint64_t offset, const char* data, std::size_t size)>;

// A UDIF disk image (.dmg) opened for reading. Opening checks that the
// trailer, the property list and every block table are consistent with the
// file, so later reads never leave it. Throws DiskImageError.
class UdifImage {
public:
    static UdifImage open(const QString& path);
    // `device` must be open for reading and seekable.
    static UdifImage open(std::unique_ptr<QIODevice> device);

    UdifImage(UdifImage&&) noexcept;
    UdifImage& operator=(UdifImage&&) noexcept;
    ~UdifImage();

    const Trailer& trailer() const { return m_trailer; }
    const std::vector<Partition>& partitions() const { return m_partitions; }
    const std::vector<Resource>& resources() const { return m_resources; }

    DiskImageInfo info() const;
    bool hasLicenseAgreement() const;

    // Verifies the data fork's CRC32 and the master checksum over the block
    // tables' checksums, where the image records them.
    void verifyChecksums();

    // Decompresses one partition in order, checking its CRC32 where recorded.
    void decompress(std::size_t partition, const PartitionOutput& output);
    // Decompresses one partition into a new sparse file at `path`.
    void extractPartition(std::size_t partition, const QString& path);
    // Bytes of the partition that aren't zero runs once decompressed.
    std::uint64_t storedBytes(std::size_t partition) const;

private:
    UdifImage(std::unique_ptr<QIODevice> device, Trailer trailer);
    void readProperties();
    void validate() const;

    std::unique_ptr<QIODevice> m_device;
    Trailer m_trailer;
    std::vector<Partition> m_partitions;
    std::vector<Resource> m_resources;
};

// What the first and last bytes of a file say it is.
enum class ImageKind { other, udif, encrypted };
// Throws SystemError when the file can't be read.
ImageKind probeImage(const QString& path);

} // namespace corvanta::udif
