#include "views/NotchPanel.h"

#include "GuiWorld.h"
#include "notch/IslandState.h"
#include "notch/UpdateIsland.h"
#include "support/QtPrinters.h"
#include "views/MainWindow.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The panel over the demo world with three updates left (the others ignored).
class NotchPanelTest : public GuiWorldSuite {
protected:
    void SetUp() override
    {
        auto prefs = world->prefsKeeping(kept);
        app = std::make_unique<App>(world->launch(), std::move(prefs));
        Look::apply(Appearance::dark);
        await(app->store().refresh(false, false), 120s);
        GuiWorld::settle();
    }

    NotchPanel& drop()
    {
        app->store().island().show(false, false);
        NotchPanel& panel = *app->notchPanel();
        EXPECT_TRUE(waitUntil([&] { return panel.isVisible(); }, 5s));
        GuiWorld::settle();
        return panel;
    }

    AppItem* item(const QString& name) const
    {
        for (AppItem* each : app->store().items()) {
            if (each->app().name == name)
                return each;
        }
        return nullptr;
    }

    const QStringList kept { u"Harbor"_s, u"Nimbus Notes"_s, u"Quill"_s };
    std::unique_ptr<App> app;
};

TEST_F(NotchPanelTest, ItDropsWithTheUpdatesAndItsButtons)
{
    NotchPanel& panel = drop();
    EXPECT_EQ(panel.title()->text(), u"3 updates ready"_s);
    EXPECT_EQ(panel.subtitle()->text(), u"Found in the background. Update now, or later from Corvanta."_s);
    ASSERT_EQ(panel.rows().size(), 3);
    QStringList names;
    for (QWidget* row : panel.rows())
        names << row->findChild<QLabel*>(u"rowName"_s)->text();
    EXPECT_EQ(names, kept);
    EXPECT_EQ(panel.rows()[0]->findChild<QLabel*>(u"rowVersions"_s)->text(), u"1.8  →  1.9  ·  Sparkle"_s);
    EXPECT_EQ(panel.updateAllButton()->text(), u"Update All"_s);
    EXPECT_EQ(panel.openButton()->text(), u"Open Corvanta"_s);
    EXPECT_EQ(panel.laterButton()->text(), u"Later"_s);
    EXPECT_EQ(panel.laterButton()->toolTip(), u"Click to put these off; hold for more choices"_s);
    EXPECT_EQ(panel.dismissButton()->accessibleName(), u"Dismiss"_s);
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    // Centred at the top of its screen.
    const QRect screen = app->store().island().state()->screen().frame;
    EXPECT_EQ(panel.geometry().top(), screen.top());
    EXPECT_LE(std::abs(panel.geometry().center().x() - screen.center().x()), 1);

    // A second request changes the rows of the panel that is up, rather than opening another.
    app->store().ignore(item(u"Quill"_s));
    app->store().island().show(false, false);
    GuiWorld::settle();
    EXPECT_EQ(panel.rows().size(), 2);
    EXPECT_EQ(panel.title()->text(), u"2 updates ready"_s);
}

TEST_F(NotchPanelTest, ItFollowsAnUpdateAllRun)
{
    NotchPanel& panel = drop();
    item(u"Harbor"_s)->setPhase(InstallPhase::done());
    item(u"Nimbus Notes"_s)->setPhase(InstallPhase::failed(u"Download failed."_s));
    item(u"Quill"_s)->setPhase(InstallPhase::downloading(0.4));
    GuiWorld::settle();
    EXPECT_EQ(panel.title()->text(), u"1 updated · 1 failed · 1 left"_s);
    QStringList phases;
    for (QWidget* row : panel.rows())
        phases << row->findChild<QLabel*>(u"rowPhase"_s)->text();
    EXPECT_EQ(phases, (QStringList { u"Updated"_s, u"Failed"_s, u"40%"_s }));
    EXPECT_FALSE(panel.updateAllButton()->isEnabled());
    item(u"Quill"_s)->setPhase(InstallPhase::done());
    GuiWorld::settle();
    EXPECT_EQ(
        panel.subtitle()->text(), u"Failed updates left the app untouched. Open Corvanta to see why."_s);
}

TEST_F(NotchPanelTest, OpenCorvantaClosesThePanelIntoTheMainWindow)
{
    NotchPanel& panel = drop();
    ASSERT_FALSE(app->mainWindow()->isVisible());
    QTest::mouseClick(panel.openButton(), Qt::LeftButton);
    GuiWorld::settle();
    EXPECT_EQ(app->store().island().state(), nullptr);
    EXPECT_TRUE(waitUntil([&] { return !panel.isVisible(); }, 3s));
    EXPECT_TRUE(app->mainWindow()->isVisible());
}

TEST_F(NotchPanelTest, LaterPutsOffAndDismissClosesWithoutIt)
{
    {
        NotchPanel& panel = drop();
        QTest::mouseClick(panel.dismissButton(), Qt::LeftButton);
        GuiWorld::settle();
        EXPECT_EQ(app->store().island().state(), nullptr);
        EXPECT_EQ(app->prefs().notchMemory().dismissals, 0);
    }
    NotchPanel& panel = drop();
    // A click, shorter than a hold.
    QTest::mouseClick(panel.laterButton(), Qt::LeftButton);
    GuiWorld::settle();
    EXPECT_EQ(app->store().island().state(), nullptr);
    EXPECT_EQ(app->prefs().notchMemory().dismissals, 1);
    EXPECT_EQ(app->prefs().notchMemory().dismissedKeys.size(), 3);
}

TEST_F(NotchPanelTest, HoldingLaterOffersMoreChoices)
{
    NotchPanel& panel = drop();
    QStringList entries;
    // Once the held button's menu is open, read it and choose "Don't Show from the Notch".
    QTimer look;
    look.setInterval(50);
    QObject::connect(&look, &QTimer::timeout, &panel, [&] {
        QMenu* menu = panel.findChild<QMenu*>(u"holdMenu"_s);
        if (!menu || !menu->isVisible())
            return;
        look.stop();
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator())
                entries << action->text();
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == u"Don't Show from the Notch"_s)
                action->trigger();
        }
        menu->close();
    });
    look.start();
    QTest::mousePress(panel.laterButton(), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !look.isActive(); }, 10s));
    QTest::mouseRelease(panel.laterButton(), Qt::LeftButton);
    GuiWorld::settle();
    EXPECT_EQ(entries,
        (QStringList { u"In 1 Hour"_s, u"Tonight"_s, u"Tomorrow"_s, u"Next Week"_s, u"Skip These Versions"_s,
            u"Don't Show from the Notch"_s }));
    EXPECT_EQ(app->prefs().notchMode(), NotchMode::never);
    EXPECT_EQ(app->store().island().state(), nullptr);
    // Holding is not a click: nothing was put off.
    EXPECT_EQ(app->prefs().notchMemory().dismissals, 0);
}

} // namespace
