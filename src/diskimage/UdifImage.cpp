#include "diskimage/UdifImage.h"

#include "diskimage/ChunkDecoder.h"
#include "diskimage/UdifErrors.h"

#include <cerrno>
#include <cstring>
#include <map>

#include <QFile>
#include <QRegularExpression>

#include <plist/plist.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

constexpr std::uint64_t maxPropertyListSize = 64ull * 1024 * 1024;
constexpr std::uint64_t maxResourceForkSize = 16ull * 1024 * 1024;
constexpr std::uint64_t maxSectors = std::uint64_t(1) << 54; // keeps byte counts inside 64 bits
constexpr qint64 checksumPiece = 1024 * 1024;

[[noreturn]] void damaged()
{
    throw DiskImageError(damagedMessage());
}

QByteArray readAt(QIODevice& device, std::uint64_t offset, std::uint64_t length)
{
    if (!device.seek(qint64(offset)))
        damaged();
    QByteArray bytes = device.read(qint64(length));
    if (std::uint64_t(bytes.size()) != length)
        damaged();
    return bytes;
}

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPointer = std::unique_ptr<void, PlistDeleter>;

QString stringValue(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return {};
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return QString::fromUtf8(text, qsizetype(length));
}

std::optional<int> integerValue(plist_t node)
{
    if (!node)
        return std::nullopt;
    if (plist_get_node_type(node) == PLIST_UINT) {
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return int(std::int64_t(value));
    }
    bool ok = false;
    const int value = stringValue(node).toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// Resources of the property list's "resource-fork" dictionary, by type.
std::vector<Resource> propertyListResources(const QByteArray& xml)
{
    plist_t rootNode = nullptr;
    plist_from_xml(xml.constData(), std::uint32_t(xml.size()), &rootNode);
    const PlistPointer root(rootNode);
    if (!rootNode || plist_get_node_type(rootNode) != PLIST_DICT)
        damaged();
    plist_t fork = plist_dict_get_item(rootNode, "resource-fork");
    if (!fork || plist_get_node_type(fork) != PLIST_DICT)
        damaged();

    std::vector<Resource> resources;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(fork, &iterator);
    while (iterator) {
        char* key = nullptr;
        plist_t list = nullptr;
        plist_dict_next_item(fork, iterator, &key, &list);
        if (!list) {
            std::free(key);
            break;
        }
        const QByteArray type(key);
        std::free(key);
        if (plist_get_node_type(list) != PLIST_ARRAY)
            continue;
        for (std::uint32_t i = 0; i < plist_array_get_size(list); ++i) {
            plist_t entry = plist_array_get_item(list, i);
            if (plist_get_node_type(entry) != PLIST_DICT)
                continue;
            plist_t data = plist_dict_get_item(entry, "Data");
            if (!data || plist_get_node_type(data) != PLIST_DATA)
                continue;
            std::uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(data, &length);
            Resource resource;
            resource.type = type;
            resource.id = integerValue(plist_dict_get_item(entry, "ID")).value_or(0);
            resource.name = stringValue(plist_dict_get_item(entry, "Name"));
            if (resource.name.isEmpty())
                resource.name = stringValue(plist_dict_get_item(entry, "CFName"));
            resource.data = QByteArray(bytes, qsizetype(length));
            resources.push_back(std::move(resource));
        }
    }
    std::free(iterator);
    return resources;
}

QString partitionType(const QString& name)
{
    static const QRegularExpression pattern(u"\\(([^()]*) : \\d+\\)\\s*$"_s);
    const auto match = pattern.match(name);
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

bool carriesData(std::uint32_t type)
{
    switch (static_cast<ChunkType>(type)) {
    case ChunkType::raw:
    case ChunkType::adc:
    case ChunkType::zlib:
    case ChunkType::bzip2:
    case ChunkType::lzfse:
    case ChunkType::lzma:
        return true;
    default:
        return false;
    }
}

// CRC32 of `length` zero bytes, by doubling: zero runs can be gigabytes.
uLong crcOfZeros(std::uint64_t length)
{
    static const uLong sectorCrc = [] {
        const QByteArray zeros(sectorSize, '\0');
        return crc32(0, reinterpret_cast<const Bytef*>(zeros.constData()), uInt(zeros.size()));
    }();
    uLong result = 0;
    uLong block = sectorCrc;
    std::uint64_t blockLength = sectorSize;
    for (std::uint64_t sectors = length / sectorSize; sectors != 0; sectors >>= 1) {
        if (sectors & 1)
            result = crc32_combine(result, block, z_off_t(blockLength));
        block = crc32_combine(block, block, z_off_t(blockLength));
        blockLength *= 2;
    }
    return result;
}

bool isAllZero(const char* data, std::size_t size)
{
    // Each byte equal to the next and the first zero: memcmp's speed, no buffer of zeros.
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

} // namespace

UdifImage::UdifImage(std::unique_ptr<QIODevice> device, Trailer trailer)
    : m_device(std::move(device))
    , m_trailer(trailer)
{
}

UdifImage::UdifImage(UdifImage&&) noexcept = default;
UdifImage& UdifImage::operator=(UdifImage&&) noexcept = default;
UdifImage::~UdifImage() = default;

UdifImage UdifImage::open(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw SystemError(
            u"Couldn't open "_s + path + u": "_s + file->errorString(), file->exists() ? EACCES : ENOENT);
    return open(std::move(file));
}

UdifImage UdifImage::open(std::unique_ptr<QIODevice> device)
{
    const qint64 size = device->size();
    if (size >= 8) {
        if (readAt(*device, 0, 8) == "encrcdsa" || readAt(*device, std::uint64_t(size - 8), 8) == "cdsaencr")
            throw DiskImageError(encryptedMessage());
    }
    if (size < qint64(trailerSize))
        throw DiskImageError(notCompleteDiskImageMessage());
    const auto trailer = Trailer::parse(readAt(*device, std::uint64_t(size) - trailerSize, trailerSize));
    if (!trailer)
        throw DiskImageError(notCompleteDiskImageMessage());
    if (trailer->version != 4 || trailer->headerSize != trailerSize)
        damaged();
    if (trailer->segmentCount > 1)
        throw DiskImageError(segmentedMessage());

    UdifImage image(std::move(device), *trailer);
    image.readProperties();
    image.validate();
    return image;
}

void UdifImage::readProperties()
{
    const std::uint64_t limit = std::uint64_t(m_device->size()) - trailerSize;
    const auto fits = [limit](std::uint64_t offset, std::uint64_t length) {
        return offset <= limit && length <= limit - offset;
    };
    if (m_trailer.xmlLength == 0 || m_trailer.xmlLength > maxPropertyListSize
        || !fits(m_trailer.xmlOffset, m_trailer.xmlLength))
        damaged();
    m_resources = propertyListResources(readAt(*m_device, m_trailer.xmlOffset, m_trailer.xmlLength));

    // Older images keep some resources only in the binary resource fork.
    if (m_trailer.resourceForkLength > 0 && m_trailer.resourceForkLength <= maxResourceForkSize
        && fits(m_trailer.resourceForkOffset, m_trailer.resourceForkLength)) {
        const auto fork = parseResourceFork(
            readAt(*m_device, m_trailer.resourceForkOffset, m_trailer.resourceForkLength));
        for (const Resource& resource : fork.value_or(std::vector<Resource> {})) {
            const bool known = std::any_of(m_resources.begin(), m_resources.end(),
                [&](const Resource& other) { return other.type == resource.type; });
            if (!known && resource.type != "blkx")
                m_resources.push_back(resource);
        }
    }

    for (const Resource& resource : m_resources) {
        if (resource.type != "blkx")
            continue;
        auto table = BlockTable::parse(resource.data);
        if (!table)
            damaged();
        m_partitions.push_back(Partition { resource.name, partitionType(resource.name), std::move(*table) });
    }
}

void UdifImage::validate() const
{
    const std::uint64_t limit = std::uint64_t(m_device->size()) - trailerSize;
    const std::uint64_t forkLength = m_trailer.dataForkLength;
    if (m_trailer.dataForkOffset > limit || forkLength > limit - m_trailer.dataForkOffset)
        damaged();
    if (m_partitions.empty() || m_trailer.sectorCount > maxSectors)
        damaged();
    for (const Partition& partition : m_partitions) {
        const BlockTable& table = partition.table;
        if (table.sectorNumber > m_trailer.sectorCount
            || table.sectorCount > m_trailer.sectorCount - table.sectorNumber
            || table.dataOffset > forkLength)
            damaged();
        std::uint64_t next = 0;
        for (const Chunk& chunk : table.chunks) {
            if (!isKnownChunkType(chunk.type))
                throw DiskImageError(unsupportedCompressionMessage());
            if (chunk.type == std::uint32_t(ChunkType::terminator))
                break;
            if (chunk.type == std::uint32_t(ChunkType::comment))
                continue;
            if (chunk.sectorNumber != next || chunk.sectorCount > table.sectorCount - next)
                damaged();
            next += chunk.sectorCount;
            if (!carriesData(chunk.type))
                continue;
            const std::uint64_t room = forkLength - table.dataOffset;
            if (chunk.compressedOffset > room || chunk.compressedLength > room - chunk.compressedOffset)
                damaged();
        }
        if (next != table.sectorCount)
            damaged();
    }
}

DiskImageInfo UdifImage::info() const
{
    DiskImageInfo info;
    std::map<std::uint32_t, int> compressed;
    for (const Partition& partition : m_partitions) {
        info.partitions.append(partition.name);
        for (const Chunk& chunk : partition.table.chunks)
            if (carriesData(chunk.type) && chunk.type != std::uint32_t(ChunkType::raw))
                ++compressed[chunk.type];
    }
    std::uint32_t mostUsed = std::uint32_t(ChunkType::raw);
    int uses = 0;
    for (const auto& [type, count] : compressed) {
        if (count > uses) {
            mostUsed = type;
            uses = count;
        }
    }
    switch (static_cast<ChunkType>(mostUsed)) {
    case ChunkType::zlib:
        info.format = u"UDZO"_s;
        break;
    case ChunkType::bzip2:
        info.format = u"UDBZ"_s;
        break;
    case ChunkType::lzfse:
        info.format = u"ULFO"_s;
        break;
    case ChunkType::lzma:
        info.format = u"ULMO"_s;
        break;
    case ChunkType::adc:
        info.format = u"UDCO"_s;
        break;
    default:
        info.format = u"UDRO"_s;
    }
    info.size = m_trailer.sectorCount * sectorSize;
    info.softwareLicenseAgreement = hasLicenseAgreement();
    info.license = readLicenseAgreement(m_resources);
    return info;
}

bool UdifImage::hasLicenseAgreement() const
{
    return std::any_of(m_resources.begin(), m_resources.end(),
        [](const Resource& resource) { return resource.type == "LPic"; });
}

void UdifImage::verifyChecksums()
{
    if (m_trailer.dataChecksum.isCrc32()) {
        if (!m_device->seek(qint64(m_trailer.dataForkOffset)))
            damaged();
        uLong crc = crc32(0, nullptr, 0);
        std::uint64_t remaining = m_trailer.dataForkLength;
        QByteArray piece;
        while (remaining > 0) {
            piece = m_device->read(std::min<qint64>(checksumPiece, qint64(remaining)));
            if (piece.isEmpty())
                damaged();
            crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.constData()), uInt(piece.size()));
            remaining -= std::uint64_t(piece.size());
        }
        if (crc != m_trailer.dataChecksum.crc32())
            throw DiskImageError(checksumMismatchMessage());
    }

    const bool tablesHaveCrc = std::all_of(m_partitions.begin(), m_partitions.end(),
        [](const Partition& partition) { return partition.table.checksum.isCrc32(); });
    if (m_trailer.masterChecksum.isCrc32() && tablesHaveCrc) {
        QByteArray checksums;
        for (const Partition& partition : m_partitions)
            checksums.append(reinterpret_cast<const char*>(partition.table.checksum.data.data()), 4);
        const uLong crc
            = crc32(0, reinterpret_cast<const Bytef*>(checksums.constData()), uInt(checksums.size()));
        if (crc != m_trailer.masterChecksum.crc32())
            throw DiskImageError(checksumMismatchMessage());
    }
}

