#pragma once

#include "base/Error.h"

#include <QString>
#include <QtGlobal>

namespace corvanta {

// An archive or disk image refused while it unpacks because it holds more
// than any app does; the description is the sentence for the user.
class UnpackRefusal : public Error {
public:
    using Error::Error;
};

// The caps every unpacking of a download counts against. The largest real
// apps unpack to about 20 GB in a few hundred thousand files, less than 40
// folders deep, from downloads at most 4 GB; a download past any cap is a
// bomb, refused before it fills the disk.
class UnpackBudget {
public:
    static constexpr qint64 maxTotalBytes = 32LL << 30; // logical sizes: a sparse file counts in full
    static constexpr qint64 maxEntries = 1'000'000;
    static constexpr int maxDepth = 64; // path components below the unpacked root
    // Past `ratioFloor` unpacked bytes, at most `maxRatio` times the download's own size.
    static constexpr qint64 ratioFloor = 1LL << 30;
    static constexpr qint64 maxRatio = 100;
    // Left free on the volume after unpacking, so an install never fills it.
    static constexpr qint64 freeSpaceMargin = 256LL << 20;

    // `downloadBytes`: the size of the archive or image being unpacked.
    explicit UnpackBudget(qint64 downloadBytes);

    // Counts one entry (file, folder or link) `depth` components below the
    // root, of `logicalBytes` (a file's full length, holes included). Throws
    // UnpackRefusal past a cap.
    void add(int depth, qint64 logicalBytes);
    // Counts more bytes of an entry already added, for sizes only known as
    // the data arrives. Throws UnpackRefusal past a cap.
    void addBytes(qint64 logicalBytes);

    qint64 bytes() const { return m_bytes; }
    qint64 entries() const { return m_entries; }

    // Throws UnpackRefusal when the volume holding `folder` has less than
    // `bytes` plus the margin free; SystemError when it can't be asked.
    static void requireFreeSpace(const QString& folder, qint64 bytes);

private:
    qint64 m_download;
    qint64 m_bytes = 0;
    qint64 m_entries = 0;
};

} // namespace corvanta
