#include "integration/model/StoreFixtures.h"
#include "support/Program.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A sandbox of App Store apps beside its Library and Trash folders, and a
// loopback App Store and cask index.
class ActionsTest : public AppStoreWorld {
protected:
    QList<QUrl> opened;
    ScriptedPrompts prompts;
    QByteArray caskIndex = "[]";

    QString library() const { return root.filePath(u"Library"_s); }

    void SetUp() override
    {
        AppStoreWorld::SetUp();
        server.on(u"/api/cask.json"_s, [this](const RecordedRequest&) { return Response::json(caskIndex); });
    }

    std::unique_ptr<Store> makeStore(const QString& sandbox = {})
    {
        StoreServices services { net, codeSigning, host, *prefs };
        services.openURL = [this](const QUrl& url) { opened << url; };
        auto store = std::make_unique<Store>(services,
            Launch({ u"--sandbox"_s, sandbox.isEmpty() ? apps() : sandbox, u"--mock"_s,
                server.url().toString() }));
        store->setPrompts(&prompts);
        return store;
    }

    void data(const QString& relative) const
    {
        const QString path = QDir(library()).filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }
};

TEST_F(ActionsTest, SkippingAVersionHoldsOnlyUntilANewerOneAppears)
{
    install(u"Foo"_s);
    storeVersions[u"com.example.foo"_s] = u"2.0"_s;
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* item = store->items().at(0);
    ASSERT_EQ(item->status(), Status::update());

    store->ignoreVersion(item);
    EXPECT_EQ(item->status(), Status::ignored(u"You're skipping version 2.0"_s));
    EXPECT_EQ(prefs->ignoredVersions().value(u"com.example.foo"_s), u"2.0"_s);
    await(store->check(item));
    EXPECT_EQ(item->status(), Status::ignored(u"You're skipping version 2.0"_s));

    storeVersions[u"com.example.foo"_s] = u"2.1"_s;
    await(store->check(item));
    EXPECT_EQ(item->status(), Status::update());

    // Skipping again replaces the earlier version.
    store->ignoreVersion(item);
    EXPECT_EQ(prefs->ignoredVersions(), (QMap<QString, QString> { { u"com.example.foo"_s, u"2.1"_s } }));
}

TEST_F(ActionsTest, IgnoringAnAppCoversEveryCopyAndIsRecordedOnce)
{
    install(u"Foo"_s);
    BundleBuilder(apps() + u"/Utilities"_s, u"Foo"_s)
        .bundleID(u"com.example.foo"_s)
        .appStoreReceipt()
        .create();
    install(u"Bar"_s);
    storeVersions[u"com.example.foo"_s] = u"2.0"_s;
    storeVersions[u"com.example.bar"_s] = u"1.0"_s;
    const auto store = makeStore();
    await(store->refresh(false, false));
    ASSERT_EQ(store->items().size(), 3);

    AppItem* foo = store->item(QDir(apps()).filePath(u"Foo.app"_s));
    store->ignore(foo);
    store->ignore(foo);
    EXPECT_EQ(prefs->ignoredApps(), QStringList { u"com.example.foo"_s });
    for (const AppItem* item : store->items()) {
        const bool isFoo = item->app().bundleID == u"com.example.foo";
        EXPECT_EQ(item->status(), isFoo ? Status::ignored(u"You're ignoring this app"_s) : Status::upToDate())
            << item->id().toStdString();
    }
    EXPECT_EQ(store->count(Filter::ignored), 2);

    // Un-ignoring a checked app decides again from what it knows, without asking anyone.
    server.clearRequests();
    store->unignore(u"com.example.foo"_s);
    EXPECT_EQ(foo->status(), Status::update());
    EXPECT_TRUE(prefs->ignoredApps().isEmpty());
    EXPECT_EQ(server.count(u"/lookup"_s), 0);
}

TEST_F(ActionsTest, UnignoringAnAppIgnoredBeforeItsFirstCheckChecksIt)
{
    install(u"Foo"_s);
    storeVersions[u"com.example.foo"_s] = u"2.0"_s;
    prefs->setIgnoredApps({ u"com.example.foo"_s, u"com.example.other"_s, u"com.example.foo"_s });
    prefs->setIgnoredVersions({ { u"com.example.foo"_s, u"1.5"_s } });
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* item = store->items().at(0);
    ASSERT_EQ(item->status(), Status::ignored(Store::ignoredAtRefresh));
    ASSERT_EQ(server.count(u"/lookup"_s), 0);

    store->unignore(u"com.example.foo"_s);
    EXPECT_EQ(prefs->ignoredApps(), QStringList { u"com.example.other"_s });
    EXPECT_TRUE(prefs->ignoredVersions().isEmpty());
    EXPECT_TRUE(item->checking());
    ASSERT_TRUE(waitUntil([&] { return item->status() == Status::update(); }));
    EXPECT_EQ(server.count(u"/lookup"_s), 1);
}

