#pragma once

#include <QString>

namespace corvanta {

// A private folder (".corvanta-<UUID>", mode 0700) beside the apps, where a
// download is unpacked, checked, and renamed into place from: what was
// verified is the very tree that lands, never a copy of it. It holds an
// exclusive lock while it lives, so a sweep by another install leaves it
// alone, and it is removed when it goes.
class StagingFolder {
public:
    // Creates the folder inside `parent`. Throws SystemError.
    explicit StagingFolder(const QString& parent);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    const QString& path() const { return m_path; }

    // Removes the staging folders in `folder` that no living install holds:
    // what a crash or a kill left behind. Only our own names are touched.
    // Returns how many went.
    static int sweep(const QString& folder) noexcept;

    // Whether `name` is one of ours: ".corvanta-<UUID>", or the ".app"
    // temporary copies earlier versions placed.
    static bool isStagingName(const QString& name);

private:
    QString m_path;
    int m_lock = -1;
};

} // namespace corvanta
