#pragma once

#include "diskimage/VolumeListing.h"

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvanta::udif {

// The 7-Zip command line ("7zz"), run as a child process the way hdiutil is
// on macOS. Failures to start it throw DiskImageError.
class SevenZip {
public:
    explicit SevenZip(QString program);

    // None when 7-Zip can't open the file as any archive. Throws
    // DiskImageError when the listing is longer than any app's.
    std::optional<VolumeListing> list(const QString& raw) const;
    // Extracts the volume into `destination`. 7-Zip keeps relative links,
    // prefixes absolute ones with `destination` and writes an empty file in
    // place of a link that climbs out; finishVolume undoes both afterwards.
    // No file it writes may grow past `largestFile` bytes (the largest the
    // listing has), whatever the volume holds. Throws DiskImageError with
    // 7-Zip's complaint.
    void extract(
        const QString& raw, const QString& type, const QString& destination, qint64 largestFile) const;
    // The text of the link at `path` in the volume; empty when it can't be read.
    QByteArray readLink(const QString& raw, const QString& type, const QByteArray& path) const;

private:
    struct Result {
        QByteArray output;
        QByteArray errors;
        int exitCode = 0; // -1 when 7-Zip didn't exit by itself
        int signal = 0; // the signal that ended it, if one did
    };
    // `fileSizeLimit`: no file 7-Zip writes grows past it. `outputLimit`:
    // 7-Zip is stopped once it writes more to its standard output.
    Result run(const QStringList& arguments, std::optional<qint64> fileSizeLimit = std::nullopt,
        qsizetype outputLimit = -1) const;

    QString m_program;
};

} // namespace corvanta::udif
