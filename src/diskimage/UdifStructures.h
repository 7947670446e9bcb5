#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>

namespace corvanta::udif {

constexpr std::uint64_t sectorSize = 512;
constexpr std::size_t trailerSize = 512;
constexpr std::size_t blockTableHeaderSize = 204;
constexpr std::size_t chunkEntrySize = 40;
constexpr std::uint32_t checksumCrc32 = 2;

enum class ChunkType : std::uint32_t {
    zeroFill = 0x00000000,
    raw = 0x00000001,
    ignore = 0x00000002,
    adc = 0x80000004,
    zlib = 0x80000005,
    bzip2 = 0x80000006,
    lzfse = 0x80000007,
    lzma = 0x80000008,
    comment = 0x7FFFFFFE,
    terminator = 0xFFFFFFFF,
};

bool isKnownChunkType(std::uint32_t type);

// A checksum as UDIF stores it: a type, a size in bits and up to 128 bytes.
// Only CRC32 (type 2, 32 bits) is in use.
struct Checksum {
    std::uint32_t type = 0;
    std::uint32_t bits = 0;
    std::array<std::uint8_t, 128> data {};

    bool isCrc32() const { return type == checksumCrc32 && bits == 32; }
    std::uint32_t crc32() const;
    static Checksum fromCrc32(std::uint32_t crc);
};

// The 512-byte "koly" trailer at the end of every UDIF image, big-endian.
struct Trailer {
    std::uint32_t version = 4;
    std::uint32_t headerSize = trailerSize;
    std::uint32_t flags = 1;
    std::uint64_t runningDataForkOffset = 0;
    std::uint64_t dataForkOffset = 0;
    std::uint64_t dataForkLength = 0;
    std::uint64_t resourceForkOffset = 0;
    std::uint64_t resourceForkLength = 0;
    std::uint32_t segmentNumber = 1;
    std::uint32_t segmentCount = 1;
    std::array<std::uint8_t, 16> segmentId {};
    Checksum dataChecksum;
    std::uint64_t xmlOffset = 0;
    std::uint64_t xmlLength = 0;
    Checksum masterChecksum;
    std::uint32_t imageVariant = 1;
    std::uint64_t sectorCount = 0;

    // None unless the bytes start with "koly".
    static std::optional<Trailer> parse(const QByteArray& bytes);
    QByteArray serialize() const;
};

// One run of sectors in a block table and where its bytes are stored.
struct Chunk {
    std::uint32_t type = 0;
    std::uint32_t comment = 0;
    std::uint64_t sectorNumber = 0; // relative to the table's first sector
    std::uint64_t sectorCount = 0;
    std::uint64_t compressedOffset = 0;
    std::uint64_t compressedLength = 0;
};

// A "mish" block table: the chunks of one partition.
struct BlockTable {
    std::uint32_t version = 1;
    std::uint64_t sectorNumber = 0;
    std::uint64_t sectorCount = 0;
    std::uint64_t dataOffset = 0;
    std::uint32_t buffersNeeded = 0;
    std::uint32_t blockDescriptors = 0;
    Checksum checksum;
    std::vector<Chunk> chunks;

    // None unless the bytes hold a complete "mish" table.
    static std::optional<BlockTable> parse(const QByteArray& bytes);
    QByteArray serialize() const;
};

} // namespace corvanta::udif
