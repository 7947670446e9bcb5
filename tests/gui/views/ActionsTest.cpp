#include "GuiWorld.h"
#include "support/QtPrinters.h"
#include "views/AppCard.h"
#include "views/AppList.h"
#include "views/Banner.h"
#include "views/CardDetails.h"
#include "views/MainWindow.h"
#include "views/QuestionDialog.h"
#include "views/RemovalPrompt.h"
#include "views/RowStateView.h"
#include "views/StatusCardView.h"
#include "views/WindowPrompts.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// What the user does from the window, carried out for real on the demo
// world: installs, refusals and removals change it, so each test gets its own.
class ActionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        world = std::make_unique<GuiWorld>();
        app = world->open();
        app->mainWindow()->show();
        GuiWorld::settle();
    }

    AppCard* card(const QString& name) const
    {
        for (AppItem* item : app->store().items()) {
            if (item->app().name == name)
                return app->mainWindow()->list()->card(item->id());
        }
        return nullptr;
    }

    std::unique_ptr<GuiWorld> world;
    std::unique_ptr<App> app;
};

TEST_F(ActionsTest, TheUpdateButtonInstallsAndTheRowFollows)
{
    AppCard* nimbus = card(u"Nimbus Notes"_s);
    ASSERT_NE(nimbus, nullptr);
    app->store().setExpanded(nimbus->id());
    GuiWorld::settle();
    QPushButton* update = nimbus->rowState()->button();
    ASSERT_EQ(update->text(), u"Update"_s);
    QTest::mouseClick(update, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return nimbus->item()->phase().kind == InstallPhase::Kind::done; }, 60s));
    GuiWorld::settle();
    EXPECT_EQ(nimbus->rowState()->words(), u"Updated"_s);
    EXPECT_EQ(nimbus->details()->statusCard()->title()->text(), u"Updated to 2.4.0"_s);
    // The install log is the world's list of checks that passed.
    const demo::SampleApp& sample = world->sample(u"Nimbus Notes"_s);
    const QString log = nimbus->details()->installLog()->text();
    for (const QString& line : sample.update->log)
        EXPECT_TRUE(log.contains(line)) << line.toStdString();
    // A moment later the app is current; the row says "Updated" until the next refresh.
    EXPECT_TRUE(waitUntil([&] { return nimbus->item()->status().kind == Status::Kind::upToDate; }, 10s));
    GuiWorld::settle();
    EXPECT_EQ(nimbus->rowState()->words(), u"Updated"_s);
    EXPECT_EQ(nimbus->details()->statusCard()->message()->text(),
        u"2.4.0 is current. The newest version Sparkle lists is 2.4.0."_s);
    EXPECT_EQ(nimbus->versionsLabel()->text(), u"2.4.0  ·  Sparkle"_s);
}

TEST_F(ActionsTest, ARefusedUpdateSaysWhyAndLeavesTheAppAlone)
{
    AppCard* tally = card(u"Tally"_s);
    ASSERT_NE(tally, nullptr);
    tally->run(MenuEntry::Command::update);
    EXPECT_TRUE(waitUntil([&] { return tally->item()->phase().kind == InstallPhase::Kind::failed; }, 60s));
    app->store().setExpanded(tally->id());
    GuiWorld::settle();
    EXPECT_EQ(tally->rowState()->words(), u"Failed"_s);
    const demo::SampleApp& sample = world->sample(u"Tally"_s);
    EXPECT_EQ(tally->details()->statusCard()->title()->text(), u"Update failed"_s);
    EXPECT_EQ(tally->details()->statusCard()->message()->text(),
        sample.update->text.value_or(QString()) + u" The installed app wasn't changed."_s);
    // The row still offers the update, to try again.
    const QList<MenuEntry> entries = tally->menuEntries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
        [](const MenuEntry& entry) { return entry.command == MenuEntry::Command::update; }));
}

