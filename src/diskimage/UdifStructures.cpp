#include "diskimage/UdifStructures.h"

#include <QtEndian>

namespace corvanta::udif {

namespace {

// Reads big-endian fields from a byte array; the caller checks the size first.
class Reader {
public:
    explicit Reader(const QByteArray& bytes, std::size_t offset = 0)
        : m_data(reinterpret_cast<const uchar*>(bytes.constData()))
        , m_offset(offset)
    {
    }

    std::uint32_t u32()
    {
        const auto value = qFromBigEndian<quint32>(m_data + m_offset);
        m_offset += 4;
        return value;
    }
    std::uint64_t u64()
    {
        const auto value = qFromBigEndian<quint64>(m_data + m_offset);
        m_offset += 8;
        return value;
    }
    template<std::size_t N> std::array<std::uint8_t, N> bytes()
    {
        std::array<std::uint8_t, N> out {};
        std::copy_n(m_data + m_offset, N, out.begin());
        m_offset += N;
        return out;
    }
    void skip(std::size_t count) { m_offset += count; }
    std::size_t offset() const { return m_offset; }

private:
    const uchar* m_data;
    std::size_t m_offset;
};

class Writer {
public:
    void u32(std::uint32_t value)
    {
        uchar buffer[4];
        qToBigEndian<quint32>(value, buffer);
        m_bytes.append(reinterpret_cast<const char*>(buffer), 4);
    }
    void u64(std::uint64_t value)
    {
        uchar buffer[8];
        qToBigEndian<quint64>(value, buffer);
        m_bytes.append(reinterpret_cast<const char*>(buffer), 8);
    }
    template<std::size_t N> void bytes(const std::array<std::uint8_t, N>& data)
    {
        m_bytes.append(reinterpret_cast<const char*>(data.data()), N);
    }
    void zeros(std::size_t count) { m_bytes.append(QByteArray(qsizetype(count), '\0')); }
    QByteArray take() { return std::move(m_bytes); }

private:
    QByteArray m_bytes;
};

Checksum readChecksum(Reader& reader)
{
    Checksum checksum;
    checksum.type = reader.u32();
    checksum.bits = reader.u32();
    checksum.data = reader.bytes<128>();
    return checksum;
}

void writeChecksum(Writer& writer, const Checksum& checksum)
{
    writer.u32(checksum.type);
    writer.u32(checksum.bits);
    writer.bytes(checksum.data);
}

} // namespace

bool isKnownChunkType(std::uint32_t type)
{
    switch (static_cast<ChunkType>(type)) {
    case ChunkType::zeroFill:
    case ChunkType::raw:
    case ChunkType::ignore:
    case ChunkType::adc:
    case ChunkType::zlib:
    case ChunkType::bzip2:
    case ChunkType::lzfse:
    case ChunkType::lzma:
    case ChunkType::comment:
    case ChunkType::terminator:
        return true;
    }
    return false;
}

std::uint32_t Checksum::crc32() const
{
    return qFromBigEndian<quint32>(data.data());
}

Checksum Checksum::fromCrc32(std::uint32_t crc)
{
    Checksum checksum;
    checksum.type = checksumCrc32;
    checksum.bits = 32;
    qToBigEndian<quint32>(crc, checksum.data.data());
    return checksum;
}

std::optional<Trailer> Trailer::parse(const QByteArray& bytes)
{
    if (bytes.size() < qsizetype(trailerSize) || !bytes.startsWith("koly"))
        return std::nullopt;
    Reader reader(bytes, 4);
    Trailer trailer;
    trailer.version = reader.u32();
    trailer.headerSize = reader.u32();
    trailer.flags = reader.u32();
    trailer.runningDataForkOffset = reader.u64();
    trailer.dataForkOffset = reader.u64();
    trailer.dataForkLength = reader.u64();
    trailer.resourceForkOffset = reader.u64();
    trailer.resourceForkLength = reader.u64();
    trailer.segmentNumber = reader.u32();
    trailer.segmentCount = reader.u32();
    trailer.segmentId = reader.bytes<16>();
    trailer.dataChecksum = readChecksum(reader);
    trailer.xmlOffset = reader.u64();
    trailer.xmlLength = reader.u64();
    reader.skip(120);
    trailer.masterChecksum = readChecksum(reader);
    trailer.imageVariant = reader.u32();
    trailer.sectorCount = reader.u64();
    return trailer;
}

QByteArray Trailer::serialize() const
{
    Writer writer;
    writer.bytes(std::array<std::uint8_t, 4> { 'k', 'o', 'l', 'y' });
    writer.u32(version);
    writer.u32(headerSize);
    writer.u32(flags);
    writer.u64(runningDataForkOffset);
    writer.u64(dataForkOffset);
    writer.u64(dataForkLength);
    writer.u64(resourceForkOffset);
    writer.u64(resourceForkLength);
    writer.u32(segmentNumber);
    writer.u32(segmentCount);
    writer.bytes(segmentId);
    writeChecksum(writer, dataChecksum);
    writer.u64(xmlOffset);
    writer.u64(xmlLength);
    writer.zeros(120);
    writeChecksum(writer, masterChecksum);
    writer.u32(imageVariant);
    writer.u64(sectorCount);
    writer.zeros(12);
    return writer.take();
}

std::optional<BlockTable> BlockTable::parse(const QByteArray& bytes)
{
    if (bytes.size() < qsizetype(blockTableHeaderSize) || !bytes.startsWith("mish"))
        return std::nullopt;
    Reader reader(bytes, 4);
    BlockTable table;
    table.version = reader.u32();
    table.sectorNumber = reader.u64();
    table.sectorCount = reader.u64();
    table.dataOffset = reader.u64();
    table.buffersNeeded = reader.u32();
    table.blockDescriptors = reader.u32();
    reader.skip(24);
    table.checksum = readChecksum(reader);
    const std::uint64_t count = reader.u32();
    if (count > (std::uint64_t(bytes.size()) - blockTableHeaderSize) / chunkEntrySize)
        return std::nullopt;
    table.chunks.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        Chunk chunk;
        chunk.type = reader.u32();
        chunk.comment = reader.u32();
        chunk.sectorNumber = reader.u64();
        chunk.sectorCount = reader.u64();
        chunk.compressedOffset = reader.u64();
        chunk.compressedLength = reader.u64();
        table.chunks.push_back(chunk);
    }
    return table;
}

QByteArray BlockTable::serialize() const
{
    Writer writer;
    writer.bytes(std::array<std::uint8_t, 4> { 'm', 'i', 's', 'h' });
    writer.u32(version);
    writer.u64(sectorNumber);
    writer.u64(sectorCount);
    writer.u64(dataOffset);
    writer.u32(buffersNeeded);
    writer.u32(blockDescriptors);
    writer.zeros(24);
    writeChecksum(writer, checksum);
    writer.u32(std::uint32_t(chunks.size()));
    for (const Chunk& chunk : chunks) {
        writer.u32(chunk.type);
        writer.u32(chunk.comment);
        writer.u64(chunk.sectorNumber);
        writer.u64(chunk.sectorCount);
        writer.u64(chunk.compressedOffset);
        writer.u64(chunk.compressedLength);
    }
    return writer.take();
}

} // namespace corvanta::udif
