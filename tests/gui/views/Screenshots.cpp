#include "AccountScene.h"
#include "GuiWorld.h"
#include "app/DemoSecondMac.h"
#include "notch/UpdateIsland.h"
#include "support/ScriptedPermissions.h"
#include "views/AppCard.h"
#include "views/AppList.h"
#include "views/LibraryPane.h"
#include "views/LibraryView.h"
#include "views/MainWindow.h"
#include "views/NotchPanel.h"
#include "views/RemovalPrompt.h"
#include "views/SettingsWindow.h"
#include "views/SetupWindow.h"
#include "views/StoreWatch.h"
#include "views/TourOverlay.h"
#include "views/WelcomeWindow.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Not a test: renders the windows offscreen, in light and dark, for people
// to look at (the README's pictures): the main window over the demo world
// with apps in every status and install phase and one card open, the removal
// prompt and the settings, into the folder $CORVANTA_SCREENSHOTS names.
class Screenshots : public GuiWorldSuite, public testing::WithParamInterface<Appearance> {
protected:
    static QString folder() { return qEnvironmentVariable("CORVANTA_SCREENSHOTS"); }

    static void SetUpTestSuite()
    {
        if (!folder().isEmpty())
            GuiWorldSuite::SetUpTestSuite();
    }

    void SetUp() override
    {
        if (!world)
            GTEST_FAIL() << "set CORVANTA_SCREENSHOTS=DIR: the folder for the pictures";
        QDir().mkpath(folder());
    }

    static QString suffix() { return GetParam() == Appearance::dark ? u"dark"_s : u"light"_s; }

    void save(QWidget* widget, const QString& name)
    {
        GuiWorld::settle();
        const QString path = QDir(folder()).filePath(name + u'-' + suffix() + u".png"_s);
        ASSERT_TRUE(widget->grab().toImage().save(path)) << path.toStdString();
    }

    AppItem* item(App& app, const QString& name)
    {
        for (AppItem* each : app.store().items()) {
            if (each->app().name == name)
                return each;
        }
        return nullptr;
    }
};

TEST_P(Screenshots, MainWindow)
{
    auto app = world->open(GetParam());
    Store& store = app->store();
    // Every install phase on one screen, as an "Update All" run and its aftermath would leave them.
    item(*app, u"Atlas"_s)->setPhase(InstallPhase::verifying());
    item(*app, u"Drift"_s)
        ->setPhase(InstallPhase::failed(world->sample(u"Drift"_s).update->text.value_or(QString())));
    item(*app, u"Ferry"_s)->setPhase(InstallPhase::blocked());
    item(*app, u"Harbor"_s)->setPhase(InstallPhase::downloading(0.62));
    item(*app, u"Kiln"_s)->setPhase(InstallPhase::queued());
    item(*app, u"Lumen"_s)->setPhase(InstallPhase::done());
    store.ignore(item(*app, u"Widgetry"_s));
    store.setExpanded(item(*app, u"Nimbus Notes"_s)->id());
    store.setSelection(item(*app, u"Nimbus Notes"_s)->id());
    store.setNotice(u"Scribble and 2 data items moved to the Trash."_s);

    MainWindow* window = app->mainWindow();
    window->resize(1000, 1040);
    window->show();
    GuiWorld::settle();
    save(window, u"main-window"_s);

    // Further down: the open card with its sources, notes and actions.
    AppList* list = window->list();
    list->ensureWidgetVisible(list->card(item(*app, u"Nimbus Notes"_s)->id()), 0, 0);
    save(window, u"main-window-details"_s);
}

TEST_P(Screenshots, Account)
{
    // The sign-in form behind the Library chip, over the demo world.
    QTemporaryDir folder;
    QFile settings(folder.filePath(u"firebase.json"_s));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(R"({"apiKey":"k","projectId":"p","googleClientID":"a.b.c"})");
    settings.close();
    auto app = world->open(GetParam(), { u"--firebase-config"_s, settings.fileName() });
    app->store().setFilter(Filter::library);
    MainWindow* window = app->mainWindow();
    window->resize(1000, 900);
    window->show();
    save(window, u"sign-in"_s);

    // A new password account: the confirmation tile, and the account in Settings.
    AccountScene scene(AccountScene::password(false));
    scene.store->setConfirmationSentAt(scene.now.addSecs(-18));
    StoreWatch watch(*scene.store);
    QWidget backdrop;
    backdrop.setObjectName(u"Window"_s);
    auto* layout = new QVBoxLayout(&backdrop);
    layout->addWidget(new LibraryPane(watch, &backdrop));
    backdrop.resize(860, 260);
    backdrop.show();
    save(&backdrop, u"confirm-email"_s);
    SettingsWindow preferences(*scene.prefs, scene.store.get());
    preferences.resize(680, preferences.sizeHint().height());
    preferences.show();
    save(&preferences, u"settings-account"_s);
}

