#pragma once

#include "model/Launch.h"

#include <QCoro/QCoroTask>
#include <QStringList>
#include <QTextStream>

namespace corvanta {

// What every command gets: its arguments (after the command words), the
// output streams, and whether --json was asked for.
struct CliContext {
    QStringList arguments;
    QTextStream& out;
    QTextStream& err;
    bool json = false;

    Launch launch() const { return Launch(arguments); }
    // Prints `problem` and the usage to stderr; returns the usage exit code.
    int usage(const QString& problem) const;
};

// The headless front end: `corvanta <command> …`. Each command writes a
// readable table, or with --json one JSON document, and returns an exit code.
class Cli {
public:
    Cli(QTextStream& out, QTextStream& err)
        : m_out(out)
        , m_err(err)
    {
    }

    // Runs the command named by the leading arguments; unknown commands print
    // the usage and give 2.
    QCoro::Task<int> run(QStringList arguments);

    static constexpr int usageError = 2;
    static QString usageText();

private:
    QTextStream& m_out;
    QTextStream& m_err;
};

} // namespace corvanta
