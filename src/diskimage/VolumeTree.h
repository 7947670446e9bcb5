#pragma once

#include "diskimage/VolumeListing.h"

#include <functional>

#include <QByteArray>
#include <QString>

namespace corvanta::udif {

// An open file descriptor, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) noexcept
        : m_fd(fd)
    {
    }
    Descriptor(Descriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();

    int get() const noexcept { return m_fd; }

private:
    int m_fd;
};

// The folder `relative` below the folder `base`, opened one component at a
// time without following a link anywhere on the way; "" opens `base` again.
// Throws SystemError.
Descriptor openFolder(int base, const QByteArray& relative);

// A link's text read from the volume, for links 7-Zip didn't write.
using LinkReader = std::function<QByteArray(const QByteArray& path)>;

// What attach does once 7-Zip has extracted the volume of `listing` into the
// folder `staging` inside the folder `root` (`stagingPath`: the path 7-Zip
// was given, which it puts before absolute link texts). Checks the tree
// against the listing, writes every link as the volume holds it, moves the
// volume's root (out of 7-Zip's HFS wrapper folder) into `root`, removes
// `staging` and gives folders their modes. Everything goes through folder
// descriptors opened without following links, so nothing is reached or
// changed through a link. Throws DiskImageError when the tree isn't what
// the listing says, SystemError when the file system fails.
void finishVolume(const VolumeListing& listing, int root, const QByteArray& staging,
    const QByteArray& stagingPath, const LinkReader& readLink);

// Removes `name` inside the folder `parent` and everything below it, never
// following a link and making read-only folders writable first (the tree is
// our own extraction). Failures are ignored: this runs on the way out.
void removeEntry(int parent, const QByteArray& name) noexcept;
// The item at `path` (never where a link leads), or only what is inside it.
void removeTree(const QString& path) noexcept;
void removeContents(const QString& folder) noexcept;

} // namespace corvanta::udif
