#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvanta::udif {

// What 7-Zip sees in a raw file-system image.
struct VolumeListing {
    QString type; // 7-Zip's format name: "HFS", "APFS", "FAT", "Iso", ...
    QStringList links; // paths of the symbolic links, relative to the extraction folder
    // Permission bits of every folder: 7-Zip creates folders with default modes.
    std::vector<std::pair<QString, unsigned>> folderModes;
};

// Permission bits of an "ls"-style mode text ("drwxr-xr-x"); none when malformed.
std::optional<unsigned> parseModeText(const QString& text);

// The 7-Zip command line ("7zz"), run as a child process the way hdiutil is
// on macOS. Failures to start it throw DiskImageError.
class SevenZip {
public:
    explicit SevenZip(QString program);

    // None when 7-Zip can't open the file as any archive.
    std::optional<VolumeListing> list(const QString& raw) const;
    // Extracts the volume into `destination`. 7-Zip keeps relative links,
    // prefixes absolute ones with `destination` and writes an empty file in
    // place of a link that climbs out; restoreLinks undoes both afterwards.
    // Throws DiskImageError with 7-Zip's complaint.
    void extract(const QString& raw, const VolumeListing& listing, const QString& destination) const;
    // Recreates every link of `listing` under `destination` as the volume writes it.
    void restoreLinks(const QString& raw, const VolumeListing& listing, const QString& destination) const;

private:
    QByteArray run(const QStringList& arguments, int& exitCode, QByteArray* errors = nullptr) const;

    QString m_program;
};

} // namespace corvanta::udif
