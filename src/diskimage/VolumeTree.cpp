#include "diskimage/VolumeTree.h"

#include "platform/DiskImages.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

using Kind = ListedEntry::Kind;

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QString shown(const QByteArray& path)
{
    return QString::fromUtf8(path);
}

[[noreturn]] void surprise(const QByteArray& path)
{
    throw DiskImageError(
        u"The disk image's volume came out differently from its listing at \"%1\". Refusing to open it."_s
            .arg(shown(path)));
}

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    return folder.isEmpty() ? name : folder + '/' + name;
}

// Names inside an open folder, read through a descriptor of its own; none
// when it can't be read.
std::optional<std::vector<QByteArray>> readNames(int folder)
{
    const int own = ::openat(folder, ".", folderFlags);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        if (own >= 0)
            ::close(own);
        return std::nullopt;
    }
    std::vector<QByteArray> names;
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::vector<QByteArray> entryNames(int folder, const QByteArray& path)
{
    auto names = readNames(folder);
    if (!names)
        throw SystemError::fromErrno(u"Couldn't list the folder "_s + shown(path));
    return std::move(*names);
}

std::pair<QByteArray, QByteArray> split(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? std::pair { QByteArray(), path } : std::pair { path.left(slash), path.mid(slash + 1) };
}

QByteArray linkTextAt(int folder, const QByteArray& name, qint64 size)
{
    QByteArray buffer(qsizetype(std::max<qint64>(size, 0) + 1), '\0');
    const ssize_t length = ::readlinkat(folder, name.constData(), buffer.data(), std::size_t(buffer.size()));
    return length < 0 ? QByteArray() : buffer.left(length);
}

// Every item 7-Zip wrote must be what the listing says it is, so that the
// steps after it only meet folders where folders are listed. A link 7-Zip
// declined to write may be missing or an empty file; a regular file shared
// with a name outside the tree (a hard link out) is refused.
class TreeCheck {
public:
    explicit TreeCheck(const VolumeListing& listing)
    {
        for (const ListedEntry& entry : listing.entries) {
            m_listed.insert(entry.path, &entry);
            for (qsizetype slash = entry.path.indexOf('/'); slash >= 0;
                 slash = entry.path.indexOf('/', slash + 1))
                m_implicitFolders.insert(entry.path.left(slash));
        }
    }

    void run(int staging)
    {
        walk(staging, {});
        for (const auto& [inode, shared] : m_shared)
            if (shared.seen < shared.links)
                surprise(shared.path);
    }

private:
    struct Shared {
        nlink_t links = 0;
        nlink_t seen = 0;
        QByteArray path;
    };

    void walk(int folder, const QByteArray& prefix)
    {
        for (const QByteArray& name : entryNames(folder, prefix)) {
            const QByteArray path = joined(prefix, name);
            struct stat status { };
            if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                throw SystemError::fromErrno(u"Couldn't read "_s + shown(path));
            const ListedEntry* entry = m_listed.value(path);
            const Kind kind = entry ? entry->kind : Kind::unknown;
            bool expected = false;
            if (S_ISDIR(status.st_mode))
                expected = kind == Kind::folder || (!entry && m_implicitFolders.contains(path));
            else if (S_ISLNK(status.st_mode))
                expected = kind == Kind::link;
            else if (S_ISREG(status.st_mode))
                expected = (kind == Kind::file && status.st_size <= entry->size)
                    || (kind == Kind::link && status.st_size == 0);
            if (!expected)
                surprise(path);
            if (S_ISREG(status.st_mode) && status.st_nlink > 1) {
                Shared& shared = m_shared[{ status.st_dev, status.st_ino }];
                shared.links = status.st_nlink;
                shared.path = path;
                ++shared.seen;
            }
            if (S_ISDIR(status.st_mode)) {
                const Descriptor child(::openat(folder, name.constData(), folderFlags));
                if (child.get() < 0)
                    throw SystemError::fromErrno(u"Couldn't open "_s + shown(path));
                walk(child.get(), path);
            }
        }
    }

    QHash<QByteArray, const ListedEntry*> m_listed;
    QSet<QByteArray> m_implicitFolders;
    std::map<std::pair<dev_t, ino_t>, Shared> m_shared;
};

