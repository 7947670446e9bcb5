#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace corvanta::test {
// Set before main by test programs whose tests paint text: the font database
// exists only in a GUI application, which offscreen needs no display.
bool needsGuiApplication = false;
} // namespace corvanta::test

// Every test program owns a QCoreApplication so coroutines, sockets and
// timers have an event loop to run on.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (corvanta::test::needsGuiApplication) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
