#include "integration/model/StoreFixtures.h"
#include "model/UpdateControl.h"
#include "platform/Rename.h"
#include "platform/Workspace.h"
#include "support/Program.h"
#include "support/QtPrinters.h"
#include "support/ScriptedPermissions.h"

#include <cerrno>

#include <QProcess>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A Rename that refuses the swap with an errno until told otherwise.
class RefusingRename : public Rename {
public:
    void exchange(const QString& a, const QString& b) override
    {
        if (refuse)
            throw SystemError(u"Can't exchange %1 and %2 (injected)"_s.arg(a, b), *refuse);
        m_real->exchange(a, b);
    }
    void noReplace(const QString& from, const QString& to) override { m_real->noReplace(from, to); }

    std::optional<int> refuse;

private:
    std::unique_ptr<Rename> m_real = Rename::create();
};

// Apps whose Sparkle feeds on the loopback server offer version 2.0, which
// the real installer swaps in.
class QueueTest : public SparkleWorld {
protected:
    RefusingRename rename;
    ScriptedPermissions permissions;
    ScriptedPrompts prompts;
    std::vector<std::chrono::milliseconds> pauses;
    std::function<void()> onPause;

    QString trash() const { return root.filePath(u"Trash"_s); }

    std::unique_ptr<Store> makeStore(bool sandboxed = true)
    {
        StoreServices services { net, codeSigning, host, *prefs };
        services.rename = &rename;
        services.permissions = &permissions;
        services.sleep = [this](std::chrono::milliseconds duration) {
            pauses.push_back(duration);
            if (onPause)
                onPause();
            return briefly();
        };
        QStringList arguments { u"--mock"_s, server.url().toString() };
        if (sandboxed)
            arguments << u"--sandbox"_s << apps();
        auto store = std::make_unique<Store>(services, Launch(arguments));
        store->setPrompts(&prompts);
        return store;
    }

    static QString version(const AppItem* item) { return item->app().version.value_or(QString()); }

    int downloads() const
    {
        int count = 0;
        for (const RecordedRequest& request : server.requests())
            count += request.path.endsWith(u".zip"_s) ? 1 : 0;
        return count;
    }

    // A process running from inside the bundle: a copy of the shell, which
    // ignores the terminate request when `ignoreTerm`.
    static void startInside(QProcess& process, const QString& bundle, bool ignoreTerm)
    {
        const QString helper = bundle + u"/Contents/MacOS/helper"_s;
        ASSERT_TRUE(QFile::copy(u"/bin/bash"_s, helper));
        // "ready" comes after the trap: a terminate request sent before it would end the shell.
        const QString script
            = (ignoreTerm ? u"trap '' TERM; "_s : QString()) + u"echo ready; while :; do sleep 0.05; done"_s;
        process.start(helper, { u"-c"_s, script });
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return process.canReadLine(); }));
        ASSERT_EQ(process.readLine(), "ready\n");
        ASSERT_TRUE(waitUntil([&] { return !Workspace::create()->running(bundle).isEmpty(); }));
    }
};

