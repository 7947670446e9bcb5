#include "AccountScene.h"
#include "model/AccountForm.h"
#include "model/LibraryItem.h"
#include "support/QtPrinters.h"
#include "views/AccountSection.h"
#include "views/AuthView.h"
#include "views/ConfirmEmailTile.h"
#include "views/LibraryPane.h"
#include "views/LibraryView.h"
#include "views/MainWindow.h"
#include "views/NudgeCard.h"
#include "views/SettingsWindow.h"
#include "views/StoreWatch.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

void settle()
{
    for (int round = 0; round < 3; ++round)
        QApplication::processEvents();
}

TEST(AuthView, ModesValidationAndWhatItSubmits)
{
    AccountScene scene(std::nullopt);
    StoreWatch watch(*scene.store);
    LibraryPane pane(watch);
    AuthView* form = pane.authView();
    ASSERT_NE(form, nullptr);
    const struct {
        const char* name;
        bool creating;
        QString person, email, password;
        QString hint;
        bool canSubmit;
    } rows[] = {
        { "sign-in, good", false, {}, u"ada@example.com"_s, u"secret"_s, u"Password looks good"_s, true },
        { "sign-in, short password", false, {}, u"ada@example.com"_s, u"short"_s, u"At least 6 characters"_s,
            false },
        { "sign-in, no domain dot", false, {}, u"ada@example"_s, u"secret"_s, u"Password looks good"_s,
            false },
        { "sign-in, space in address", false, {}, u"a da@example.com"_s, u"secret"_s,
            u"Password looks good"_s, false },
        { "create, blank name", true, u"  "_s, u"ada@example.com"_s, u"secret"_s, u"Password looks good"_s,
            false },
        { "create, named", true, u"Ada"_s, u"ada@example.com"_s, u"secret"_s, u"Password looks good"_s,
            true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scene.store->setCreatingAccount(row.creating);
        form->nameField()->setText(row.person);
        form->emailField()->setText(row.email);
        form->passwordField()->setText(row.password);
        EXPECT_EQ(form->title()->text(), row.creating ? u"Create your account"_s : u"Sign in to Corvanta"_s);
        EXPECT_EQ(form->googleButton()->text(),
            row.creating ? u"Sign up with Google"_s : u"Continue with Google"_s);
        EXPECT_EQ(form->nameField()->isVisibleTo(form), row.creating);
        EXPECT_EQ(form->forgotButton()->isVisibleTo(form), !row.creating);
        EXPECT_EQ(form->passwordHint()->text(), row.hint);
        EXPECT_EQ(form->submitButton()->isEnabled(), row.canSubmit);
    }

    // A reset needs an address first; nothing is sent without one.
    scene.store->setCreatingAccount(false);
    form->emailField()->setText(u"ada"_s);
    form->forgotButton()->click();
    EXPECT_EQ(form->message()->text(), u"Enter your email above, then choose Forgot password."_s);
    EXPECT_TRUE(form->message()->isVisibleTo(form));
}

TEST(LibraryPane, SaysWhatTheBuildAndTheSessionAllow)
{
    {
        AccountScene scene(std::nullopt, false);
        StoreWatch watch(*scene.store);
        LibraryPane pane(watch);
        EXPECT_EQ(pane.authView(), nullptr);
        EXPECT_EQ(pane.title()->text(), u"Library isn't set up in this build"_s);
        EXPECT_EQ(pane.text()->text(), u"This copy of Corvanta was built without its Firebase settings."_s);
    }
    const struct {
        const char* name;
        Session session;
        bool tile;
    } rows[] = {
        { "unconfirmed password account", AccountScene::password(false), true },
        { "confirmation unknown", AccountScene::password(std::nullopt), true },
        { "confirmed", AccountScene::password(true), false },
        { "Google",
            [] {
                Session google = AccountScene::password(true);
                google.provider = Auth::GoogleProviderID;
                return google;
            }(),
            false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        AccountScene scene(row.session);
        StoreWatch watch(*scene.store);
        LibraryPane pane(watch);
        EXPECT_EQ(pane.authView(), nullptr);
        ASSERT_NE(pane.libraryView(), nullptr);
        EXPECT_EQ(pane.libraryView()->emptyTitle()->text(), u"Your library is empty"_s);
        EXPECT_FALSE(pane.libraryView()->restoreButton()->isEnabled());
        EXPECT_EQ(pane.confirmTile()->isVisibleTo(&pane), row.tile);
    }
}

TEST(LibraryView, RemovalAsksInTheRightNumberAndSaysWhoAddsItBack)
{
    const auto app = [](const QString& name, bool installed) {
        LibraryApp record { .id = u"com.example."_s + name, .name = name };
        record.devices[u"d1"_s] = LibraryApp::OnDevice { .version = u"1.0"_s, .installed = installed };
        return record;
    };
    LibraryItem kept(app(u"Atlas"_s, true));
    LibraryItem gone(app(u"Beacon"_s, false));
    EXPECT_EQ(LibraryView::removalTitle({ &gone }), u"Remove Beacon from your Library?"_s);
    EXPECT_EQ(LibraryView::removalText({ &gone }),
        u"Beacon won't be listed for your other Macs any more, so you can't reinstall Beacon from here. "
        u"Nothing "
        u"is uninstalled."_s);
    EXPECT_TRUE(LibraryView::removalText({ &kept }).endsWith(
        u" It's still on one of your Macs, so that Mac adds it back the next time it syncs."_s));
    EXPECT_EQ(LibraryView::removalTitle({ &kept, &gone }), u"Remove 2 apps from your Library?"_s);
}

TEST(ConfirmEmailTile, CountsDownTheResendMinute)
{
    AccountScene scene(AccountScene::password(false));
    ConfirmEmailTile tile(*scene.store);
    EXPECT_EQ(tile.text()->text(),
        u"We sent a link to ada@example.com. Confirming it makes sure your backup belongs to an inbox you "
        u"own."_s);
    EXPECT_EQ(tile.resendButton()->text(), u"Resend"_s);
    EXPECT_TRUE(tile.resendButton()->isEnabled());

    scene.store->setConfirmationSentAt(scene.now);
    scene.now = scene.now.addMSecs(29'800);
    tile.sync();
    EXPECT_EQ(tile.resendButton()->text(), u"Resend in 31s"_s);
    EXPECT_FALSE(tile.resendButton()->isEnabled());
    scene.now = scene.now.addSecs(31);
    tile.sync();
    EXPECT_EQ(tile.resendButton()->text(), u"Resend"_s);
}

TEST(MainWindow, NudgeLeadsToTheFormAndSettingsSignOutBringsItBack)
{
    AccountScene scene(std::nullopt);
    StoreWatch watch(*scene.store);
    MainWindow window(watch);
    settle();
    EXPECT_TRUE(window.nudge()->isVisibleTo(&window));
    window.nudge()->notNowButton()->click();
    settle();
    EXPECT_FALSE(window.nudge()->isVisibleTo(&window));
    EXPECT_EQ(scene.prefs->nudgeDismissals(), 1);
    EXPECT_EQ(scene.prefs->nudgeDismissed(), scene.now);

    // A week and a second later it asks again; "Sign In" opens the Library's form.
    scene.now = scene.now.addSecs(604'801);
    window.nudge()->sync();
    ASSERT_TRUE(window.nudge()->isVisibleTo(&window));
    window.nudge()->signInButton()->click();
    settle();
    EXPECT_EQ(scene.store->filter(), Filter::library);
    EXPECT_TRUE(window.library()->isVisibleTo(&window));
    EXPECT_FALSE(window.nudge()->isVisibleTo(&window));
    EXPECT_NE(window.library()->authView(), nullptr);
}

TEST(AccountSection, ShowsTheAccountAndSignsOut)
{
    EXPECT_EQ(SettingsWindow(*AccountScene(std::nullopt, false).prefs, nullptr).account(), nullptr);

    AccountScene scene(AccountScene::password(true));
    SettingsWindow settings(*scene.prefs, scene.store.get());
    AccountSection* account = settings.account();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->nameLabel()->text(), u"Ada"_s);
    EXPECT_EQ(account->emailLabel()->text(), u"ada@example.com"_s);
    EXPECT_FALSE(account->signInButton()->isVisibleTo(account));

    account->signOutButton()->click();
    EXPECT_EQ(scene.store->session(), std::nullopt);
    EXPECT_TRUE(scene.secrets.items.isEmpty());
    EXPECT_EQ(account->nameLabel()->text(), u"Not signed in"_s);
    EXPECT_TRUE(account->signInButton()->isVisibleTo(account));
    EXPECT_FALSE(account->deleteButton()->isVisibleTo(account));
}

} // namespace
