#include "discovery/InstalledApp.h"
#include "install/Updater.h"
#include "platform/DiskImages.h"
#include "sources/Net.h"
#include "support/InstallFixtures.h"
#include "support/Unsigned.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::Snapshot;

// Fails the move with number `failAt` (counting from 1) and forwards every other one.
class CountingTrash : public Trash {
public:
    void moveToTrash(const QString& path) override { step(path, {}); }
    void moveTo(const QString& path, const QString& destination) override { step(path, destination); }

    int failAt = 0;
    int failWith = EIO;
    QStringList moved;

private:
    void step(const QString& path, const QString& destination)
    {
        if (int(moved.size()) + 1 == failAt)
            throw SystemError(u"Can't move %1 (injected)"_s.arg(path), failWith);
        if (destination.isEmpty())
            m_real->moveToTrash(path);
        else
            m_real->moveTo(path, destination);
        moved << path;
    }
    std::unique_ptr<Trash> m_real = Trash::create();
};

// An installed Foo.app, a Library with some of its data, and the Trash
// folder they go to.
class UninstallTest : public testing::Test {
protected:
    test::InstallSandbox sandbox;
    Net net;
    std::unique_ptr<Ditto> ditto = Ditto::create();
    std::unique_ptr<Rename> rename = Rename::create();
    std::unique_ptr<Workspace> workspace = Workspace::create();
    std::unique_ptr<DiskImages> diskImages = DiskImages::create();
    test::Unsigned unsigned_;
    CountingTrash trash;
    QString bundle = test::makeApp(sandbox.applications(), {});

    QString library() const { return sandbox.root() + u"/Library"_s; }
    QString data(const QString& relative) const { return library() + u'/' + relative; }

    void SetUp() override
    {
        for (const QString& folder :
            { u"Caches/com.example.foo"_s, u"Application Support/com.example.foo/db"_s, u"LaunchAgents"_s })
            QDir().mkpath(data(folder));
        QFile agent(data(u"LaunchAgents/com.example.foo.helper.plist"_s));
        ASSERT_TRUE(agent.open(QIODevice::WriteOnly));
        agent.write("<plist/>");
    }

    InstalledApp app(const QString& id = u"com.example.foo"_s) const
    {
        InstalledApp result;
        result.url = QUrl::fromLocalFile(bundle);
        result.folder = QUrl::fromLocalFile(sandbox.applications());
        result.name = u"Foo"_s;
        result.bundleID = id;
        return result;
    }

    Updater updater()
    {
        return Updater({ net, *ditto, *rename, trash, *workspace, *diskImages, unsigned_ },
            sandbox.applications(), sandbox.trash());
    }

    static QList<QUrl> urls(const QStringList& paths)
    {
        QList<QUrl> result;
        for (const QString& path : paths)
            result << QUrl::fromLocalFile(path);
        return result;
    }

    // The whole world: Applications, the Library and the Trash folder.
    Snapshot world() const
    {
        Snapshot all;
        const Snapshot everything = test::snapshot(sandbox.root());
        for (auto it = everything.begin(); it != everything.end(); ++it) {
            for (const QString& folder : { u"Applications"_s, u"Library"_s, u"Trash"_s }) {
                if (it.key() == folder || it.key().startsWith(folder + u'/'))
                    all.insert(it.key(), it.value());
            }
        }
        return all;
    }

    // The item at `from` (and all inside it) now at `to`.
    static void moved(Snapshot& world, const QString& from, const QString& to)
    {
        Snapshot result;
        for (auto it = world.begin(); it != world.end(); ++it) {
            if (it.key() == from || it.key().startsWith(from + u'/'))
                result.insert(to + it.key().mid(from.size()), it.value());
            else
                result.insert(it.key(), it.value());
        }
        world = result;
    }

    template<typename Call> std::optional<UpdateError> updateError(Call call)
    {
        try {
            call();
        } catch (const UpdateError& error) {
            return error;
        }
        ADD_FAILURE() << "no UpdateError";
        return std::nullopt;
    }
};

