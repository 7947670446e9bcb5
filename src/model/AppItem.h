#pragma once

#include "discovery/InstalledApp.h"
#include "install/InstallPhase.h"
#include "sources/Release.h"
#include "sources/Status.h"

#include <optional>
#include <vector>

#include <QObject>
#include <QStringList>

namespace corvanta {

// One installed app in the list, identified by its bundle's path. Lives on
// the main thread; every change is announced through changed().
class AppItem : public QObject {
    Q_OBJECT

public:
    explicit AppItem(InstalledApp app, QObject* parent = nullptr);

    // The bundle's path; items are matched across refreshes by it.
    QString id() const { return m_app.url.toLocalFile(); }

    const InstalledApp& app() const { return m_app; }
    const Status& status() const { return m_status; }
    bool checking() const { return m_checking; }
    const std::vector<Attempt>& attempts() const { return m_attempts; }
    const std::optional<Release>& release() const { return m_release; }
    const InstallPhase& phase() const { return m_phase; }
    const QStringList& installLog() const { return m_installLog; }

    void setApp(InstalledApp app);
    void setStatus(Status status);
    void setChecking(bool checking);
    void setAttempts(std::vector<Attempt> attempts);
    void setRelease(std::optional<Release> release);
    void setPhase(InstallPhase phase);
    void setInstallLog(QStringList log);

Q_SIGNALS:
    void changed();

private:
    InstalledApp m_app;
    Status m_status = Status::checking();
    bool m_checking = false;
    std::vector<Attempt> m_attempts;
    std::optional<Release> m_release;
    InstallPhase m_phase;
    QStringList m_installLog;
};

} // namespace corvanta
