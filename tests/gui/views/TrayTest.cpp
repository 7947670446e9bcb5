#include "GuiWorld.h"
#include "notch/UpdateIsland.h"
#include "support/QtPrinters.h"
#include "views/NotchPanel.h"
#include "views/TrayIcon.h"
#include "views/text/MenuIcon.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

class TrayTest : public GuiWorldSuite {
protected:
    void SetUp() override
    {
        app = world->open();
        tray = app->trayIcon();
        tray->start();
        GuiWorld::settle();
    }

    std::unique_ptr<App> app;
    TrayIcon* tray = nullptr;
};

TEST_F(TrayTest, TheIconCarriesTheCountAndItsTexts)
{
    const int updates = world->expected(u"update"_s);
    ASSERT_TRUE(tray->exists());
    EXPECT_EQ(tray->shownCount(), updates);
    EXPECT_EQ(tray->toolTip(), u"Corvanta: %1 updates"_s.arg(updates));
    EXPECT_EQ(tray->accessibleLabel(), u"Corvanta, %1 updates"_s.arg(updates));
    // The badge widens the icon past its 18 points.
    EXPECT_GT(tray->image().width() / tray->image().devicePixelRatio(), MenuIcon::iconSize);

    // Ignoring all but one leaves one update.
    const QList<AppItem*> items = app->store().items();
    int left = updates;
    for (AppItem* item : items) {
        if (item->status().kind == Status::Kind::update && left > 1) {
            app->store().ignore(item);
            --left;
        }
    }
    GuiWorld::settle();
    EXPECT_EQ(tray->shownCount(), 1);
    EXPECT_EQ(tray->toolTip(), u"Corvanta: 1 update"_s);
    EXPECT_EQ(tray->accessibleLabel(), u"Corvanta, 1 update"_s);
}

TEST_F(TrayTest, ItFollowsTheMenuBarSetting)
{
    app->prefs().setShowMenuBar(false);
    GuiWorld::settle();
    EXPECT_FALSE(tray->exists());
    EXPECT_EQ(tray->shownCount(), -1);
    app->prefs().setShowMenuBar(true);
    GuiWorld::settle();
    EXPECT_TRUE(tray->exists());
    EXPECT_EQ(tray->shownCount(), world->expected(u"update"_s));
}

TEST_F(TrayTest, TheMenuHasItsFourCommands)
{
    QStringList titles;
    for (QAction* action : tray->menu()->actions())
        titles << (action->isSeparator() ? u"—"_s : action->text());
    EXPECT_EQ(titles,
        (QStringList { u"Open Corvanta"_s, u"Check Now"_s, u"Settings…"_s, u"—"_s, u"Quit Corvanta"_s }));
    EXPECT_EQ(tray->menu()->actions().last()->shortcut(), QKeySequence(u"Ctrl+Q"_s));

    QSignalSpy opened(tray, &TrayIcon::openMainWindow);
    QSignalSpy settings(tray, &TrayIcon::openSettings);
    QSignalSpy quitting(tray, &TrayIcon::quit);
    tray->menu()->actions()[0]->trigger();
    tray->menu()->actions()[2]->trigger();
    tray->menu()->actions()[4]->trigger();
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(settings.count(), 1);
    EXPECT_EQ(quitting.count(), 1);
    // "Check Now" is a refresh the user asked for.
    tray->menu()->actions()[1]->trigger();
    EXPECT_TRUE(app->store().scanning());
    EXPECT_TRUE(waitUntil([&] { return !app->store().scanning(); }, 120s));
}

TEST_F(TrayTest, ALeftClickOpensThePanelOnThePendingUpdatesAndASecondClosesIt)
{
    tray->click(StatusItem::Button::left);
    NotchPanel& panel = *app->notchPanel();
    ASSERT_TRUE(waitUntil([&] { return panel.isVisible(); }, 5s));
    EXPECT_EQ(panel.rows().size(), world->expected(u"update"_s));
    tray->click(StatusItem::Button::left);
    GuiWorld::settle();
    EXPECT_EQ(app->store().island().state(), nullptr);

    // With nothing pending, a click shows the main window instead.
    for (AppItem* item : app->store().items()) {
        if (item->status().kind == Status::Kind::update)
            app->store().ignore(item);
    }
    GuiWorld::settle();
    QSignalSpy opened(tray, &TrayIcon::openMainWindow);
    tray->click(StatusItem::Button::left);
    EXPECT_EQ(opened.count(), 1);
}

} // namespace
