#include "GuiWorld.h"
#include "model/SingleInstance.h"
#include "support/QtPrinters.h"
#include "views/MainWindow.h"

#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtConcurrentRun>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

class LaunchTest : public GuiWorldSuite {
protected:
};

TEST_F(LaunchTest, ClosingTheMainWindowNeverQuits)
{
    App app(world->launch(), world->prefs());
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    app.start();
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    // The window opens on its own after a moment.
    ASSERT_TRUE(waitUntil([&] { return app.mainWindow()->isVisible(); }, 5s));
    EXPECT_EQ(app.mainWindow()->windowTitle(), u"Corvanta"_s);

    EXPECT_TRUE(app.mainWindow()->close());
    EXPECT_FALSE(app.mainWindow()->isVisible());
    // No window is left, and the program runs on: nothing it posted asks to quit.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(quitting.count(), 0);

    app.openMainWindow();
    EXPECT_TRUE(app.mainWindow()->isVisible());
    // Let the launch refresh end before the world goes.
    EXPECT_TRUE(waitUntil([&] { return !app.store().scanning(); }, 120s));
}

TEST_F(LaunchTest, ClosingFoldsTheWindowIntoTheTopOfTheScreenUnlessMotionIsReduced)
{
    QStringList arguments = world->launch().arguments();
    arguments.removeAll(u"--reduce-motion"_s);
    App app(Launch(arguments), world->prefs());
    app.openMainWindow();
    MainWindow* window = app.mainWindow();
    EXPECT_FALSE(window->close()); // the fold hides it when it ends
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !window->isVisible(); }));
    // It comes back at its size, not folded.
    app.openMainWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_GE(window->width(), window->minimumWidth());
    EXPECT_GE(window->height(), window->minimumHeight());
}

TEST_F(LaunchTest, AQuietStartShowsNoWindowAndStillChecks)
{
    App app(world->launch({ u"--background"_s }), world->prefs());
    EXPECT_TRUE(app.quietStart());
    app.start();
    EXPECT_TRUE(app.store().scanning());
    EXPECT_FALSE(app.mainWindow()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !app.store().scanning(); }, 120s));
    EXPECT_EQ(app.store().items().size(), qsizetype(world->world.manifest.apps.size()));
    EXPECT_FALSE(app.mainWindow()->isVisible());
}

TEST_F(LaunchTest, TheThemeFollowsThePreferenceUnlessTheLaunchSaysOtherwise)
{
    App app(world->launch(), world->prefs());
    app.prefs().setTheme(Theme::dark);
    EXPECT_TRUE(Look::colors().dark);
    app.prefs().setTheme(Theme::light);
    EXPECT_FALSE(Look::colors().dark);

    const QStringList dark { u"--appearance"_s, u"dark"_s };
    App forced(world->launch(dark), world->prefs(dark));
    forced.prefs().setTheme(Theme::light);
    EXPECT_TRUE(Look::colors().dark);
    EXPECT_EQ(qApp->palette().color(QPalette::Window), Colors::darkColors().window);
}

TEST(SingleInstance, ALaterCopyAsksTheFirstToComeForward)
{
    const QString name = u"corvanta-test-"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
    SingleInstance first(name);
    QSignalSpy activated(&first, &SingleInstance::activated);
    ASSERT_TRUE(first.claim());
    SingleInstance second(name);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(waitUntil([&] { return activated.count() == 1; }));
}

TEST(SingleInstance, ANewerCopyAsksTheVersionAndTakesOver)
{
    const QString name = u"corvanta-test-"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
    auto first = std::make_unique<SingleInstance>(name, u"0.9"_s);
    ASSERT_TRUE(first->claim());
    // The later copy blocks on the socket; this thread's loop lets the first answer.
    SingleInstance second(name, u"1.0"_s);
    QFuture<std::optional<QString>> asking = QtConcurrent::run([&] { return second.runningVersion(); });
    ASSERT_TRUE(waitUntil([&] { return asking.isFinished(); }));
    EXPECT_EQ(asking.result(), u"0.9"_s);

    QObject::connect(first.get(), &SingleInstance::quitRequested, [&] { first.reset(); });
    QFuture<bool> taking = QtConcurrent::run([&] { return second.takeOver(); });
    ASSERT_TRUE(waitUntil([&] { return taking.isFinished(); }));
    EXPECT_TRUE(taking.result());
    EXPECT_EQ(first, nullptr);
    EXPECT_TRUE(second.claim());
}

TEST(SingleInstance, ALeftoverSocketOfADeadCopyDoesNotStopTheNext)
{
    const QString name = u"corvanta-test-"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
    {
        // A copy that died without cleaning up leaves its socket file.
        QLocalServer dead;
        dead.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(dead.listen(name));
        const QString path = dead.fullServerName();
        dead.close();
        QFile(path).open(QIODevice::WriteOnly);
    }
    SingleInstance next(name);
    EXPECT_TRUE(next.claim());
}

TEST(SingleInstance, NamesDifferBySandbox)
{
    EXPECT_EQ(SingleInstance::nameFor(Launch()), SingleInstance::nameFor(Launch({ u"--background"_s })));
    EXPECT_NE(SingleInstance::nameFor(Launch({ u"--sandbox"_s, u"/tmp/a"_s })),
        SingleInstance::nameFor(Launch({ u"--sandbox"_s, u"/tmp/b"_s })));
    EXPECT_NE(
        SingleInstance::nameFor(Launch()), SingleInstance::nameFor(Launch({ u"--sandbox"_s, u"/tmp/a"_s })));
}

// The real program, launched a second time, hands over to the running copy and leaves.
TEST_F(LaunchTest, ASecondLaunchOfTheProgramBringsTheRunningWindowForward)
{
    const Launch launch = world->launch();
    App app(launch, world->prefs());
    SingleInstance running(SingleInstance::nameFor(launch));
    ASSERT_TRUE(running.claim());
    QObject::connect(&running, &SingleInstance::activated, &app, &App::openMainWindow);
    ASSERT_FALSE(app.mainWindow()->isVisible());

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(CORVANTA_BINARY), launch.arguments());
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 30s))
        << second.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return app.mainWindow()->isVisible(); }, 5s));
}

} // namespace