void UdifImage::decompress(std::size_t index, const PartitionOutput& output)
{
    const BlockTable& table = m_partitions.at(index).table;
    const std::uint64_t base = m_trailer.dataForkOffset + table.dataOffset;
    uLong crc = crc32(0, nullptr, 0);
    for (const Chunk& chunk : table.chunks) {
        if (chunk.type == std::uint32_t(ChunkType::terminator))
            break;
        const std::uint64_t bytes = chunk.sectorCount * sectorSize;
        if (chunk.type == std::uint32_t(ChunkType::zeroFill)) {
            crc = crc32_combine(crc, crcOfZeros(bytes), z_off_t(bytes));
            continue;
        }
        if (!carriesData(chunk.type))
            continue;
        std::uint64_t position = chunk.sectorNumber * sectorSize;
        decodeChunk(*m_device, base + chunk.compressedOffset, chunk.compressedLength,
            static_cast<ChunkType>(chunk.type), bytes, [&](const char* data, std::size_t size) {
                crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(size));
                output(position, data, size);
                position += size;
            });
    }
    if (table.checksum.isCrc32() && crc != table.checksum.crc32())
        throw DiskImageError(checksumMismatchMessage());
}

void UdifImage::extractPartition(std::size_t index, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw SystemError(u"Couldn't create "_s + path + u": "_s + file.errorString(), EIO);
    const auto fail
        = [&] { throw SystemError(u"Couldn't write "_s + path + u": "_s + file.errorString(), EIO); };
    decompress(index, [&](std::uint64_t offset, const char* data, std::size_t size) {
        // Zeros stay holes: a volume is mostly free space, which costs no disk.
        if (isAllZero(data, size))
            return;
        if (file.pos() != qint64(offset) && !file.seek(qint64(offset)))
            fail();
        if (file.write(data, qint64(size)) != qint64(size))
            fail();
    });
    // Zero runs at the end become a hole rather than written zeros.
    if (!file.resize(qint64(m_partitions.at(index).table.sectorCount * sectorSize)) || !file.flush())
        fail();
}