TEST_F(ActionsTest, TheRemovalPromptOffersTheAppsDataAndRemovesWhatIsTicked)
{
    // Harbor left settings, support files and a launch agent of a sibling product.
    const QDir library(QFileInfo(world->world.layout.applications()).dir().filePath(u"Library"_s));
    const QString id = world->sample(u"Harbor"_s).bundleID;
    const QStringList own { u"Application Support/Harbor/state.json"_s,
        u"Preferences/"_s + id + u".plist"_s };
    const QString sibling = u"LaunchAgents/"_s + id + u".beta.plist"_s;
    for (const QString& path : own + QStringList { sibling }) {
        QDir().mkpath(QFileInfo(library.filePath(path)).path());
        QFile file(library.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }

    AppCard* harbor = card(u"Harbor"_s);
    ASSERT_NE(harbor, nullptr);
    const QString bundle = harbor->id();
    harbor->run(MenuEntry::Command::moveToTrash);
    ASSERT_NE(app->removalPrompt(), nullptr);
    RemovalPrompt* prompt = app->removalPrompt();
    ASSERT_TRUE(waitUntil([&] { return !prompt->loading(); }, 30s));
    GuiWorld::settle();

    const QList<QCheckBox*> boxes = prompt->leftoverBoxes();
    ASSERT_EQ(boxes.size(), 3);
    QStringList ticked;
    QStringList unticked;
    for (QCheckBox* box : boxes)
        (box->isChecked() ? ticked : unticked) << box->text();
    EXPECT_EQ(
        ticked, (QStringList { u"Application Support/Harbor"_s, u"Preferences/"_s + id + u".plist"_s }));
    EXPECT_EQ(unticked, QStringList { sibling });
    const QList<QLabel*> marks = prompt->findChildren<QLabel*>(u"ambiguous"_s);
    ASSERT_EQ(marks.size(), 1);
    EXPECT_EQ(marks.front()->text(), u"May belong to another app"_s);
    EXPECT_EQ(prompt->confirmButton()->text(), u"Move to Trash"_s);
    prompt->permanentBox()->setChecked(true);
    EXPECT_EQ(prompt->confirmButton()->text(), u"Delete"_s);
    prompt->permanentBox()->setChecked(false);

    QTest::mouseClick(prompt->confirmButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return app->store().notice().has_value(); }, 30s));
    GuiWorld::settle();
    EXPECT_EQ(*app->store().notice(), u"Harbor and 2 data items moved to the Trash."_s);
    EXPECT_FALSE(app->mainWindow()->notice()->isHidden());
    EXPECT_EQ(app->mainWindow()->notice()->text(), u"Harbor and 2 data items moved to the Trash."_s);
    EXPECT_FALSE(QFileInfo::exists(bundle));
    EXPECT_TRUE(QFileInfo::exists(library.filePath(sibling)));
    EXPECT_EQ(card(u"Harbor"_s), nullptr);

    // The banner's close button clears the notice.
    QTest::mouseClick(app->mainWindow()->notice()->closeButton(), Qt::LeftButton);
    GuiWorld::settle();
    EXPECT_FALSE(app->store().notice().has_value());
    EXPECT_TRUE(app->mainWindow()->notice()->isHidden());
}

TEST_F(ActionsTest, CancellingTheRemovalPromptKeepsEverything)
{
    AppCard* gauge = card(u"Gauge"_s);
    ASSERT_NE(gauge, nullptr);
    gauge->run(MenuEntry::Command::moveToTrash);
    RemovalPrompt* prompt = app->removalPrompt();
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(waitUntil([&] { return !prompt->loading(); }, 30s));
    EXPECT_EQ(prompt->status()->text(), u"Nothing else of Gauge was found in your Library."_s);
    QTest::mouseClick(prompt->cancelButton(), Qt::LeftButton);
    GuiWorld::settle();
    EXPECT_EQ(app->store().removing(), nullptr);
    EXPECT_TRUE(QFileInfo::exists(gauge->id()));
}

// The model's questions as dialogs: each answered once, by its buttons or by closing it.
TEST(WindowPrompts, QuestionsAreAnsweredByTheirButtons)
{
    struct Row {
        const char* name;
        std::function<void(QuestionDialog&)> act;
        bool expected;
    };
    const Row rows[] {
        { "confirm",
            [](QuestionDialog& dialog) { QTest::mouseClick(dialog.confirmButton(), Qt::LeftButton); }, true },
        { "cancel", [](QuestionDialog& dialog) { QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton); },
            false },
        { "escape", [](QuestionDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); }, false },
        { "closed", [](QuestionDialog& dialog) { dialog.close(); }, false },
    };
    GuiWorld world;
    App app(world.launch(), world.prefs());
    WindowPrompts prompts(app.store(), [] { return nullptr; });
    InstalledApp notes;
    notes.name = u"Notes"_s;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto asking = prompts.ask(Question::quitToUpdate(notes, std::nullopt));
        QuestionDialog* dialog = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* found = qobject_cast<QuestionDialog*>(widget); found && found->isVisible())
                    dialog = found;
            }
            return dialog != nullptr;
        }));
        EXPECT_EQ(dialog->title()->text(), u"Quit Notes to update it?"_s);
        EXPECT_EQ(dialog->confirmButton()->text(), u"Quit and Update"_s);
        row.act(*dialog);
        EXPECT_EQ(await(std::move(asking)), row.expected);
        GuiWorld::settle();
    }
}

TEST(WindowPrompts, ThePackageQuestionListsWhatWasChecked)
{
    GuiWorld world;
    App app(world.launch(), world.prefs());
    const PackageConsent consent { u"Kiln"_s, u"Developer ID Installer: Kiln Works"_s, u"KILN000001"_s, true,
        false, false };
    auto asking = app.store().askPackageConsent(consent);
    QuestionDialog* dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<QuestionDialog*>(widget); found && found->isVisible())
                dialog = found;
        }
        return dialog != nullptr;
    }));
    EXPECT_EQ(dialog->title()->text(), u"Run Kiln's installer?"_s);
    QStringList facts;
    for (const QLabel* fact : dialog->findChildren<QLabel*>(u"fact"_s))
        facts << fact->text();
    EXPECT_EQ(facts,
        (QStringList { u"Signed by Developer ID Installer: Kiln Works (team KILN000001)"_s,
            u"Notarized by Apple"_s, u"Its source published no checksum"_s }));
    QTest::mouseClick(dialog->confirmButton(), Qt::LeftButton);
    EXPECT_TRUE(await(std::move(asking)));
    EXPECT_FALSE(app.store().packageConsent().has_value());
}

} // namespace
