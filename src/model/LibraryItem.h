#pragma once

#include "account/LibraryApp.h"
#include "install/InstallPhase.h"
#include "model/Route.h"

#include <optional>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace corvanta {

// One row of the cloud library, identified by its app's bundle identifier.
// The object outlives reloads of the library: a reload only replaces `app`,
// so what the row carries besides stays with it. Lives on the main thread.
class LibraryItem : public QObject {
    Q_OBJECT

public:
    explicit LibraryItem(LibraryApp app, QObject* parent = nullptr);

    const QString& id() const { return m_app.id; }
    const LibraryApp& app() const { return m_app; }
    // A store route follows the new record's link; without one it is found again.
    void setApp(LibraryApp app);

    // Computed once by Store::restore (or the view) and kept across reloads.
    const std::optional<Route>& route() const { return m_route; }
    void setRoute(std::optional<Route> route);
    const InstallPhase& phase() const { return m_phase; }
    void setPhase(InstallPhase phase);
    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    // The manual reason or an install failure, shown under the row.
    const std::optional<QString>& note() const { return m_note; }
    void setNote(std::optional<QString> note);
    // The developer Team ID the installed download was checked against.
    const std::optional<QString>& team() const { return m_team; }
    void setTeam(std::optional<QString> team);

    // No Mac has the app installed any more.
    bool removedEverywhere() const;
    // The names of the Macs that have it installed, in the order of `devices`;
    // ids the library no longer lists read as one `formerMac`.
    QStringList onDevices(const std::vector<Device>& devices) const;

    struct Sighting {
        QString mac;
        QDateTime seen;
        friend bool operator==(const Sighting&, const Sighting&) = default;
    };
    // The Mac and date of the latest dated report; none without one.
    std::optional<Sighting> lastSeen(const std::vector<Device>& devices) const;
    // The page the row's button opens: the manual page or the store link.
    std::optional<QUrl> website() const;

    static inline const QString formerMac = QStringLiteral("a Mac you no longer use");

Q_SIGNALS:
    void changed();

private:
    LibraryApp m_app;
    std::optional<Route> m_route;
    InstallPhase m_phase;
    bool m_selected = false;
    std::optional<QString> m_note;
    std::optional<QString> m_team;
};

} // namespace corvanta
