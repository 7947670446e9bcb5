#pragma once

#include <chrono>

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace corvanta::test {

// What a run of the built program ended with.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// This process's environment with HOME, the settings and the cache folders
// inside `home`, so a run never reads or writes the user's own, and leak
// checks off (the program's exit isn't what the tests examine).
QProcessEnvironment programEnvironment(const QString& home);

// Runs the built `corvanta` to its end while this thread's event loop keeps
// turning, so the test's loopback servers can answer it. A run that outlasts
// `timeout` fails the test and is killed. `input` is its whole standard input.
ProgramRun runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
    std::chrono::milliseconds timeout = std::chrono::seconds(120), const QByteArray& input = {});

} // namespace corvanta::test