TEST_F(QueueTest, UpdateAllInstallsEveryUpdateOneAtATimeInListOrder)
{
    offer(u"Alpha"_s);
    offer(u"Beta"_s);
    offer(u"Gamma"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    ASSERT_EQ(store->installable().size(), 3);

    QStringList events;
    for (AppItem* item : store->items()) {
        QObject::connect(item, &AppItem::changed, item, [&events, item] {
            const QString name = item->app().name;
            const QString kind = RowState::of(*item).words;
            if (events.isEmpty() || events.last() != name + u' ' + kind)
                events << name + u' ' + kind;
        });
    }
    server.clearRequests();
    await(store->updateAll(), 60s);

    EXPECT_EQ(server.maxConcurrent(), 1);
    QStringList order;
    for (const RecordedRequest& request : server.requests())
        order << request.path;
    EXPECT_EQ(order,
        (QStringList { u"/Alpha/Alpha-2.0.zip"_s, u"/Beta/Beta-2.0.zip"_s, u"/Gamma/Gamma-2.0.zip"_s }));
    // All three queued at once, then each one's whole install before the next begins.
    ASSERT_GE(events.size(), 6);
    EXPECT_EQ(events.mid(0, 3), (QStringList { u"Alpha Queued"_s, u"Beta Queued"_s, u"Gamma Queued"_s }));
    QStringList milestones;
    for (const QString& event : std::as_const(events)) {
        if (event.endsWith(u" Downloading"_s) || event.endsWith(u" Updated"_s))
            milestones << event;
    }
    EXPECT_EQ(milestones,
        (QStringList { u"Alpha Downloading"_s, u"Alpha Updated"_s, u"Beta Downloading"_s, u"Beta Updated"_s,
            u"Gamma Downloading"_s, u"Gamma Updated"_s }));

    EXPECT_FALSE(store->updatingAll());
    for (const AppItem* item : store->items()) {
        SCOPED_TRACE(item->app().name.toStdString());
        EXPECT_EQ(version(item), u"2.0"_s);
        EXPECT_EQ(item->phase(), InstallPhase::done());
        EXPECT_EQ(item->status(), Status::upToDate());
        EXPECT_TRUE(item->installLog().contains(
            u"EdDSA signature valid for "_s + item->app().name + u"'s public key"_s))
            << item->installLog().join(u'\n').toStdString();
        EXPECT_EQ(item->installLog().last(), u"Swapped in; the old copy moved to "_s + trash());
    }
    EXPECT_EQ(QDir(trash()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList { u"Alpha.app"_s, u"Beta.app"_s, u"Gamma.app"_s }));
    // The "Updated" moment lasts 1.4 seconds.
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 1400ms), 3);
    EXPECT_TRUE(store->installable().isEmpty());

    // Nothing is left to do.
    server.clearRequests();
    await(store->updateAll());
    EXPECT_EQ(downloads(), 0);
}

