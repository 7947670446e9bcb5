#include "AccountScene.h"
#include "GuiWorld.h"
#include "model/Setup.h"
#include "platform/Ditto.h"
#include "platform/LoginItem.h"
#include "platform/Trash.h"
#include "support/QtPrinters.h"
#include "support/ScriptedPermissions.h"
#include "views/MainWindow.h"
#include "views/SetupWindow.h"
#include "views/TourOverlay.h"
#include "views/WelcomeWindow.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

TEST(SetupWindow, ItsButtonsWalkTheSteps)
{
    QTemporaryDir home;
    QProcessEnvironment environment;
    environment.insert(u"HOME"_s, home.path());
    QSettings defaults(home.filePath(u"defaults.ini"_s), QSettings::IniFormat);
    const auto login = LoginItem::create(u"/opt/Corvanta/bin/corvanta"_s, environment);
    const auto trash = Trash::create();
    const auto ditto = Ditto::create();
    corvanta::Setup setup({ .defaults = defaults,
        .login = *login,
        .trash = *trash,
        .ditto = *ditto,
        .bundle = home.filePath(u"build"_s),
        .home = home.path() });
    ScriptedPermissions permissions;
    SetupWindow window(setup, permissions, SetupStep::move);
    EXPECT_EQ(window.cards()->currentIndex(), int(SetupStep::move));

    window.button(u"Keep It Here"_s)->click();
    EXPECT_TRUE(setup.skipMove());
    EXPECT_EQ(window.cards()->currentIndex(), int(SetupStep::login));
    window.button(u"Open at Login"_s)->click();
    EXPECT_TRUE(login->enabled());
    EXPECT_EQ(window.cards()->currentIndex(), int(SetupStep::done));
    EXPECT_EQ(setup.needs(), std::nullopt);
}

TEST(WelcomeWindow, PagesOfferSignInOnlyWithAccountsAndFinishOnboarded)
{
    for (const bool configured : { true, false }) {
        SCOPED_TRACE(configured ? "with account settings" : "without");
        AccountScene scene(std::nullopt, configured);
        scene.prefs->setOnboarded(false);
        WelcomeWindow welcome(*scene.store);
        EXPECT_EQ(welcome.pages()->count(), configured ? 4 : 3);
        EXPECT_EQ(welcome.signInButton() != nullptr, configured);
        EXPECT_FALSE(welcome.backButton()->isVisibleTo(&welcome));
        for (int page = 1; page < welcome.pages()->count(); ++page)
            QTest::keyClick(&welcome, Qt::Key_Right);
        EXPECT_EQ(welcome.nextButton()->text(), u"Get Started"_s);
        EXPECT_TRUE(welcome.tourButton()->isVisibleTo(&welcome));
        EXPECT_FALSE(scene.prefs->onboarded());
        welcome.nextButton()->click();
        EXPECT_TRUE(scene.prefs->onboarded());
    }
}

class FirstRun : public GuiWorldSuite { };

TEST_F(FirstRun, TheTourMarksTheWindowAndEndsTaken)
{
    auto app = world->open();
    app->startTour();
    TourOverlay* tour = app->tour();
    ASSERT_NE(tour, nullptr);
    QStringList titles;
    for (const TourOverlay::Mark& mark : tour->marks())
        titles << mark.title;
    EXPECT_EQ(titles,
        QStringList({ u"Your apps at a glance"_s, u"Narrow the list"_s, u"One card per app"_s,
            u"Update in one click"_s, u"Corvanta lives in the menu bar"_s }));
    EXPECT_EQ(app->store().tourStep(), 0);
    QTest::keyClick(tour, Qt::Key_Right);
    QTest::keyClick(tour, Qt::Key_Right);
    QTest::keyClick(tour, Qt::Key_Left);
    EXPECT_EQ(tour->step(), 1);
    EXPECT_EQ(tour->titleLabel()->text(), u"Narrow the list"_s);
    EXPECT_EQ(app->store().tourStep(), 1);
    for (int step = 1; step < tour->marks().size(); ++step)
        tour->nextButton()->click();
    EXPECT_TRUE(app->prefs().toured());
    EXPECT_EQ(app->store().tourStep(), std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return app->tour() == nullptr; }));

    // Escape ends it at once.
    app->startTour();
    QTest::keyClick(app->tour(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return app->tour() == nullptr; }));
}

TEST_F(FirstRun, AFirstLaunchOpensTheWelcome)
{
    world->firstRun = true;
    App app(world->launch(), world->prefs());
    world->firstRun = false;
    app.start();
    ASSERT_TRUE(waitUntil([&] { return app.welcomeWindow() && app.welcomeWindow()->isVisible(); }));
    EXPECT_EQ(app.welcomeWindow()->windowTitle(), u"Welcome to Corvanta"_s);
    EXPECT_TRUE(waitUntil([&] { return !app.store().scanning(); }, 120s));
}

} // namespace
