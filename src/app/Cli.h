#pragma once

#include <QStringList>
#include <QTextStream>

#include <QCoro/QCoroTask>

namespace corvanta {

// The headless front end: `corvanta <command> …`. Each command writes a
// readable table, or with --json one JSON document, and returns an exit code.
class Cli {
public:
    Cli(QTextStream& out, QTextStream& err)
        : m_out(out)
        , m_err(err)
    {
    }

    // Runs the command named by the first argument; unknown commands print
    // the usage and give 2.
    QCoro::Task<int> run(QStringList arguments);

    static constexpr int usageError = 2;

private:
    int usage(const QString& problem);
    int inspect(const QStringList& arguments);
    int inspectVersion(const QStringList& arguments, bool json);

    QTextStream& m_out;
    QTextStream& m_err;
};

} // namespace corvanta
