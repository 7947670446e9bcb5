#pragma once

#include "base/Error.h"

#include <memory>
#include <optional>

#include <QString>
#include <QStringList>

namespace corvanta {

// A disk image that can't be opened: not a disk image, damaged, encrypted,
// an agreement that wasn't accepted, or a volume that can't be read.
class DiskImageError : public Error {
public:
    using Error::Error;
};

// The developer's licence agreement a disk image carries, in the language
// shown to English-speaking users.
struct LicenseAgreement {
    QString language; // as the image names it, "English" in practice
    QString text; // plain text; rich-text agreements are reduced to their text
    QString prompt; // the sentence shown above the agreement, when present
};

// What `hdiutil imageinfo` reports about an image, as far as the installer
// needs it.
struct DiskImageInfo {
    QString format; // "UDZO", "UDBZ", "ULFO", "ULMO", "UDCO" or "UDRO"
    quint64 size = 0; // bytes of the disk inside
    QStringList partitions; // names as recorded, in order
    bool softwareLicenseAgreement = false;
    std::optional<LicenseAgreement> license;
};

// Disk images: "/usr/bin/hdiutil" attach, detach and imageinfo on macOS; our
// own UDIF reader with the volume extracted read-only elsewhere. Attaching
// and detaching block; callers run them off the main thread.
class DiskImages {
public:
    virtual ~DiskImages() = default;

    // None when the file isn't a disk image this platform can read (also for
    // encrypted images). Never throws.
    virtual std::optional<DiskImageInfo> imageInfo(const QString& image) const = 0;

    // True when the image carries a licence agreement to accept before it
    // opens; false for anything unreadable.
    bool hasLicenseAgreement(const QString& image) const
    {
        const auto info = imageInfo(image);
        return info && info->softwareLicenseAgreement;
    }

    // Mounts the image read-only at `mountPoint` (created when missing; an
    // existing folder must be empty) and returns the path where the volume's
    // root appears. `acceptAgreement` answers the licence prompt: an image
    // with an agreement is refused unless it is true. Throws DiskImageError;
    // nothing is left behind on failure.
    virtual QString attach(const QString& image, const QString& mountPoint, bool acceptAgreement) = 0;

    // Unmounts what attach mounted at `mountPoint`; anything else is left
    // alone. Failures are ignored, as "hdiutil detach -force" is.
    virtual void detach(const QString& mountPoint) noexcept = 0;

    // This platform's implementation.
    static std::unique_ptr<DiskImages> create();
};

} // namespace corvanta