TEST_F(UninstallTest, TheAppAndItsChosenDataGoToTheTrashInOrder)
{
    QDir().mkpath(data(u"Foo Extras/notes"_s));
    const QString agent = data(u"LaunchAgents/com.example.foo.helper.plist"_s);
    // The last is Foo's only through its cask's zap paths.
    const QStringList chosen { data(u"Caches/com.example.foo"_s), agent, data(u"Foo Extras/notes"_s) };
    Snapshot expected = world();
    moved(expected, u"Applications/Foo.app"_s, u"Trash/Foo.app"_s);
    moved(expected, u"Library/Caches/com.example.foo"_s, u"Trash/com.example.foo"_s);
    moved(expected, u"Library/LaunchAgents/com.example.foo.helper.plist"_s,
        u"Trash/com.example.foo.helper.plist"_s);
    moved(expected, u"Library/Foo Extras/notes"_s, u"Trash/notes"_s);

    // On Linux "/bin/launchctl" is missing: booting the agent out does nothing, and the removal goes on.
    const QStringList removed
        = updater().uninstall(app(), urls(chosen), library(), { u"~/Library/Foo Extras/notes"_s }, false);
    EXPECT_EQ(removed, QStringList { bundle } + chosen);
    EXPECT_EQ(trash.moved, QStringList { bundle } + chosen);
    EXPECT_EQ(test::difference(expected, world()), QString());
}

TEST_F(UninstallTest, PermanentlyLeavesNothingAnywhere)
{
    const QStringList chosen { data(u"Application Support/com.example.foo"_s) };
    const QStringList removed = updater().uninstall(app(), urls(chosen), library(), {}, true);
    EXPECT_EQ(removed, QStringList { bundle } + chosen);
    EXPECT_FALSE(QFile::exists(bundle));
    EXPECT_FALSE(QFile::exists(chosen[0]));
    EXPECT_TRUE(trash.moved.isEmpty());
    EXPECT_TRUE(QDir(sandbox.trash()).isEmpty());
}

TEST_F(UninstallTest, EveryRefusalComesBeforeAnythingMoves)
{
    QDir().mkpath(sandbox.root() + u"/elsewhere"_s);
    QFile::link(sandbox.root() + u"/elsewhere"_s, data(u"Caches/escape"_s));
    const QString keychain = data(u"Keychains/login.keychain-db"_s);
    QDir().mkpath(data(u"Keychains"_s));
    QFile keychainFile(keychain);
    ASSERT_TRUE(keychainFile.open(QIODevice::WriteOnly));
    const QString realLibrary = QFileInfo(library()).canonicalFilePath();
    const QString refusing
        = u"Refusing to remove %1: it isn't an app's own folder inside "_s + realLibrary + u'.';
    const QString caches = data(u"Caches"_s);
    const QString own = data(u"Caches/com.example.foo"_s);

    struct Row {
        QString title;
        InstalledApp app;
        QStringList data;
        QString library;
        QString expected;
    };
    InstalledApp outside = app();
    outside.url = QUrl::fromLocalFile(test::makeApp(sandbox.inputs(), {}));
    InstalledApp apple = app(u"com.apple.Safari"_s);
    apple.name = u"Safari"_s;
    const std::vector<Row> rows {
        { u"an Apple app"_s, apple, {}, library(), u"Safari is part of macOS or an Apple app."_s },
        { u"this program"_s, app(InstalledApp::defaultBundleID), {}, library(),
            u"Corvanta can't remove itself. Drag it to the Trash from Applications."_s },
        { u"an app outside the folder"_s, outside, {}, library(),
            u"Foo isn't inside "_s + QFileInfo(sandbox.applications()).canonicalFilePath() + u'.' },
        { u"no Library"_s, app(), {}, sandbox.root() + u"/NoLibrary"_s,
            sandbox.root() + u"/NoLibrary doesn't exist."_s },
        { u"the Caches folder itself"_s, app(), { own, caches }, library(), refusing.arg(caches) },
        { u"the Library itself"_s, app(), { library() }, library(), refusing.arg(library()) },
        { u"a climb out of the Library"_s, app(), { data(u"Caches/../../elsewhere"_s) }, library(),
            refusing.arg(data(u"Caches/../../elsewhere"_s)) },
        { u"a link leading out"_s, app(), { data(u"Caches/escape"_s) }, library(),
            refusing.arg(data(u"Caches/escape"_s)) },
        { u"a missing item"_s, app(), { data(u"Caches/missing"_s) }, library(),
            refusing.arg(data(u"Caches/missing"_s)) },
        { u"a file outside"_s, app(), { u"/etc/hostname"_s }, library(), refusing.arg(u"/etc/hostname"_s) },
        { u"another item of the Library"_s, app(), { own, keychain }, library(),
            u"Refusing to remove "_s + keychain + u": it isn't one of Foo's leftovers."_s },
    };
    const Snapshot before = world();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title.toStdString());
        const auto error
            = updateError([&] { updater().uninstall(row.app, urls(row.data), row.library, {}, false); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), row.expected);
        EXPECT_FALSE(error->needsPermission());
        EXPECT_TRUE(trash.moved.isEmpty());
        EXPECT_EQ(test::difference(before, world()), QString());
    }
}

