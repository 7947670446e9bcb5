#pragma once

#include <QMetaType>
#include <QString>

namespace corvanta {

// What an app's row shows during and after an install. Equal when the case
// and its payload are equal.
struct InstallPhase {
    enum class Kind { idle, queued, downloading, verifying, installing, done, failed, blocked };

    Kind kind = Kind::idle;
    double fraction = 0; // downloading: 0 to 1
    QString reason; // failed: the UpdateError text shown on the row

    static InstallPhase idle() { return {}; }
    static InstallPhase queued() { return { Kind::queued }; }
    static InstallPhase downloading(double fraction) { return { Kind::downloading, fraction }; }
    static InstallPhase verifying() { return { Kind::verifying }; }
    static InstallPhase installing() { return { Kind::installing }; }
    static InstallPhase done() { return { Kind::done }; }
    static InstallPhase failed(QString reason) { return { Kind::failed, 0, std::move(reason) }; }
    static InstallPhase blocked() { return { Kind::blocked }; }

    // An install is under way: the row is busy and takes no new action.
    bool isActive() const
    {
        return kind == Kind::queued || kind == Kind::downloading || kind == Kind::verifying
            || kind == Kind::installing;
    }

    friend bool operator==(const InstallPhase&, const InstallPhase&) = default;
};

} // namespace corvanta

Q_DECLARE_METATYPE(corvanta::InstallPhase)
