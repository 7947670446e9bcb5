#pragma once

#include <memory>

#include <QList>
#include <QString>

namespace corvanta {

// A process of ours or another user's that runs code from a bundle.
struct RunningProcess {
    qint64 pid = 0;
    QString executable; // absolute path of its executable file

    friend bool operator==(const RunningProcess&, const RunningProcess&) = default;
};

// The running applications, found by where their code lives.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Processes whose executable lies inside the bundle at `bundle` (matched
    // by location, with symbolic links resolved). Never throws.
    virtual QList<RunningProcess> running(const QString& bundle) const = 0;

    // Asks the process to quit. Throws SystemError when it can't be signalled.
    virtual void terminate(qint64 pid) = 0;

    static std::unique_ptr<Workspace> create();
};

} // namespace corvanta