TEST_F(ActionsTest, AnAppStoreUpdateOpensItsStorePageAndChangesNothingElse)
{
    install(u"Foo"_s);
    storeVersions[u"com.example.foo"_s] = u"2.0"_s;
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* item = store->items().at(0);
    EXPECT_TRUE(store->installable().isEmpty());

    await(store->update(item));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], item->release()->storeURL);
    EXPECT_EQ(item->phase(), InstallPhase::idle());
    EXPECT_EQ(item->status(), Status::update());
    EXPECT_TRUE(item->installLog().isEmpty());

    // Update All has nothing to install, and queues nothing.
    await(store->updateAll());
    EXPECT_FALSE(store->updatingAll());
    EXPECT_EQ(item->phase(), InstallPhase::idle());
}

TEST_F(ActionsTest, FoldersBesideTheSandbox)
{
    // However the folder is spelled, they lie beside it, never inside.
    for (const QString& spelling :
        QStringList { apps(), apps() + u"/"_s, apps() + u"//."_s, apps() + u"/../Applications/"_s }) {
        SCOPED_TRACE(spelling.toStdString());
        const auto spelled = makeStore(spelling);
        EXPECT_EQ(spelled->userLibrary(), library());
        EXPECT_EQ(spelled->trashFolder(), root.filePath(u"Trash"_s));
    }
    const auto store = makeStore();
    // The permission isn't probed for a sandbox, nor are notifications asked about.
    EXPECT_EQ(store->appManagement(), Permissions::State::unknown);
    await(store->refreshPermissions());
    EXPECT_EQ(store->notifications(), Permissions::Notifications::notDetermined);
}

TEST_F(ActionsTest, APackageQuestionIsOpenUntilItsOneAnswer)
{
    const auto store = makeStore();
    store->setPrompts(nullptr);
    const PackageConsent consent { u"Foo"_s, u"Developer ID Installer: Foo (ABCDE12345)"_s, u"ABCDE12345"_s,
        true, false, true };
    int changes = 0;
    QObject::connect(store.get(), &Store::packageConsentChanged, store.get(), [&] { ++changes; });
    auto asking = store->askPackageConsent(consent);
    ASSERT_TRUE(store->packageConsent().has_value());
    EXPECT_EQ(store->packageConsent()->request, consent);
    const auto answer = store->packageConsent()->answer;
    answer(true);
    answer(false); // a second answer is ignored
    EXPECT_FALSE(store->packageConsent().has_value());
    EXPECT_TRUE(await(std::move(asking)));
    EXPECT_EQ(changes, 2);

    // With prompts, they answer.
    store->setPrompts(&prompts);
    prompts.answer = false;
    EXPECT_FALSE(await(store->askPackageConsent(consent)));
    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_EQ(prompts.asked[0], Question::packageConsent(consent));
    EXPECT_FALSE(store->packageConsent().has_value());
}

TEST_F(ActionsTest, LeftoversComeFromTheLibraryAndTheCasksZapPaths)
{
    install(u"Foo"_s);
    BundleBuilder(apps(), u"Helper"_s).bundleID(u"com.example.foo.beta"_s).create();
    caskIndex = R"([{"token":"foo","version":"1.0","artifacts":[{"app":["Foo.app"]},
        {"zap":[{"trash":["~/Library/Application Support/Foo Extras","~/Library/Caches","~/Library/Foo"]}]}]}])";
    data(u"Caches/com.example.foo/cache.db"_s);
    data(u"Application Support/Foo Extras/notes"_s);
    data(u"Foo/top-level"_s); // a folder at the Library's top is never offered
    data(u"LaunchAgents/com.example.foo.beta.plist"_s);
    data(u"LaunchAgents/com.example.foo.helper.plist"_s);
    data(u"Containers/com.example.foo/Data/x"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    const std::vector<Leftover> found = await(store->leftovers(store->items().at(0)->app()));
    QStringList lines;
    for (const Leftover& leftover : found) {
        lines << leftover.url.toLocalFile().mid(library().size() + 1) + (leftover.ambiguous ? u" ?"_s : u""_s)
                + (leftover.size ? u""_s : u" unmeasured"_s);
    }
    EXPECT_EQ(lines,
        (QStringList { u"Application Support/Foo Extras"_s, u"Caches/com.example.foo"_s,
            u"Containers/com.example.foo unmeasured"_s, u"LaunchAgents/com.example.foo.beta.plist ?"_s,
            u"LaunchAgents/com.example.foo.helper.plist"_s }));
}

