#include "app/DemoWindow.h"

#ifdef CORVANTA_GUI
#include "model/Prefs.h"
#include "model/Store.h"
#include "views/App.h"
#include "views/LibraryPane.h"
#include "views/Look.h"
#include "views/StoreWatch.h"

#include <QApplication>
#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>
#endif

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

#ifdef CORVANTA_GUI
QCoro::Task<std::optional<int>> openDemoWindow(const DemoSession& session)
{
    // Commands other than a windowed demo run without widgets.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        co_return std::nullopt;

    // The Mac the world is made for, for this process only: the window's host
    // information reads it, and architecture checks follow it.
    qputenv("CORVANTA_MACOS_VERSION", session.macOS.text().toUtf8());
    qputenv("CORVANTA_APPLE_SILICON", session.appleSilicon ? "1" : "0");
    const Launch launch({ u"--sandbox"_s, session.sandbox, u"--mock"_s, session.mock.toString(),
        u"--anchors"_s, session.anchors });
    auto prefs = std::make_unique<Prefs>(
        std::make_unique<QSettings>(session.preferences, QSettings::IniFormat), launch);
    App app(launch, std::move(prefs));
    // Quitting ends the demo, which then stops its server and cleans up.
    QApplication::setQuitOnLastWindowClosed(false);
    app.setQuitsApplication(false);
    auto quitting = qCoro(&app, &App::quitRequested);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [&app, &session] {
        if (session.stopRequested && session.stopRequested())
            app.quit();
    });
    stopWatch.start(100ms);
    app.start();
    co_await std::move(quitting);
    stopWatch.stop();
    // Let Quit's signal finish before its sender goes.
    auto unwinding = QCoro::sleepFor(0ms);
    co_await std::move(unwinding);
    // Ctrl-C ends the demo as an interrupted program, as it does in the terminal.
    co_return session.stopRequested&& session.stopRequested() ? 130 : 0;
}

QCoro::Task<std::optional<int>> openLibraryWindow(Store& store, std::function<bool()> stopRequested)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        co_return std::nullopt;
    Look::apply(store.prefs().appearance());
    StoreWatch watch(store);
    // Deleted when closed; the watch outlives it.
    auto* window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(u"Window"_s);
    window->setWindowTitle(u"Corvanta \u2014 Library on the second Mac"_s);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(new LibraryPane(watch, window));
    window->resize(1000, 820);
    auto closing = qCoro(window, &QObject::destroyed);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, window, [window, stopRequested] {
        if (stopRequested && stopRequested())
            window->close();
    });
    stopWatch.start(100ms);
    window->show();
    co_await std::move(closing);
    stopWatch.stop();
    co_return stopRequested&& stopRequested() ? 130 : 0;
}
#else
QCoro::Task<std::optional<int>> openDemoWindow(const DemoSession&)
{
    co_return std::nullopt; // this build has no window
}

QCoro::Task<std::optional<int>> openLibraryWindow(Store&, std::function<bool()>)
{
    co_return std::nullopt;
}
#endif

} // namespace corvanta
