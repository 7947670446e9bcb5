#include "views/MainWindow.h"

#include "GuiWorld.h"
#include "support/QtPrinters.h"
#include "views/AppCard.h"
#include "views/AppList.h"
#include "views/CardDetails.h"
#include "views/FilterChips.h"
#include "views/HealthRing.h"
#include "views/HeroView.h"
#include "views/RowStateView.h"
#include "views/StatusCardView.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The window over the demo world after one refresh; the world is shared
// and nothing here changes it.
class MainWindowTest : public GuiWorldSuite {
protected:
    void SetUp() override
    {
        app = world->open();
        window = app->mainWindow();
        window->show();
        GuiWorld::settle();
    }

    AppCard* card(const QString& name) const
    {
        for (AppItem* item : app->store().items()) {
            if (item->app().name == name)
                return window->list()->card(item->id());
        }
        return nullptr;
    }

    QStringList shownNames() const
    {
        QStringList names;
        for (const AppCard* shown : window->list()->cards())
            names << shown->nameLabel()->text();
        return names;
    }

    std::unique_ptr<App> app;
    MainWindow* window = nullptr;
};

TEST_F(MainWindowTest, ChipsCountWhatTheChecksFound)
{
    const FilterChips& chips = *window->chips();
    EXPECT_EQ(chips.chip(Filter::all)->count(), int(world->world.manifest.apps.size()));
    EXPECT_EQ(chips.chip(Filter::updates)->count(), world->expected(u"update"_s));
    EXPECT_EQ(chips.chip(Filter::cantVerify)->count(), world->expected(u"cantVerify"_s));
    EXPECT_EQ(chips.chip(Filter::ignored)->count(), 0);
    EXPECT_EQ(chips.chip(Filter::library)->count(), 0);
    EXPECT_TRUE(chips.chip(Filter::all)->isChecked());
    for (Filter filter : allFilters)
        EXPECT_EQ(chips.chip(filter)->text(), title(filter));

    // Ignoring through the card's menu moves the app from one chip to another.
    ASSERT_NE(card(u"Harbor"_s), nullptr);
    card(u"Harbor"_s)->run(MenuEntry::Command::ignore);
    GuiWorld::settle();
    EXPECT_EQ(chips.chip(Filter::ignored)->count(), 1);
    EXPECT_EQ(chips.chip(Filter::updates)->count(), world->expected(u"update"_s) - 1);
    EXPECT_EQ(card(u"Harbor"_s)->rowState()->words(), u"Ignored"_s);

    // Hidden App Store apps leave every count.
    app->prefs().setHideAppStore(true);
    GuiWorld::settle();
    EXPECT_EQ(chips.chip(Filter::all)->count(), int(world->world.manifest.apps.size()) - 1);
    EXPECT_FALSE(shownNames().contains(u"Ledger"_s));
}

// Each kind of release gets the control its row is meant to carry.
TEST_F(MainWindowTest, EachReleaseKindGetsItsControl)
{
    struct Row {
        const char* app;
        const char* words;
        bool button;
    };
    const Row rows[] {
        { "Nimbus Notes", "Update", true }, // Sparkle, signed: installable
        { "Orbit", "Update", true }, // GitHub Releases through its cask
        { "Lumen", "Update", true }, // Homebrew cask with a checksum
        { "Ledger", "App Store", true }, // the store installs it
        { "Beacon", "In-app update", false }, // Electron updates itself: a tag
        { "Scribble", "Download…", true }, // unsigned: its website, for the user to judge
        { "Gauge", "Up to date", false },
        { "Prism", "Can't verify", false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.app);
        const AppCard* shown = card(QString::fromUtf8(row.app));
        ASSERT_NE(shown, nullptr);
        const RowStateView& state = *shown->rowState();
        EXPECT_EQ(state.words(), QString::fromUtf8(row.words));
        EXPECT_EQ(!state.button()->isHidden(), row.button);
        const demo::SampleApp& sample = world->sample(QString::fromUtf8(row.app));
        // What the world says the user is told when the app can't be updated here.
        if (sample.update && sample.update->outcome == demo::ExpectedUpdate::Outcome::notOffered) {
            const QString help
                = row.button ? state.button()->toolTip() : state.tag()->parentWidget()->toolTip();
            EXPECT_EQ(help, sample.update->text.value_or(QString()));
        }
    }
}