TEST_F(UninstallTest, ARunningAppIsRefused)
{
    // A real process whose executable lies inside the bundle.
    const QString executable = bundle + u"/Contents/MacOS/sleeper"_s;
    ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, executable));
    QProcess sleeper;
    sleeper.start(executable, { u"30"_s });
    ASSERT_TRUE(sleeper.waitForStarted());
    const auto error = updateError([&] { updater().uninstall(app(), {}, library(), {}, false); });
    sleeper.kill();
    sleeper.waitForFinished();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), u"Foo is running. Quit it first."_s);
    EXPECT_TRUE(QFile::exists(bundle));
}

TEST_F(UninstallTest, MacOSRefusingTheAppAsksForAppManagement)
{
    trash.failAt = 1;
    trash.failWith = EPERM;
    const auto error = updateError([&] {
        updater().uninstall(app(), urls({ data(u"Caches/com.example.foo"_s) }), library(), {}, false);
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->needsPermission());
    EXPECT_EQ(error->description(),
        u"macOS blocked Corvanta from changing Foo. Turn on Corvanta in System Settings \u203a Privacy & "
        u"Security \u203a App Management, then try again."_s);
    EXPECT_TRUE(QFile::exists(bundle));
    EXPECT_TRUE(QFile::exists(data(u"Caches/com.example.foo"_s)));
}

TEST_F(UninstallTest, ADataItemThatCantMoveStopsTheRestAndKeepsWhatMoved)
{
    trash.failAt = 3;
    const QStringList chosen { data(u"Caches/com.example.foo"_s),
        data(u"Application Support/com.example.foo"_s),
        data(u"LaunchAgents/com.example.foo.helper.plist"_s) };
    try {
        updater().uninstall(app(), urls(chosen), library(), {}, false);
        ADD_FAILURE() << "the removal went through";
    } catch (const UpdateError&) {
        ADD_FAILURE() << "the file system's error must arrive unchanged";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), EIO);
    }
    EXPECT_FALSE(QFile::exists(bundle));
    EXPECT_FALSE(QFile::exists(chosen[0]));
    EXPECT_TRUE(QFile::exists(chosen[1]));
    EXPECT_TRUE(QFile::exists(chosen[2]));
}

TEST(Protection, AppleAppsAndThisProgramAreProtected)
{
    InstalledApp app;
    app.name = u"Notes"_s;
    app.bundleID = u"com.apple.Notes"_s;
    EXPECT_EQ(Updater::protectedReason(app), u"Notes is part of macOS or an Apple app."_s);
    app.bundleID = u"com.applesoft.notes"_s;
    EXPECT_EQ(Updater::protectedReason(app), std::nullopt);
    app.bundleID = InstalledApp::defaultBundleID;
    EXPECT_EQ(Updater::protectedReason(app),
        u"Corvanta can't remove itself. Drag it to the Trash from Applications."_s);
}

} // namespace
} // namespace corvanta
