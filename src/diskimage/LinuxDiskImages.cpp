#include "diskimage/LinuxDiskImages.h"

#include "diskimage/UdifImage.h"
#include "diskimage/VolumeTree.h"
#include "platform/UnpackLimits.h"

#include <cerrno>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Parts of partition maps and boot support, never a volume to show.
bool isMapOrFreeSpace(const QString& type)
{
    static const QStringList types { u"MBR"_s, u"DDM"_s, u"Apple_partition_map"_s, u"Apple_Free"_s,
        u"Primary GPT Header"_s, u"Primary GPT Table"_s, u"Backup GPT Header"_s, u"Backup GPT Table"_s,
        u"GPT Header"_s, u"GPT Partition Data"_s, u"Apple_Driver43"_s, u"Apple_Driver43_CD"_s,
        u"Apple_Driver_ATA"_s, u"Apple_Driver_ATAPI"_s, u"Apple_Driver_OpenFirmware"_s,
        u"Apple_Driver_IOKit"_s, u"Apple_FWDriver"_s, u"Apple_Patches"_s, u"Apple_Void"_s, u"Apple_Scratch"_s,
        u"Apple_Extra"_s, u"ISO9660_data"_s };
    return types.contains(type);
}

// The partitions worth trying, most likely volume first: Mac file systems,
// then anything else that isn't part of a map, EFI system partitions last.
std::vector<std::size_t> candidatePartitions(const udif::UdifImage& image)
{
    std::vector<std::pair<int, std::size_t>> ranked;
    for (std::size_t i = 0; i < image.partitions().size(); ++i) {
        const QString& type = image.partitions()[i].type;
        if (isMapOrFreeSpace(type) || image.partitions()[i].table.sectorCount == 0)
            continue;
        const int rank = type.contains(u"HFS"_s) || type.contains(u"APFS"_s) ? 0 : type == u"EFI"_s ? 2 : 1;
        ranked.emplace_back(rank, i);
    }
    std::stable_sort(
        ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::size_t> indices;
    for (const auto& entry : ranked)
        indices.push_back(entry.second);
    return indices;
}

bool isVolumeType(const QString& type)
{
    static const QStringList types { u"HFS"_s, u"APFS"_s, u"FAT"_s, u"Iso"_s, u"Udf"_s, u"NTFS"_s, u"Ext"_s };
    return types.contains(type, Qt::CaseInsensitive);
}

} // namespace

LinuxDiskImages::LinuxDiskImages()
    : LinuxDiskImages(Options {})
{
}

LinuxDiskImages::LinuxDiskImages(Options options)
    : m_options(std::move(options))
    , m_sevenZip(m_options.sevenZip)
{
    if (m_options.temporaryRoot.isEmpty())
        m_options.temporaryRoot = QDir::tempPath();
}

std::optional<DiskImageInfo> LinuxDiskImages::imageInfo(const QString& image) const
{
    try {
        return udif::UdifImage::open(image).info();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

QString LinuxDiskImages::attach(const QString& image, const QString& mountPoint, bool acceptAgreement)
{
    auto udif = udif::UdifImage::open(image);
    if (udif.hasLicenseAgreement() && !acceptAgreement)
        throw DiskImageError(u"The disk image comes with a license agreement that wasn't accepted."_s);
    udif.verifyChecksums();

    // The mount point: created when missing, else it must be an empty folder.
    const QFileInfo existing(mountPoint);
    const bool created = !existing.exists();
    if (created) {
        if (!QDir().mkpath(mountPoint))
            throw SystemError(u"Couldn't create the folder "_s + mountPoint, EACCES);
    } else if (!existing.isDir() || existing.isSymLink()
        || !QDir(mountPoint).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        throw DiskImageError(
            mountPoint + u" isn't an empty folder, so the disk image can't be mounted there."_s);
    }
    const QString root = QFileInfo(mountPoint).canonicalFilePath();
    {
        std::lock_guard lock(m_mutex);
        if (m_mounted.contains(root))
            throw DiskImageError(
                mountPoint + u" isn't an empty folder, so the disk image can't be mounted there."_s);
        m_mounted.emplace(root, created);
    }

    try {
        const udif::Descriptor rootFolder(
            ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (rootFolder.get() < 0)
            throw SystemError::fromErrno(u"Couldn't open the folder "_s + root);
        QTemporaryDir work(m_options.temporaryRoot + u"/corvanta-diskimage-XXXXXX"_s);
        if (!work.isValid())
            throw SystemError(u"Couldn't create a temporary folder in "_s + m_options.temporaryRoot, EACCES);
        // Everything written counts against what an image of this size may
        // unpack to, each step refused before it writes.
        UnpackBudget budget(QFileInfo(image).size());
        bool mounted = false;
        for (const std::size_t index : candidatePartitions(udif)) {
            budget.add(0, qint64(udif.partitions()[index].table.sectorCount * udif::sectorSize));
            UnpackBudget::requireFreeSpace(work.path(), qint64(udif.storedBytes(index)));
            const QString raw = work.filePath(u"partition-%1.raw"_s.arg(index));
            udif.extractPartition(index, raw);
            const auto listing = m_sevenZip.list(raw);
            if (!listing || !isVolumeType(listing->type)) {
                QFile::remove(raw);
                continue;
            }
            const udif::ListingTotals totals = udif::validateListing(*listing, budget);
            UnpackBudget::requireFreeSpace(root, totals.fileBytes);

            const QByteArray staging
                = ".corvanta-volume-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
            if (::mkdirat(rootFolder.get(), staging.constData(), 0700) != 0)
                throw SystemError::fromErrno(u"Couldn't create a folder in "_s + root);
            const QString stagingPath = root + u'/' + QString::fromLatin1(staging);
            m_sevenZip.extract(raw, listing->type, stagingPath, totals.largestFile);
            udif::finishVolume(*listing, rootFolder.get(), staging, QFile::encodeName(stagingPath),
                [&](const QByteArray& link) { return m_sevenZip.readLink(raw, listing->type, link); });
            QFile::remove(raw);
            mounted = true;
            break;
        }
        if (!mounted)
            throw DiskImageError(u"The disk image doesn't contain a volume Corvanta can read."_s);
    } catch (const UnpackRefusal& refusal) {
        // The interface's one error type for images, with the cap's own sentence.
        detach(root);
        throw DiskImageError(refusal.description());
    } catch (...) {
        detach(root);
        throw;
    }
    return root;
}

void LinuxDiskImages::detach(const QString& mountPoint) noexcept
{
    const QString root = QFileInfo(mountPoint).canonicalFilePath();
    bool created = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_mounted.find(root);
        if (root.isEmpty() || it == m_mounted.end())
            return;
        created = it->second;
        m_mounted.erase(it);
    }
    if (created)
        udif::removeTree(root);
    else
        udif::removeContents(root);
}

#ifndef __APPLE__
std::unique_ptr<DiskImages> DiskImages::create()
{
    return std::make_unique<LinuxDiskImages>();
}
#endif

} // namespace corvanta
