#pragma once

#include "app/Cli.h"

#include <optional>

#include <QString>

namespace corvanta {

struct DemoRunOptions {
    std::optional<QString> folder; // where the world goes, kept afterwards; none: a temporary folder
    bool keep = false; // keep the temporary folder too
    bool headless = false; // the terminal even when a display is present
    // Then the second act: a second, empty Mac restores the apps from the
    // cloud library (DemoSecondMac.h), when the Firebase emulators are installed.
    bool secondMac = false;
};

// `corvanta demo`: makes a world in a folder, serves it on a free loopback
// port, and runs Corvanta on it with the demo authority as the only trust
// anchor and the Mac the world is made for. With a display, the window
// (openDemoWindow); otherwise headless: a check with the status of every
// app, "Update All" with each app's phases and install log or refusal, a
// second check and a summary. With `secondMac`, the second act follows on
// the same world and server. The server and the emulators stop and a
// temporary world is removed when it ends, also after Ctrl-C (exit code 130).
QCoro::Task<int> runDemo(CliContext& context, DemoRunOptions options);

} // namespace corvanta
