#pragma once

// libFuzzer target: a volume listing from untrusted bytes, as `7zz l -slt`
// prints it, and the steps after 7-Zip that turn an extraction into the
// mounted volume. 7-Zip itself can't run at fuzzing speed, so a listing the
// validator accepts is laid out the way a careless 7-Zip might (links aimed
// at a sentinel outside, link stand-ins as empty files, now and then a link
// where a folder or file is listed), inside a fresh parent that also holds
// sentinels: a file, a link to it and a folder. Then finishVolume runs as
// attach runs it. Invariant (trap on violation): whatever was accepted or
// refused, nothing outside the mount folder changed, so nothing was written
// through a link. The unit tests replay fuzz-regressions/extract/ through
// the same extractInput.
#include "base/Error.h"
#include "diskimage/VolumeListing.h"
#include "diskimage/VolumeTree.h"
#include "platform/UnpackLimits.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::udif::fuzz {

namespace extract {

inline constexpr char sentinelText[] = "sentinel\n";
inline constexpr mode_t sentinelMode = 0640;
inline constexpr mode_t folderMode = 0750;
inline constexpr mode_t innerMode = 0600;

// Creates `relative` below `base` the way 7-Zip would, through descriptors
// opened without following links so that the harness itself never writes
// outside; folders on the way are made as needed. False when something in
// the way isn't a folder (7-Zip would have failed there too).
inline bool layOut(
    int base, const ListedEntry& entry, const QByteArray& sentinelFolder, const QByteArray& staging)
{
    const qsizetype slash = entry.path.lastIndexOf('/');
    const QByteArray name = entry.path.mid(slash + 1);
    Descriptor folder(::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (slash > 0) {
        for (const QByteArray& component : entry.path.left(slash).split('/')) {
            ::mkdirat(folder.get(), component.constData(), 0755);
            Descriptor next(::openat(
                folder.get(), component.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.get() < 0)
                return false;
            folder = std::move(next);
        }
    }
    const std::size_t hash = std::hash<std::string> {}(entry.path.toStdString());
    const bool astray = hash % 53 == 0; // a link where the listing says otherwise
    if (entry.kind == ListedEntry::Kind::link || astray) {
        switch (astray ? 0 : hash % 3) {
        case 0:
            return ::symlinkat(sentinelFolder.constData(), folder.get(), name.constData()) == 0;
        case 1: { // the stand-in for a link that climbs out
            const Descriptor file(::openat(
                folder.get(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
            return file.get() >= 0;
        }
        default: { // absolute texts come out behind the output folder
            const QByteArray text = entry.linkTarget.startsWith('/') ? staging + entry.linkTarget
                : entry.linkTarget.isEmpty()                         ? QByteArray("../sentinel")
                                                                     : entry.linkTarget;
            return ::symlinkat(text.constData(), folder.get(), name.constData()) == 0;
        }
        }
    }
    if (entry.kind == ListedEntry::Kind::folder)
        return ::mkdirat(folder.get(), name.constData(), 0755) == 0 || errno == EEXIST;
    const Descriptor file(
        ::openat(folder.get(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.get() < 0)
        return false;
    const auto bytes = std::size_t(std::min<qint64>(entry.size, 16));
    return ::write(file.get(), "0123456789abcdef", bytes) == ssize_t(bytes);
}

inline bool sameItem(int folder, const char* name, mode_t type, mode_t mode, const QByteArray& content)
{
    struct stat status { };
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || (status.st_mode & S_IFMT) != type)
        return false;
    if (type == S_IFLNK) {
        QByteArray text(qsizetype(content.size() + 1), '\0');
        return ::readlinkat(folder, name, text.data(), std::size_t(text.size())) == content.size()
            && text.left(content.size()) == content;
    }
    if ((status.st_mode & 07777) != mode)
        return false;
    if (type != S_IFREG)
        return true;
    const Descriptor file(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    QByteArray bytes(qsizetype(content.size() + 1), '\0');
    return file.get() >= 0 && ::read(file.get(), bytes.data(), std::size_t(bytes.size())) == content.size()
        && bytes.left(content.size()) == content;
}

inline int entryCount(int folder)
{
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* item = ::readdir(dir))
        count += std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0;
    ::closedir(dir);
    return count;
}

// The parent of every case when the caller names none: one per process.
inline const QByteArray& scratchRoot()
{
    static const QByteArray root = [] {
        QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/corvanta-fuzz-extract-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] { ::rmdir(scratchRoot().constData()); }); // empty: every case removes its own
        return pattern;
    }();
    return root;
}

} // namespace extract

// `scratch`: an existing folder that holds one fresh parent per case.
inline bool extractInput(
    const std::uint8_t* data, std::size_t size, const QByteArray& scratch = extract::scratchRoot())
{
    using namespace extract;
    const auto listing = parseListing(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!listing)
        return true;
    try {
        UnpackBudget budget(qint64(1) << 30);
        validateListing(*listing, budget);
    } catch (const Error&) {
        return true; // refused before anything is written
    }

    static int cases = 0;
    const QByteArray parentPath = scratch + "/case-" + QByteArray::number(++cases);
    if (::mkdir(parentPath.constData(), 0700) != 0)
        std::abort();
    const Descriptor parent(::open(parentPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QByteArray sentinel = parentPath + "/sentinel";
    const QByteArray sentinelFolder = parentPath + "/sentinel-folder";
    const QByteArray staging = ".corvanta-volume-fuzz";
    const QByteArray stagingPath = parentPath + "/mount/" + staging;
    {
        const Descriptor file(
            ::openat(parent.get(), "sentinel", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (::write(file.get(), sentinelText, sizeof sentinelText - 1) != sizeof sentinelText - 1
            || ::fchmod(file.get(), sentinelMode) != 0
            || ::symlinkat(sentinel.constData(), parent.get(), "sentinel-link") != 0
            || ::mkdirat(parent.get(), "sentinel-folder", folderMode) != 0
            || ::mkdirat(parent.get(), "mount", 0700) != 0)
            std::abort();
        const Descriptor folder(
            ::openat(parent.get(), "sentinel-folder", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const Descriptor inner(
            ::openat(folder.get(), "inner", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, innerMode));
        if (inner.get() < 0 || ::fchmod(folder.get(), folderMode) != 0)
            std::abort();
    }
    const Descriptor mount(::openat(parent.get(), "mount", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (::mkdirat(mount.get(), staging.constData(), 0700) != 0)
        std::abort();
    {
        const Descriptor stage(
            ::openat(mount.get(), staging.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (const ListedEntry& entry : listing->entries)
            layOut(stage.get(), entry, sentinelFolder, stagingPath);
    }
    bool finished = true;
    try {
        finishVolume(*listing, mount.get(), staging, stagingPath,
            [](const QByteArray&) { return QByteArray("../../sentinel-folder"); });
    } catch (const Error&) {
        finished = false; // refusing the tree is fine; changing anything outside isn't
    }
    struct stat status { };
    const bool stagingGone = ::fstatat(mount.get(), staging.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0;

    const Descriptor folder(
        ::openat(parent.get(), "sentinel-folder", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const bool untouched = (!finished || stagingGone) && ::fstat(parent.get(), &status) == 0
        && (status.st_mode & 07777) == 0700 && entryCount(parent.get()) == 4
        && sameItem(parent.get(), "sentinel", S_IFREG, sentinelMode, sentinelText)
        && sameItem(parent.get(), "sentinel-link", S_IFLNK, 0, sentinel)
        && sameItem(parent.get(), "sentinel-folder", S_IFDIR, folderMode, {}) && folder.get() >= 0
        && entryCount(folder.get()) == 1 && sameItem(folder.get(), "inner", S_IFREG, innerMode, {});
    removeTree(QFile::decodeName(parentPath));
    return untouched;
}

} // namespace corvanta::udif::fuzz