TEST_F(MainWindowTest, TheHeroSaysWhereTheMacStands)
{
    const int apps = int(world->world.manifest.apps.size());
    const int current = world->expected(u"upToDate"_s);
    const HeroView& hero = *window->hero();
    EXPECT_EQ(hero.headline()->text(), u"%1 updates ready"_s.arg(world->expected(u"update"_s)));
    EXPECT_TRUE(hero.summary()->text().startsWith(
        u"%1 apps  ·  %2 up to date  ·  %3 can't be verified  ·  checked "_s.arg(apps).arg(current).arg(
            world->expected(u"cantVerify"_s))))
        << hero.summary()->text().toStdString();
    EXPECT_EQ(hero.ring()->label(), u"%1%"_s.arg(current * 100 / apps));
    EXPECT_EQ(hero.checkButton()->text(), u"Check Now"_s);
    EXPECT_TRUE(hero.updateAllButton()->isEnabled());
    EXPECT_TRUE(window->updateAllAction()->isEnabled());

    // While a refresh runs the button shows how far it has come and can't start another.
    auto refreshing = app->store().refresh(false, false);
    GuiWorld::settle();
    EXPECT_FALSE(hero.checkButton()->isEnabled());
    EXPECT_TRUE(
        hero.checkButton()->text().startsWith(u"Checking"_s) || hero.checkButton()->text() == u"Scanning…"_s)
        << hero.checkButton()->text().toStdString();
    await(std::move(refreshing), std::chrono::seconds(120));
    GuiWorld::settle();
    EXPECT_EQ(hero.checkButton()->text(), u"Check Now"_s);
}

TEST_F(MainWindowTest, SearchAndChipsNarrowTheCards)
{
    QStringList casks;
    for (const demo::SampleApp& sample : world->world.manifest.apps) {
        // The cask's release counts, or it is named as what couldn't be compared.
        if (sample.check.source == u"Homebrew cask"_s
            || sample.check.text.value_or(QString()).contains(u"from Homebrew cask"_s))
            casks << sample.name;
    }
    ASSERT_FALSE(casks.isEmpty());
    QTest::keyClicks(window->search(), u"homebrew"_s);
    GuiWorld::settle();
    EXPECT_EQ(app->store().query(), u"homebrew"_s);
    QStringList shown = shownNames();
    shown.sort();
    casks.sort();
    EXPECT_EQ(shown, casks);

    window->search()->clear();
    QTest::mouseClick(window->chips()->chip(Filter::updates), Qt::LeftButton);
    GuiWorld::settle();
    EXPECT_EQ(app->store().filter(), Filter::updates);
    EXPECT_EQ(window->list()->cards().size(), world->expected(u"update"_s));
    for (const AppCard* shownCard : window->list()->cards())
        EXPECT_EQ(shownCard->item()->status().kind, Status::Kind::update)
            << shownCard->nameLabel()->text().toStdString();

    QTest::keyClicks(window->search(), u"no such app"_s);
    GuiWorld::settle();
    EXPECT_TRUE(window->list()->cards().isEmpty());
    EXPECT_FALSE(window->list()->emptyState()->isHidden());
    EXPECT_EQ(window->list()->emptyState()->text(), u"No apps match “no such app”."_s);
    // Escape clears the search.
    QTest::keyClick(window->search(), Qt::Key_Escape);
    GuiWorld::settle();
    EXPECT_EQ(window->list()->cards().size(), world->expected(u"update"_s));
}

