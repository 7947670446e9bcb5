#pragma once

#include "platform/HostInfo.h"

#include <functional>
#include <optional>

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

namespace corvanta {

class Store;

// A demo world running for `corvanta demo`, as the main window opens on it:
// the launch arguments --sandbox `sandbox` --mock `mock`, code signatures
// judged against the demo authority in `anchors`, on the Mac `macOS` and
// `appleSilicon` describe (pass the matching CPU type to PortableCodeSigning
// and a FixedHostInfo to the store). The server keeps serving until the
// returned task ends.
struct DemoSession {
    QString sandbox;
    QUrl mock;
    QString anchors;
    QString preferences; // an INI file for the run's settings
    SystemVersion macOS;
    bool appleSilicon = true;
    // Whether Ctrl-C asked the demo to stop; the window then quits.
    std::function<bool()> stopRequested;
};

// HOOK for the window: opens the main window on the demo world and finishes
// with the program's exit code when the user quits. None when this build has
// no window, which makes the demo run headless in the terminal. `corvanta
// demo` calls it only when a display is present and --headless isn't given.
// The window's builder fills it in (DemoWindow.cpp), together with a
// QApplication in main() for a demo with a display.
QCoro::Task<std::optional<int>> openDemoWindow(const DemoSession& session);

// HOOK for the window of the demo's second act: the Library view of `store`
// (the second Mac, signed in) in a window of its own, finishing with the exit
// code when the user closes it or Ctrl-C asks to stop. None when this build
// or this run has no window.
QCoro::Task<std::optional<int>> openLibraryWindow(Store& store, std::function<bool()> stopRequested);

} // namespace corvanta