TEST_F(QueueTest, AnItemTakenOutOfTheQueueIsSkippedAndASecondRunDoesNothing)
{
    offer(u"Alpha"_s);
    offer(u"Beta"_s);
    offer(u"Gamma"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* alpha = store->items().at(0);
    AppItem* beta = store->items().at(1);
    server.clearRequests();

    auto run = store->updateAll();
    EXPECT_TRUE(store->updatingAll());
    EXPECT_EQ(beta->phase(), InstallPhase::queued());
    // The user takes Beta out of the queue while Alpha downloads.
    ASSERT_TRUE(waitUntil([&] { return alpha->phase().kind == InstallPhase::Kind::downloading; }));
    beta->setPhase(InstallPhase::idle());
    EXPECT_TRUE(store->updateAll().isReady()); // refused at once while the run goes on
    await(std::move(run), 60s);

    EXPECT_EQ(downloads(), 2);
    EXPECT_EQ(server.count(u"/Beta/Beta-2.0.zip"_s), 0);
    EXPECT_EQ(version(alpha), u"2.0"_s);
    EXPECT_EQ(version(beta), u"1.0"_s);
    EXPECT_EQ(beta->phase(), InstallPhase::idle());
    EXPECT_EQ(beta->status(), Status::update());
    EXPECT_EQ(version(store->items().at(2)), u"2.0"_s);
}

TEST_F(QueueTest, APermissionFailureBlocksAndIsRetriedOnceAppManagementIsGranted)
{
    // Not a sandbox: only then is the permission probed.
    const HomeFolder home(root.path());
    QDir().mkpath(root.filePath(u".local/share"_s));
    offer(u"Alpha"_s);
    rename.refuse = EPERM;
    const auto store = makeStore(false);
    EXPECT_EQ(store->appManagement(), Permissions::State::denied);
    EXPECT_EQ(store->userLibrary(), root.filePath(u"Library"_s));
    EXPECT_EQ(store->trashFolder(), std::nullopt);
    await(store->refresh(false, false));
    ASSERT_EQ(store->items().size(), 1);
    AppItem* alpha = store->items().at(0);
    const int probesBefore = permissions.probes;

    await(store->update(alpha), 60s);
    EXPECT_EQ(alpha->phase(), InstallPhase::blocked());
    EXPECT_EQ(alpha->installLog(),
        (QStringList {
            u"Update failed: macOS blocked Corvanta from changing Alpha. Turn on Corvanta in System "
            u"Settings \u203a Privacy & Security \u203a App Management, then try again."_s,
            u"Alpha was left untouched."_s }));
    EXPECT_EQ(alpha->status(), Status::update());
    EXPECT_EQ(version(alpha), u"1.0"_s);
    EXPECT_GT(permissions.probes, probesBefore);

    // Still denied: returning to the program changes nothing.
    await(store->refreshPermissions());
    EXPECT_EQ(alpha->phase(), InstallPhase::blocked());

    // Granted: the next return retries by itself.
    permissions.state = Permissions::State::granted;
    rename.refuse.reset();
    await(store->refreshPermissions(), 60s);
    EXPECT_EQ(store->appManagement(), Permissions::State::granted);
    EXPECT_EQ(alpha->phase(), InstallPhase::done());
    EXPECT_EQ(version(alpha), u"2.0"_s);
    // Outside a sandbox the old copy goes to the user's Trash.
    EXPECT_TRUE(QFileInfo(root.filePath(u".local/share/Trash/files/Alpha.app"_s)).isDir());
    EXPECT_EQ(alpha->installLog().last(), u"Swapped in; the old copy is in the Trash"_s);
    EXPECT_EQ(store->notifications(), Permissions::Notifications::authorized);
}

TEST_F(QueueTest, CancellingTheQuitPromptLeavesTheAppRunningAndIdle)
{
    const QString alphaPath = offer(u"Alpha"_s);
    QProcess app;
    startInside(app, alphaPath, false);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* alpha = store->items().at(0);
    server.clearRequests();

    prompts.answer = false;
    await(store->updateAll());
    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_EQ(prompts.asked[0], Question::quitToUpdate(alpha->app(), alpha->release()));
    EXPECT_EQ(alpha->phase(), InstallPhase::idle());
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(downloads(), 0);
    EXPECT_FALSE(store->updatingAll());
    app.kill();
    app.waitForFinished();
}

TEST_F(QueueTest, AnAppThatQuitsWhenAskedIsUpdatedWithoutWaitingLonger)
{
    const QString alphaPath = offer(u"Alpha"_s);
    QProcess app;
    startInside(app, alphaPath, false);
    const auto store = makeStore();
    await(store->refresh(false, false));
    // The first look's pause lasts until the app has ended, however long that takes.
    onPause = [&] { app.waitForFinished(30'000); };
    prompts.answer = true;
    await(store->update(store->items().at(0)), 60s);
    EXPECT_EQ(version(store->items().at(0)), u"2.0"_s);
    EXPECT_EQ(app.state(), QProcess::NotRunning);
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 250ms), 1);
}

TEST_F(QueueTest, AnAppIgnoringTheTerminateRequestIsUpdatedAfterTheSixtiethLook)
{
    const QString alphaPath = offer(u"Alpha"_s);
    QProcess app;
    startInside(app, alphaPath, true);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* alpha = store->items().at(0);

    // The app still runs at every look; it quits just as the wait runs out,
    // which the store must not have waited for.
    int stillRunning = 0;
    onPause = [&] { stillRunning += app.state() == QProcess::Running ? 1 : 0; };
    QObject::connect(alpha, &AppItem::changed, alpha, [&] {
        if (alpha->phase() == InstallPhase::downloading(0) && app.state() == QProcess::Running) {
            app.kill();
            app.waitForFinished();
        }
    });
    prompts.answer = true;
    await(store->update(alpha), 60s);

    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 250ms), 60);
    EXPECT_EQ(stillRunning, 60) << "the app ignored the request throughout the wait";
    EXPECT_EQ(version(alpha), u"2.0"_s);
    EXPECT_EQ(alpha->phase(), InstallPhase::done());
}

TEST_F(QueueTest, AnAppStillRunningAfterTheWaitFailsWithoutChange)
{
    const QString alphaPath = offer(u"Alpha"_s);
    QProcess app;
    startInside(app, alphaPath, true);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* alpha = store->items().at(0);
    prompts.answer = true;
    await(store->update(alpha), 60s);
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 250ms), 60);
    EXPECT_EQ(alpha->phase(), InstallPhase::failed(u"Alpha is running. Quit it first."_s));
    EXPECT_EQ(alpha->installLog(),
        (QStringList {
            u"Update failed: Alpha is running. Quit it first."_s, u"Alpha was left untouched."_s }));
    EXPECT_EQ(version(alpha), u"1.0"_s);
    EXPECT_EQ(downloads(), 0);
    app.kill();
    app.waitForFinished();
}

