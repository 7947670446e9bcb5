#pragma once

#include <memory>

#include <QString>

namespace corvanta {

// Unpacking zip archives and copying bundles the way "/usr/bin/ditto" does on
// macOS: symbolic links stay links, modes and times are kept. Every failure
// throws SystemError; its description names the file and the cause.
class Ditto {
public:
    virtual ~Ditto() = default;

    // Unpacks the zip archive at `archive` into the folder `destination`,
    // which is created and must not exist yet. Refuses entries with absolute
    // paths or ".." components and never writes through a symbolic link.
    // Set-user-ID and set-group-ID bits of the archive are dropped.
    virtual void extractZip(const QString& archive, const QString& destination) = 0;

    // Copies the file, link or folder tree at `source` to `destination`,
    // which must not exist yet.
    virtual void copy(const QString& source, const QString& destination) = 0;

    // This platform's implementation.
    static std::unique_ptr<Ditto> create();
};

} // namespace corvanta