TEST_F(ActionsTest, AMissingCaskIndexStillFindsTheRest)
{
    install(u"Foo"_s);
    server.on(u"/api/cask.json"_s, Response::text("gone", 500));
    data(u"Caches/com.example.foo/cache.db"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    const std::vector<Leftover> found = await(store->leftovers(store->items().at(0)->app()));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].url.fileName(), u"com.example.foo"_s);
}

TEST_F(ActionsTest, RemovingAnAppWithThreeDataItemsLeavesANotice)
{
    const QString bundle = install(u"Foo"_s);
    install(u"Bar"_s);
    caskIndex = R"([{"token":"foo","version":"1.0","artifacts":[{"app":["Foo.app"]},
        {"zap":[{"trash":["~/Library/Foo Extras/notes"]}]}]}])";
    data(u"Caches/com.example.foo/cache.db"_s);
    data(u"Preferences/com.example.foo.plist"_s);
    data(u"Foo Extras/notes"_s); // Foo's only by its cask's zap paths
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* item = store->item(bundle);
    store->setRemoving(item);
    const std::vector<Leftover> found = await(store->leftovers(item->app()));
    ASSERT_EQ(found.size(), 3u);

    await(store->uninstall(item, found, false));
    EXPECT_EQ(store->notice(), u"Foo and 3 data items moved to the Trash."_s);
    EXPECT_EQ(store->items().size(), 1);
    EXPECT_EQ(store->removing(), nullptr);
    EXPECT_TRUE(prompts.told.isEmpty());
    EXPECT_EQ(QDir(root.filePath(u"Trash"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList { u"Foo.app"_s, u"com.example.foo"_s, u"com.example.foo.plist"_s, u"notes"_s }));

    AppItem* bar = store->items().at(0);
    data(u"Caches/com.example.bar/x"_s);
    const std::vector<Leftover> one = await(store->leftovers(bar->app()));
    await(store->uninstall(bar, one, true));
    EXPECT_EQ(store->notice(), u"Bar and 1 data item deleted permanently."_s);
    EXPECT_TRUE(store->items().isEmpty());
    EXPECT_FALSE(QFile::exists(library() + u"/Caches/com.example.bar"_s));
}

TEST_F(ActionsTest, ARefusedRemovalMovesNothingAndSaysWhy)
{
    const QString bundle = install(u"Foo"_s);
    data(u"Caches/com.example.foo/cache.db"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* item = store->item(bundle);
    std::vector<Leftover> chosen = await(store->leftovers(item->app()));
    chosen.push_back({ QUrl::fromLocalFile(library() + u"/Caches"_s), std::nullopt, false });

    await(store->uninstall(item, chosen, false));
    ASSERT_EQ(prompts.told.size(), 1);
    EXPECT_EQ(prompts.told[0].title, u"Couldn't remove Foo"_s);
    const QString realLibrary = QFileInfo(library()).canonicalFilePath();
    EXPECT_EQ(prompts.told[0].text,
        u"Refusing to remove "_s + library() + u"/Caches: it isn't an app's own folder inside "_s
            + realLibrary + u". Anything already moved is in the Trash and can be put back from there."_s);
    EXPECT_EQ(store->notice(), std::nullopt);
    EXPECT_EQ(store->items().size(), 1);
    EXPECT_TRUE(QFile::exists(bundle));
    EXPECT_TRUE(QFile::exists(library() + u"/Caches/com.example.foo/cache.db"_s));
    EXPECT_FALSE(QFile::exists(root.filePath(u"Trash"_s)));
}

TEST_F(ActionsTest, ARunningAppIsQuitOnlyWhenTheUserSaysSo)
{
    const QString bundle = install(u"Foo"_s);
    const QString executable = bundle + u"/Contents/MacOS/Foo"_s;
    QDir().mkpath(bundle + u"/Contents/MacOS"_s);
    ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, executable));
    QDir().mkpath(library());
    QProcess running;
    running.start(executable, { u"60"_s });
    ASSERT_TRUE(running.waitForStarted());
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* item = store->item(bundle);

    const std::vector<Leftover> noData;
    prompts.answer = false;
    await(store->uninstall(item, noData, false));
    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_EQ(prompts.asked[0], Question::quitToRemove(item->app()));
    EXPECT_EQ(running.state(), QProcess::Running);
    EXPECT_TRUE(QFile::exists(bundle));

    prompts.answer = true;
    await(store->uninstall(item, noData, false));
    EXPECT_EQ(prompts.asked.size(), 2);
    EXPECT_TRUE(running.state() == QProcess::NotRunning || running.waitForFinished(5000));
    EXPECT_EQ(running.exitStatus(), QProcess::CrashExit); // ended by the terminate request
    EXPECT_FALSE(QFile::exists(bundle));
    EXPECT_EQ(store->notice(), u"Foo moved to the Trash."_s);
}

} // namespace

