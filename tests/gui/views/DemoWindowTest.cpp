#include "app/DemoWindow.h"

#include "integration/demo/ServedWorld.h"
#include "support/Await.h"
#include "views/FilterChips.h"
#include "views/MainWindow.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

MainWindow* shownMainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

// `corvanta demo` with a display: the window opens on the demo world, checks
// every sample app, and closes when the demo is told to stop, ending as an
// interrupted program so the demo stops its server and removes its world.
TEST(DemoWindow, OpensOnTheWorldAndClosesWhenTheDemoStops)
{
    ServedWorld world;
    QTemporaryDir settings;
    bool stop = false;
    const DemoSession session { world.layout.applications(), world.server->base(), world.layout.anchors(),
        settings.filePath(u"prefs.ini"_s), world.manifest.macOS, world.manifest.appleSilicon,
        [&stop] { return stop; } };
    QCoro::Task<std::optional<int>> opening = openDemoWindow(session);

    const int apps = int(world.manifest.apps.size());
    int updates = 0;
    for (const demo::SampleApp& app : world.manifest.apps)
        updates += app.check.status == u"update" ? 1 : 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const MainWindow* window = shownMainWindow();
            return window && window->chips()->chip(Filter::all)->count() == apps
                && window->chips()->chip(Filter::updates)->count() == updates;
        },
        std::chrono::seconds(120)));

    stop = true;
    EXPECT_EQ(await(std::move(opening)), std::optional<int>(130));
    EXPECT_EQ(shownMainWindow(), nullptr);
}

} // namespace