TEST_F(MainWindowTest, TheKeyboardMovesTheSelectionAndOpensDetails)
{
    window->activateWindow();
    window->list()->focusFirst();
    GuiWorld::settle();
    const QList<AppCard*> cards = window->list()->cards();
    ASSERT_GE(cards.size(), 3);
    EXPECT_EQ(app->store().selection(), cards[0]->id());

    QTest::keyClick(cards[0], Qt::Key_Down);
    GuiWorld::settle();
    EXPECT_EQ(app->store().selection(), cards[1]->id());
    QTest::keyClick(cards[1], Qt::Key_Return);
    GuiWorld::settle();
    EXPECT_EQ(app->store().expanded(), cards[1]->id());
    ASSERT_NE(cards[1]->details(), nullptr);
    EXPECT_FALSE(cards[1]->details()->isHidden());

    // The details say what the world says about that app.
    const demo::SampleApp& sample = world->sample(cards[1]->nameLabel()->text());
    const StatusCardView& status = *cards[1]->details()->statusCard();
    if (sample.check.status == u"update"_s) {
        EXPECT_EQ(status.title()->text(), u"Update available"_s);
        EXPECT_EQ(status.message()->text(),
            sample.version.value_or(QString()) + u" → "_s + sample.check.release.value_or(QString())
                + u" from "_s + sample.check.source.value_or(QString()) + u"."_s);
    }
    EXPECT_FALSE(cards[1]->details()->attempts()->findChildren<QWidget*>(u"attempt"_s).isEmpty());

    // Left closes it again; Up goes back.
    QTest::keyClick(cards[1], Qt::Key_Left);
    GuiWorld::settle();
    EXPECT_FALSE(app->store().expanded().has_value());
    QTest::keyClick(cards[1], Qt::Key_Up);
    GuiWorld::settle();
    EXPECT_EQ(app->store().selection(), cards[0]->id());
}

TEST_F(MainWindowTest, CantVerifyDetailsGiveTheReason)
{
    for (const demo::SampleApp& sample : world->world.manifest.apps) {
        if (sample.check.status != u"cantVerify"_s)
            continue;
        SCOPED_TRACE(sample.name.toStdString());
        AppCard* shown = card(sample.name);
        ASSERT_NE(shown, nullptr);
        app->store().setExpanded(shown->id());
        GuiWorld::settle();
        ASSERT_NE(shown->details(), nullptr);
        EXPECT_EQ(shown->details()->statusCard()->title()->text(), u"Can't verify"_s);
        EXPECT_EQ(shown->details()->statusCard()->message()->text(),
            u"Corvanta couldn't confirm whether this app is current. "_s
                + sample.check.text.value_or(QString()) + u"."_s);
    }
}

TEST_F(MainWindowTest, TheMenusCarryTheAppsCommands)
{
    EXPECT_EQ(window->checkAgainAction()->text(), u"Check Again"_s);
    EXPECT_EQ(window->checkAgainAction()->shortcut(), QKeySequence(u"Ctrl+R"_s));
    EXPECT_EQ(window->updateAllAction()->text(), u"Update All"_s);
    EXPECT_EQ(window->updateAllAction()->shortcut(), QKeySequence(u"Ctrl+Shift+U"_s));
    EXPECT_EQ(window->tourAction()->text(), u"Take the Tour"_s);
    EXPECT_EQ(window->welcomeAction()->text(), u"Show Welcome Again"_s);
    EXPECT_EQ(window->feedbackAction()->text(), u"Review / Report…"_s);
    EXPECT_EQ(window->windowTitle(), u"Corvanta"_s);
    EXPECT_EQ(window->search()->placeholderText(), u"Search apps by name, bundle ID or source"_s);

    // Check Again starts a foreground refresh.
    window->checkAgainAction()->trigger();
    EXPECT_TRUE(app->store().scanning());
    EXPECT_TRUE(waitUntil([&] { return !app->store().scanning(); }, std::chrono::seconds(120)));
}

} // namespace