TEST_P(Screenshots, FirstRun)
{
    // The guided tour over the demo world, at the card's Update button.
    auto app = world->open(GetParam());
    MainWindow* window = app->mainWindow();
    window->resize(1000, 760);
    window->show();
    app->startTour();
    app->tour()->go(3);
    save(window, u"tour"_s);
    app->tour()->end();

    WelcomeWindow welcome(app->store());
    welcome.show();
    save(&welcome, u"welcome"_s);
    const ScriptedPermissions permissions;
    SetupWindow setup(app->setup(), permissions, SetupStep::login);
    setup.adjustSize();
    setup.show();
    save(&setup, u"setup"_s);
}

TEST_P(Screenshots, RemovalPrompt)
{
    auto app = world->open(GetParam());
    const QDir library(QFileInfo(world->world.layout.applications()).dir().filePath(u"Library"_s));
    const QString id = world->sample(u"Quill"_s).bundleID;
    for (const QString& path :
        QStringList { u"Application Support/Quill/library.db"_s, u"Preferences/"_s + id + u".plist"_s,
            u"Caches/"_s + id + u"/cache.bin"_s, u"LaunchAgents/"_s + id + u".beta.plist"_s }) {
        QDir().mkpath(QFileInfo(library.filePath(path)).path());
        QFile file(library.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(path.size() * 40000, 'x'));
    }
    app->mainWindow()->show();
    app->store().setRemoving(item(*app, u"Quill"_s));
    RemovalPrompt* prompt = app->removalPrompt();
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(waitUntil([&] { return !prompt->loading(); }, 30s));
    prompt->adjustSize();
    save(prompt, u"removal-prompt"_s);
    prompt->reject();
}

TEST_P(Screenshots, Settings)
{
    auto app = world->open(GetParam());
    app->openSettings();
    SettingsWindow* settings = app->settingsWindow();
    ASSERT_NE(settings, nullptr);
    settings->adjustSize();
    save(settings, u"settings"_s);
    settings->close();
}

TEST_P(Screenshots, NotchPanelMidUpdateAll)
{
    // Three updates found in the background, the others set aside.
    const QStringList kept { u"Harbor"_s, u"Nimbus Notes"_s, u"Quill"_s };
    auto prefs = world->prefsKeeping(kept);
    App app(world->launch(), std::move(prefs));
    Look::apply(GetParam());
    await(app.store().refresh(false, false), 120s);
    app.store().island().show(false, false);
    NotchPanel* panel = app.notchPanel();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 5s));
    item(app, u"Harbor"_s)->setPhase(InstallPhase::done());
    item(app, u"Nimbus Notes"_s)->setPhase(InstallPhase::downloading(0.42));
    item(app, u"Quill"_s)->setPhase(InstallPhase::queued());
    GuiWorld::settle();
    save(panel, u"notch-panel"_s);
}

TEST_P(Screenshots, SecondMacLibrary)
{
    // The demo's second act on a world of its own: the second Mac's library after its restore.
    if (const std::optional<QString> reason = SecondMac::unavailable())
        GTEST_SKIP() << reason->toStdString();
    const ServedWorld served;
    QString printed;
    QTextStream out(&printed);
    SecondMac act(out,
        { served.layout, served.server->base(), served.manifest.macOS, served.manifest.appleSilicon,
            QStringLiteral(CORVANTA_BINARY), {} });
    ASSERT_TRUE(await(act.run(), 5min)) << printed.toStdString();
    Look::apply(GetParam());
    StoreWatch watch(act.secondMac());
    QWidget backdrop;
    backdrop.setObjectName(u"Window"_s);
    auto* layout = new QVBoxLayout(&backdrop);
    auto* pane = new LibraryPane(watch, &backdrop);
    layout->addWidget(pane);
    ASSERT_NE(pane->libraryView(), nullptr);
    pane->libraryView()->tab(LibraryTab::all)->click();
    backdrop.resize(1000, 1100);
    backdrop.show();
    save(&backdrop, u"library-second-mac"_s);
}

INSTANTIATE_TEST_SUITE_P(Appearances, Screenshots, testing::Values(Appearance::light, Appearance::dark),
    [](const testing::TestParamInfo<Appearance>& param) {
        return param.param == Appearance::dark ? std::string("Dark") : std::string("Light");
    });

} // namespace
