#pragma once

#include <functional>

#include <QString>

namespace corvanta {

// A private folder (mode 0700) named "<prefix><UUID>": the work folder a
// download lands in ("corvanta-" in the temporary folder), or the staging
// folder beside the apps (".corvanta-") where it is unpacked, checked and
// renamed into place from, so what was verified is the very tree that
// lands, never a copy of it. It holds an exclusive lock while it lives, so a
// sweep by another install leaves it alone, and it is removed when it goes.
class StagingFolder {
public:
    static inline const QString stagingPrefix = QStringLiteral(".corvanta-");
    static inline const QString workPrefix = QStringLiteral("corvanta-");

    // Creates the folder inside `parent`. Throws SystemError.
    explicit StagingFolder(const QString& parent, const QString& prefix = stagingPrefix);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    const QString& path() const { return m_path; }

    // Notes in the staging folder holding `staged` which installed app the
    // exchange is about to replace, so a sweep after a kill can tell that
    // app's old copy from a staged new one. Throws SystemError.
    static void noteReplacing(const QString& staged, const QString& installed);

    // Removes the folders of `prefix` in `folder` that no living install
    // holds: what a crash or a kill left behind. Only our own names are
    // touched. The old copy of an app whose update was killed between the
    // exchange and the Trash is handed to `keep` first, so it reaches the
    // Trash rather than going for good; a staged new version, never
    // installed, just goes. Returns how many folders went.
    static int sweep(const QString& folder, const QString& prefix = stagingPrefix,
        const std::function<void(const QString& app)>& keep = {}) noexcept;

    // Whether `name` is one of `prefix`'s: "<prefix><UUID>", or for staging
    // also the ".app" temporary copies earlier versions placed.
    static bool isOurs(const QString& name, const QString& prefix = stagingPrefix);

private:
    QString m_path;
    int m_lock = -1;
};

} // namespace corvanta