std::uint64_t UdifImage::storedBytes(std::size_t index) const
{
    std::uint64_t total = 0;
    for (const Chunk& chunk : m_partitions.at(index).table.chunks) {
        if (chunk.type == std::uint32_t(ChunkType::terminator))
            break;
        if (carriesData(chunk.type))
            total += chunk.sectorCount * sectorSize;
    }
    return total;
}

ImageKind probeImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(
            u"Couldn't open "_s + path + u": "_s + file.errorString(), file.exists() ? EACCES : ENOENT);
    const qint64 size = file.size();
    const auto bytesAt = [&](qint64 offset, qint64 length) -> QByteArray {
        if (offset < 0 || size < offset + length)
            return {};
        if (!file.seek(offset))
            throw SystemError(u"Couldn't read "_s + path + u": "_s + file.errorString(), EIO);
        const QByteArray bytes = file.read(length);
        if (bytes.size() != length)
            throw SystemError(u"Couldn't read "_s + path + u": "_s + file.errorString(), EIO);
        return bytes;
    };
    if (bytesAt(size - qint64(trailerSize), 4) == "koly")
        return ImageKind::udif;
    if (bytesAt(0, 8) == "encrcdsa" || bytesAt(size - 8, 8) == "cdsaencr")
        return ImageKind::encrypted;
    return ImageKind::other;
}

} // namespace corvanta::udif
