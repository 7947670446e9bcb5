#pragma once

#include "install/InstallPhase.h"
#include "notch/NotchMemory.h"
#include "notch/NotchSchedule.h"

#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

namespace corvanta {

// One app with an update as the notch panel lists it: plain values, read
// fresh from the application model each time the panel draws.
struct IslandRow {
    QString id; // the bundle's path; the view reads the app's icon from it
    QString key; // the pending key: bundle identifier, "@", release label
    QString name;
    QString installedVersion; // version, else build, else empty
    QString newVersion; // the release's label
    QString source; // the source's label: "Sparkle", "Homebrew cask", …
    InstallPhase phase;

    friend bool operator==(const IslandRow&, const IslandRow&) = default;
};

// What the notch alerts read and change of the rest of the application: the
// model's items, the settings and the notch memory, the update queue. The
// application model implements it; nothing in notch/ sees the model itself.
class NotchHost {
public:
    virtual ~NotchHost() = default;

    // Paths of the visible items whose status is `update`, in list order.
    virtual QStringList updateIds() const = 0;
    // The item at `id` as a row, whatever its status now; none once it is gone.
    virtual std::optional<IslandRow> row(const QString& id) const = 0;
    // Keys of the visible updates that have a release, in list order.
    virtual QStringList pendingKeys() const = 0;

    virtual NotchMemory memory() const = 0;
    // Saves at once.
    virtual void setMemory(const NotchMemory& memory) = 0;
    virtual NotchMode mode() const = 0;
    virtual void setMode(NotchMode mode) = 0;
    // None when quiet hours are off.
    virtual std::optional<QuietHours> quietHours() const = 0;

    // The onboarding tour is running.
    virtual bool touring() const = 0;
    // An Update All run is under way.
    virtual bool updatingAll() const = 0;
    // Updates those of `ids` the installer can take, one at a time.
    virtual void updateAll(const QStringList& ids) = 0;
    // Skips exactly the versions the items at `ids` offer now.
    virtual void skipVersions(const QStringList& ids) = 0;
    // Posts the plain update notification for every visible update.
    virtual void postNotification() = 0;
};

} // namespace corvanta