TEST_F(QueueTest, AnUpdateAlreadyUnderWayIsNotStartedTwice)
{
    offer(u"Alpha"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* alpha = store->items().at(0);
    server.clearRequests();
    auto first = store->update(alpha);
    ASSERT_EQ(alpha->phase().kind, InstallPhase::Kind::downloading);
    EXPECT_TRUE(store->update(alpha).isReady()); // busy: returns at once
    await(std::move(first), 60s);
    EXPECT_EQ(downloads(), 1);
    // Just updated: another update does nothing either.
    EXPECT_TRUE(store->update(alpha).isReady());
    EXPECT_EQ(downloads(), 1);
    EXPECT_EQ(alpha->phase(), InstallPhase::done());
}

// The store going while its install runs lets the install end on its own;
// an item dropped by a refresh meanwhile is left alone by the install that
// outlives it, which leaves nothing of itself behind.
TEST_F(QueueTest, TheStoreOrAnItemGoingMidInstallHarmsNothing)
{
    offer(u"Alpha"_s);
    offer(u"Beta"_s);
    auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* beta = store->items().at(1);
    auto dropped = store->update(beta);
    ASSERT_EQ(beta->phase().kind, InstallPhase::Kind::downloading);
    ASSERT_TRUE(QDir(apps() + u"/Beta.app"_s).removeRecursively());
    await(store->refresh(false, false));
    await(std::move(dropped), 60s);
    ASSERT_EQ(store->items().size(), 1);
    EXPECT_EQ(store->items().at(0)->app().name, u"Alpha"_s);

    auto orphaned = store->update(store->items().at(0));
    store.reset();
    await(std::move(orphaned), 60s);
    EXPECT_EQ(QDir(apps()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { u"Alpha.app"_s });
    EXPECT_EQ(QDir(trash()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList { u"Alpha.app"_s });
}

} // namespace

// `corvanta update` runs the same queue from the command line.
class UpdateCommand : public QueueTest {
protected:
    QString run(const QStringList& arguments, int expectedExit = 0)
    {
        const ProgramRun ran = runProgram(
            arguments + QStringList { u"--sandbox"_s, apps(), u"--mock"_s, server.url().toString() },
            programEnvironment(root.path()), 120s);
        EXPECT_EQ(ran.exitCode, expectedExit) << ran.err.toStdString();
        return ran.out + ran.err;
    }
};

TEST_F(UpdateCommand, UpdatesEverythingInstallableThenFindsNothingToDo)
{
    offer(u"Alpha"_s);
    offer(u"Beta"_s);
    const QString output = run({ u"update"_s, u"--all"_s });
    EXPECT_TRUE(
        output.startsWith(u"Alpha \u2014 Updated to 2.0\n  2.0 is current. The newest version Sparkle "
                          u"lists is 2.0.\n"_s))
        << output.toStdString();
    EXPECT_TRUE(output.contains(u"Beta \u2014 Updated to 2.0\n"_s)) << output.toStdString();
    EXPECT_TRUE(output.contains(u"  \u00b7 Swapped in; the old copy moved to "_s + trash() + u'\n'))
        << output.toStdString();
    // The order and the Trash are the queue's, proven above; the second run finds nothing.
    EXPECT_EQ(run({ u"update"_s, u"--all"_s }), u"Nothing to update.\n"_s);
}

// The Trash refusing the old copy doesn't undo an update that happened: it
// says so, and where the old copy is.
TEST_F(UpdateCommand, AnOldCopyTheTrashRefusesIsReportedWhereItIs)
{
    offer(u"Alpha"_s);
    QFile blocker(trash()); // a file where the trash folder would go
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString output = run({ u"update"_s, u"alpha"_s });
    EXPECT_TRUE(output.startsWith(u"Alpha \u2014 Updated to 2.0\n"_s)) << output.toStdString();
    const QString kept = apps() + u"/Alpha (old version).app"_s;
    EXPECT_TRUE(output.contains(
        u"  \u00b7 Swapped in, but the old copy couldn't be moved to the Trash (Can't "
        u"create the folder %1). It is at %2; delete it when you no longer need it.\n"_s.arg(trash(), kept)))
        << output.toStdString();
    EXPECT_EQ(QDir(apps()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList { u"Alpha (old version).app"_s, u"Alpha.app"_s }));
}

TEST_F(UpdateCommand, ARunningAppStaysWhenTheAnswerIsNo)
{
    const QString alphaPath = offer(u"Alpha"_s);
    QProcess app;
    startInside(app, alphaPath, false);
    const QString output = run({ u"update"_s, u"alpha"_s, u"--no"_s }, 1);
    // The question's words are PromptsTest's; here, that it is asked and answered.
    EXPECT_TRUE(output.startsWith(u"Quit Alpha to update it?\n"_s)) << output.toStdString();
    EXPECT_TRUE(output.contains(u"\nCancel\nAlpha \u2014 Update available\n"_s)) << output.toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(downloads(), 0);
    app.kill();
    app.waitForFinished();
}
