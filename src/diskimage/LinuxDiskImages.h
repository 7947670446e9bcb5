#pragma once

#include "diskimage/SevenZip.h"
#include "platform/DiskImages.h"

#include <map>
#include <mutex>

#include <QString>

namespace corvanta {

// Disk images without a kernel mount: our UDIF reader checks the image and
// decompresses the volume's partition into a private temporary file, and
// 7-Zip extracts its file system (HFS+, APFS, FAT, ISO 9660) into the mount
// point, which then shows the volume's root with links as the volume writes
// them. The volume's listing is checked before anything is extracted, and
// everything written counts against an UnpackBudget of the image's size;
// refusals of the budget arrive as DiskImageError with its sentence.
// Detaching removes the extracted tree. Safe to use from several threads;
// each mount point is one attachment.
class LinuxDiskImages : public DiskImages {
public:
    struct Options {
        QString sevenZip = QStringLiteral("7zz");
        // Where the decompressed partitions live while 7-Zip reads them.
        QString temporaryRoot; // empty: the system's temporary folder
    };

    LinuxDiskImages();
    explicit LinuxDiskImages(Options options);

    std::optional<DiskImageInfo> imageInfo(const QString& image) const override;
    QString attach(const QString& image, const QString& mountPoint, bool acceptAgreement) override;
    void detach(const QString& mountPoint) noexcept override;

private:
    Options m_options;
    udif::SevenZip m_sevenZip;
    std::mutex m_mutex;
    std::map<QString, bool> m_mounted; // canonical mount point → whether attach created the folder
};

} // namespace corvanta
