#include "diskimage/LinuxDiskImages.h"

#include "diskimage/UdifImage.h"

#include <cerrno>
#include <filesystem>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QUuid>

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

// Removes a tree without following links, making read-only folders
// writable first: the tree is our own extraction.
void removeTree(const std::filesystem::path& path) noexcept
{
    namespace fs = std::filesystem;
    std::error_code error;
    const auto status = fs::symlink_status(path, error);
    if (error || status.type() == fs::file_type::not_found)
        return;
    if (status.type() == fs::file_type::directory) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            removeTree(it->path());
    }
    fs::remove(path, error);
}

void removeContents(const QString& folder) noexcept
{
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(QFile::encodeName(folder).toStdString(), error), end; !error && it != end;
         it.increment(error))
        children.push_back(it->path());
    for (const auto& child : children)
        removeTree(child);
}

std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Moves every entry of `from` into `to` (same volume: renames only).
void moveEntries(const QString& from, const QString& to)
{
    const QDir source(from);
    const auto entries
        = source.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        std::error_code error;
        std::filesystem::rename(nativePath(source.filePath(name)), nativePath(to + u'/' + name), error);
        if (error)
            throw SystemError(u"Couldn't move "_s + source.filePath(name) + u" into "_s + to + u": "_s
                    + QString::fromStdString(error.message()),
                error.value());
    }
}

// Gives the volume's folders their modes once everything is in place;
// `wrapper` is the folder 7-Zip put the volume in, if any.
void restoreFolderModes(const udif::VolumeListing& listing, const QString& wrapper, const QString& root)
{
    const QString prefix = wrapper + u'/';
    for (const auto& [path, mode] : listing.folderModes) {
        if (!wrapper.isEmpty() && !path.startsWith(prefix))
            continue; // the volume's root stays the mount point's own
        const QString folder = root + u'/' + (wrapper.isEmpty() ? path : path.mid(prefix.size()));
        if (::chmod(QFile::encodeName(folder).constData(), mode & 07777) != 0)
            throw SystemError::fromErrno(u"Couldn't set the permissions of "_s + folder);
    }
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
        QTemporaryDir work(m_options.temporaryRoot + u"/corvanta-diskimage-XXXXXX"_s);
        if (!work.isValid())
            throw SystemError(u"Couldn't create a temporary folder in "_s + m_options.temporaryRoot, EACCES);
        bool mounted = false;
        for (const std::size_t index : candidatePartitions(udif)) {
            // The partition once as a file, once more as extracted files.
            const auto needed = qint64(udif.storedBytes(index));
            if (QStorageInfo(work.path()).bytesAvailable() < needed
                || QStorageInfo(root).bytesAvailable() < needed)
                throw DiskImageError(u"There isn't enough free space to open the disk image."_s);
            const QString raw = work.filePath(u"partition-%1.raw"_s.arg(index));
            udif.extractPartition(index, raw);
            const auto listing = m_sevenZip.list(raw);
            if (!listing || !isVolumeType(listing->type)) {
                QFile::remove(raw);
                continue;
            }
            const QString staging
                = root + u"/.corvanta-volume-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
            if (!QDir().mkdir(staging))
                throw SystemError(u"Couldn't create the folder "_s + staging, EACCES);
            m_sevenZip.extract(raw, *listing, staging);
            m_sevenZip.restoreLinks(raw, *listing, staging);
            QFile::remove(raw);
            // An HFS+ volume comes out inside a folder named after the volume.
            QString volumeRoot = staging;
            const QFileInfoList top = QDir(staging).entryInfoList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            if (listing->type.compare(u"HFS"_s, Qt::CaseInsensitive) == 0 && top.size() == 1 && top[0].isDir()
                && !top[0].isSymLink())
                volumeRoot = top[0].filePath();
            moveEntries(volumeRoot, root);
            removeTree(nativePath(staging));
            restoreFolderModes(*listing, volumeRoot == staging ? QString() : top[0].fileName(), root);
            mounted = true;
            break;
        }
        if (!mounted)
            throw DiskImageError(u"The disk image doesn't contain a volume Corvanta can read."_s);
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
        removeTree(nativePath(root));
    else
        removeContents(root);
}

#ifndef __APPLE__
std::unique_ptr<DiskImages> DiskImages::create()
{
    return std::make_unique<LinuxDiskImages>();
}
#endif

} // namespace corvanta
