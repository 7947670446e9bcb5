#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta {
class UnpackBudget;
}

namespace corvanta::udif {

// One item of a volume as `7zz l -slt` lists it.
struct ListedEntry {
    enum class Kind { file, folder, link, special, unknown };

    QByteArray path; // relative to the volume, '/' between components, as listed (UTF-8)
    Kind kind = Kind::unknown;
    std::optional<unsigned> permissions; // from the "ls"-style mode, where the format has one
    qint64 size = -1; // logical bytes of a file, holes included; -1 when not listed
    QByteArray linkTarget; // a link's text, where the format lists it
    QByteArray hardLink; // the path this entry is a hard link to, where listed
    bool readable = true; // false when a line of the item can't be read
};

// What 7-Zip sees in a raw file-system image. The listing comes from the
// volume itself: names are the image's to choose, so nothing in it is
// trusted until validateListing has passed it.
struct VolumeListing {
    QString type; // 7-Zip's format name: "HFS", "APFS", "FAT", "Iso", ...
    std::vector<ListedEntry> entries;
    bool readable = true; // false when the item section holds something that isn't an item
};

// The listing in 7-Zip's technical format; none when it names no archive type.
// Never throws: what can't be read is marked for validateListing to refuse.
std::optional<VolumeListing> parseListing(const QByteArray& output);

// Permission bits of an "ls"-style mode text ("drwxr-xr-x"); none when malformed.
std::optional<unsigned> parseModeText(const QByteArray& text);

struct ListingTotals {
    qint64 fileBytes = 0; // logical sizes of every file
    qint64 largestFile = 0;
};

// Refuses a listing that is anything but a plain tree of folders, files and
// links: unreadable items, unsafe or duplicate paths, entries inside
// something that isn't a folder, devices, pipes, sockets, and hard links to
// anything but a file of the volume (DiskImageError). Counts every entry,
// and every folder 7-Zip would create for them, against `budget`, which
// throws UnpackRefusal past a cap.
ListingTotals validateListing(const VolumeListing& listing, UnpackBudget& budget);

// The folder 7-Zip puts an HFS volume's root in (named after the volume),
// empty when the listing's entries aren't all inside one listed folder.
QByteArray wrapperFolder(const VolumeListing& listing);

} // namespace corvanta::udif