// 7-Zip keeps relative links, puts its output folder before absolute ones
// and writes an empty file in place of a link that climbs out: every link
// becomes what the volume holds, replaced inside its own folder.
void restoreLinks(
    int staging, const VolumeListing& listing, const QByteArray& stagingPath, const LinkReader& readLink)
{
    for (const ListedEntry& entry : listing.entries) {
        if (entry.kind != Kind::link)
            continue;
        const auto [folderPath, name] = split(entry.path);
        const Descriptor folder = openFolder(staging, folderPath);
        struct stat status { };
        const bool present = ::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        const QByteArray written = present && S_ISLNK(status.st_mode)
            ? linkTextAt(folder.get(), name, status.st_size)
            : QByteArray();
        QByteArray target = entry.linkTarget;
        if (target.isEmpty() && !written.isEmpty()) {
            if (written == stagingPath)
                target = "/";
            else if (written.startsWith(QByteArray(stagingPath + '/')))
                target = written.mid(stagingPath.size());
            else
                target = written;
        }
        if (target.isEmpty())
            target = readLink(entry.path);
        if (target.isEmpty() || target.contains('\0'))
            throw DiskImageError(u"The disk image's volume couldn't be read: the link "_s + shown(entry.path)
                + u" can't be read."_s);
        if (present && target == written)
            continue;
        if (present && ::unlinkat(folder.get(), name.constData(), 0) != 0)
            throw SystemError::fromErrno(u"Couldn't replace "_s + shown(entry.path));
        if (::symlinkat(target.constData(), folder.get(), name.constData()) != 0)
            throw SystemError::fromErrno(u"Couldn't create the link "_s + shown(entry.path));
    }
}

// Renames within one volume, never over an existing name.
void moveEntries(int from, int to)
{
    for (const QByteArray& name : entryNames(from, {})) {
        if (::renameat2(from, name.constData(), to, name.constData(), RENAME_NOREPLACE) != 0)
            throw SystemError::fromErrno(
                u"Couldn't move "_s + shown(name) + u" out of the disk image's volume"_s);
    }
}

// Deepest folders first, so a folder made read-only never stands in the way
// of one below it.
void restoreFolderModes(int root, const VolumeListing& listing, const QByteArray& wrapper)
{
    std::vector<std::pair<QByteArray, unsigned>> folders;
    const QByteArray prefix = wrapper.isEmpty() ? QByteArray() : wrapper + '/';
    for (const ListedEntry& entry : listing.entries) {
        if (entry.kind != Kind::folder || !entry.permissions || !entry.path.startsWith(prefix))
            continue; // the volume's root stays the mount point's own
        folders.emplace_back(entry.path.mid(prefix.size()), *entry.permissions);
    }
    std::stable_sort(folders.begin(), folders.end(),
        [](const auto& a, const auto& b) { return a.first.count('/') > b.first.count('/'); });
    for (const auto& [path, mode] : folders) {
        const Descriptor folder = openFolder(root, path);
        if (::fchmod(folder.get(), mode & 07777) != 0)
            throw SystemError::fromErrno(u"Couldn't set the permissions of "_s + shown(path));
    }
}

} // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Descriptor openFolder(int base, const QByteArray& relative)
{
    Descriptor folder(::openat(base, ".", folderFlags));
    if (folder.get() < 0)
        throw SystemError::fromErrno(u"Couldn't open the disk image's volume"_s);
    if (relative.isEmpty())
        return folder;
    for (const QByteArray& component : relative.split('/')) {
        Descriptor next(::openat(folder.get(), component.constData(), folderFlags));
        if (next.get() < 0)
            throw SystemError::fromErrno(u"Couldn't open the folder "_s + shown(relative));
        folder = std::move(next);
    }
    return folder;
}

void finishVolume(const VolumeListing& listing, int root, const QByteArray& staging,
    const QByteArray& stagingPath, const LinkReader& readLink)
{
    const Descriptor stage = openFolder(root, staging);
    TreeCheck(listing).run(stage.get());
    restoreLinks(stage.get(), listing, stagingPath, readLink);
    // An HFS+ volume comes out inside a folder named after the volume.
    const QByteArray wrapper = wrapperFolder(listing);
    moveEntries(openFolder(stage.get(), wrapper).get(), root);
    removeEntry(root, staging);
    restoreFolderModes(root, listing, wrapper);
}

void removeEntry(int parent, const QByteArray& name) noexcept
{
    struct stat status { };
    if (::fstatat(parent, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(status.st_mode)) {
        ::unlinkat(parent, name.constData(), 0);
        return;
    }
    if ((status.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(parent, name.constData(), (status.st_mode | S_IRWXU) & 07777, AT_SYMLINK_NOFOLLOW);
    const Descriptor folder(::openat(parent, name.constData(), folderFlags));
    if (folder.get() >= 0) {
        for (const QByteArray& child : readNames(folder.get()).value_or(std::vector<QByteArray> {}))
            removeEntry(folder.get(), child);
    }
    ::unlinkat(parent, name.constData(), AT_REMOVEDIR);
}

void removeTree(const QString& path) noexcept
{
    const QFileInfo info(path);
    const Descriptor parent(::open(QFile::encodeName(info.path()).constData(), folderFlags & ~O_NOFOLLOW));
    if (parent.get() >= 0)
        removeEntry(parent.get(), QFile::encodeName(info.fileName()));
}

void removeContents(const QString& folder) noexcept
{
    const Descriptor root(::open(QFile::encodeName(folder).constData(), folderFlags));
    if (root.get() < 0)
        return;
    for (const QByteArray& child : readNames(root.get()).value_or(std::vector<QByteArray> {}))
        removeEntry(root.get(), child);
}

} // namespace corvanta::udif