// The same actions from the command line, on the same kind of world.
class ActionsCommand : public ActionsTest {
protected:
    // Runs the program while the server answers; returns what it printed.
    QString run(const QStringList& arguments, int expectedExit = 0)
    {
        const ProgramRun ran = runProgram(
            arguments + QStringList { u"--sandbox"_s, apps(), u"--mock"_s, server.url().toString() },
            programEnvironment(root.path()), 60s);
        EXPECT_EQ(ran.exitCode, expectedExit) << ran.err.toStdString();
        return ran.out + ran.err;
    }
};

TEST_F(ActionsCommand, IgnoreSkipAndUnignore)
{
    install(u"Foo"_s);
    storeVersions[u"com.example.foo"_s] = u"2.0"_s;
    EXPECT_EQ(run({ u"skip"_s, u"foo"_s }), u"Foo \u2014 Ignored\n  You're skipping version 2.0.\n"_s);
    EXPECT_EQ(
        run({ u"ignore"_s, u"com.example.foo"_s }), u"Foo \u2014 Ignored\n  You're ignoring this app.\n"_s);
    EXPECT_EQ(run({ u"unignore"_s, apps() + u"/Foo.app"_s }),
        u"Foo \u2014 Update available\n  1.0 \u2192 2.0 from Mac App Store.\n"_s);
    EXPECT_EQ(run({ u"ignore"_s, u"Nope"_s }, 1), u"No installed app is called \u201cNope\u201d.\n"_s);
    run({ u"ignore"_s }, 2);
}

TEST_F(ActionsCommand, LeftoversAndUninstalling)
{
    const QString foo = install(u"Foo"_s);
    const QString bar = install(u"Bar"_s);
    BundleBuilder(apps(), u"Foo Beta"_s).bundleID(u"com.example.foo.beta"_s).create();
    data(u"Caches/com.example.foo/cache.db"_s);
    data(u"Preferences/com.example.foo.plist"_s);
    data(u"LaunchAgents/com.example.foo.beta.plist"_s);

    const QString listed = run({ u"leftovers"_s, u"Foo"_s });
    EXPECT_TRUE(listed.startsWith(u"Foo left 3 items in "_s + library() + u":\n"_s)) << listed.toStdString();
    EXPECT_TRUE(listed.contains(
        library() + u"/LaunchAgents/com.example.foo.beta.plist  (may belong to another app)\n"_s))
        << listed.toStdString();
    EXPECT_TRUE(listed.contains(u" bytes  "_s + library() + u"/Preferences/com.example.foo.plist\n"_s)
        || listed.contains(u" KB  "_s + library() + u"/Preferences/com.example.foo.plist\n"_s))
        << listed.toStdString();
    const QJsonArray json
        = QJsonDocument::fromJson(run({ u"leftovers"_s, u"Foo"_s, u"--json"_s }).toUtf8()).array();
    ASSERT_EQ(json.size(), 3);
    EXPECT_TRUE(json[1][u"ambiguous"_s].toBool());

    // The certain items go by default; the one that may be another app's stays.
    const QString removed = run({ u"uninstall"_s, u"Foo"_s, u"--yes"_s });
    EXPECT_TRUE(removed.endsWith(u"Foo and 2 data items moved to the Trash.\n"_s)) << removed.toStdString();
    EXPECT_FALSE(QFile::exists(foo));
    EXPECT_TRUE(QFile::exists(library() + u"/LaunchAgents/com.example.foo.beta.plist"_s));
    EXPECT_EQ(QDir(root.filePath(u"Trash"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList { u"Foo.app"_s, u"com.example.foo"_s, u"com.example.foo.plist"_s }));

    // Any other item of the Library is refused before anything moves.
    data(u"Keychains/login.keychain-db"_s);
    const QString keychain = library() + u"/Keychains/login.keychain-db"_s;
    const QString refused = run({ u"uninstall"_s, u"Bar"_s, u"--data"_s, keychain, u"--permanently"_s }, 1);
    EXPECT_TRUE(refused.contains(u"Couldn't remove Bar\nRefusing to remove "_s + keychain
        + u": it isn't one of Bar's leftovers. Anything already moved is in the Trash and can be put back "
          u"from there.\n"_s))
        << refused.toStdString();
    EXPECT_TRUE(QFile::exists(bar));
    EXPECT_TRUE(QFile::exists(keychain));
    EXPECT_TRUE(
        run({ u"leftovers"_s, u"Bar"_s, u"--sandbox"_s, u"/"_s }, 2)
            .startsWith(
                u"--sandbox can't be the root folder: its Library, Trash and Caches go beside it.\n"_s));
    EXPECT_EQ(
        run({ u"uninstall"_s, u"Bar"_s, u"--data"_s, u"none"_s, u"--permanently"_s }).split(u'\n').at(1),
        u"Bar deleted permanently."_s);
    EXPECT_FALSE(QFile::exists(bar));
}
