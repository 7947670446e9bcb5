#include "diskimage/HybridVolume.h"

#include "base/Error.h"

#include <algorithm>
#include <cerrno>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

struct MapEntry {
    QString name;
    QString type;
    std::uint64_t first = 0; // in 512-byte sectors
    std::uint64_t count = 0;
};

QString cString(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

std::vector<MapEntry> readPartitionMap(const QString& rawDisk)
{
    QFile file(rawDisk);
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(u"Couldn't read "_s + rawDisk + u": "_s + file.errorString(), EIO);
    const QByteArray head = file.read(64 * 1024);
    if (head.size() < 1024 || !head.startsWith("ER"))
        throw Error(u"xorriso wrote no Apple partition map into "_s + rawDisk + u"."_s);
    const std::uint64_t blockSize = qFromBigEndian<quint16>(head.constData() + 2);
    const std::uint64_t perBlock = blockSize / sectorSize;
    std::vector<MapEntry> entries;
    for (std::uint64_t block = 1; (block + 1) * blockSize <= std::uint64_t(head.size()); ++block) {
        const char* entry = head.constData() + block * blockSize;
        if (entry[0] != 'P' || entry[1] != 'M')
            break;
        entries.push_back({ cString(QByteArray(entry + 16, 32)), cString(QByteArray(entry + 48, 32)),
            qFromBigEndian<quint32>(entry + 8) * perBlock, qFromBigEndian<quint32>(entry + 12) * perBlock });
    }
    if (blockSize % sectorSize != 0 || entries.empty())
        throw Error(u"xorriso wrote no Apple partition map into "_s + rawDisk + u"."_s);
    return entries;
}

} // namespace

std::vector<DiskPartition> buildHybridVolume(
    const QString& folder, const QString& volumeName, const QString& rawDisk)
{
    QProcess xorriso;
    xorriso.setProcessChannelMode(QProcess::MergedChannels);
    xorriso.start(u"xorriso"_s,
        { u"-as"_s, u"mkisofs"_s, u"-quiet"_s, u"-R"_s, u"-hfsplus"_s, u"-apm-block-size"_s, u"512"_s,
            u"-V"_s, volumeName, u"-o"_s, rawDisk, folder });
    if (!xorriso.waitForStarted())
        throw Error(u"xorriso couldn't be started: "_s + xorriso.errorString());
    xorriso.closeWriteChannel();
    xorriso.waitForFinished(-1);
    if (xorriso.exitStatus() != QProcess::NormalExit || xorriso.exitCode() != 0)
        throw Error(u"xorriso failed: "_s + QString::fromUtf8(xorriso.readAll()).trimmed());

    const std::uint64_t sectors = std::uint64_t(QFileInfo(rawDisk).size()) / sectorSize;
    std::vector<MapEntry> entries = readPartitionMap(rawDisk);
    std::sort(entries.begin(), entries.end(),
        [](const MapEntry& a, const MapEntry& b) { return a.first < b.first; });

    // Block 0 holds the driver descriptor map; gaps become free space.
    std::vector<DiskPartition> partitions;
    std::uint64_t next = entries.front().first;
    partitions.push_back({ u"Driver Descriptor Map (DDM : 0)"_s, 0, next });
    int index = 1;
    for (const MapEntry& entry : entries) {
        if (entry.first < next)
            continue;
        if (entry.first > next)
            partitions.push_back({ u" (Apple_Free : %1)"_s.arg(index++), next, entry.first - next });
        const bool volume = entry.type == u"Apple_HFS"_s;
        const std::uint64_t end = volume ? sectors : std::min(sectors, entry.first + entry.count);
        partitions.push_back(
            { u"%1 (%2 : %3)"_s.arg(entry.name, entry.type).arg(index++), entry.first, end - entry.first });
        next = end;
        if (volume)
            break;
    }
    if (next < sectors)
        partitions.push_back({ u" (Apple_Free : %1)"_s.arg(index), next, sectors - next });
    return partitions;
}

void writeDiskImage(
    const QString& folder, const QString& volumeName, const QString& output, const WriteOptions& options)
{
    QTemporaryDir work(QDir::tempPath() + u"/corvanta-udif-XXXXXX"_s);
    if (!work.isValid())
        throw Error(u"Couldn't create a temporary folder: "_s + work.errorString());
    const QString raw = work.filePath(u"volume.iso"_s);
    WriteOptions withPartitions = options;
    withPartitions.partitions = buildHybridVolume(folder, volumeName, raw);
    writeUdif(raw, output, withPartitions);
}

} // namespace corvanta::udif
