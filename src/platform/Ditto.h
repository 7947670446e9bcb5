#pragma once

#include <memory>

#include <QString>

namespace corvanta {

// Unpacking zip archives and copying bundles the way "/usr/bin/ditto" does on
// macOS: symbolic links stay links, modes and times are kept. Every failure
// throws SystemError, its description naming the file and the cause, except
// the refusals of an archive too big for any app (UnpackRefusal).
class Ditto {
public:
    virtual ~Ditto() = default;

    // Unpacks the zip archive at `archive` into the folder `destination`,
    // which is created and must not exist yet. Holds every entry, and every
    // folder it implies, against the caps of UnpackBudget and the free space
    // before writing anything, and the bytes that come out against the caps
    // again while writing. Refuses entries with absolute paths or ".."
    // components, entries other than files, folders and symbolic links, a
    // name that comes twice (after dropping empty and "." components) or lies
    // inside a file or a link, and data that fails its checksum or runs
    // longer or shorter than its header says. Never writes through a
    // symbolic link; drops set-user-ID and set-group-ID bits.
    virtual void extractZip(const QString& archive, const QString& destination) = 0;

    // Copies the file, link or folder tree at `source` to `destination`,
    // which must not exist yet.
    virtual void copy(const QString& source, const QString& destination) = 0;

    // This platform's implementation.
    static std::unique_ptr<Ditto> create();
};

} // namespace corvanta
