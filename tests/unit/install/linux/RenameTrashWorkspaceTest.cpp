#include "base/Error.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/Workspace.h"
#include "support/InstallFixtures.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

int errorCode(const std::function<void()>& call)
{
    try {
        call();
    } catch (const SystemError& error) {
        return error.code();
    }
    return 0;
}

TEST(LinuxRename, ExchangesFoldersAtomicallyAndNeverReplaces)
{
    QTemporaryDir dir;
    const QString a = test::makeApp(dir.filePath(u"a"_s), { .payload = "first" });
    const QString b = test::makeApp(dir.filePath(u"b"_s), { .payload = "second" });
    const test::Snapshot first = test::snapshot(a);
    const test::Snapshot second = test::snapshot(b);
    auto rename = Rename::create();

    rename->exchange(a, b);
    EXPECT_EQ(test::difference(second, test::snapshot(a)), QString());
    EXPECT_EQ(test::difference(first, test::snapshot(b)), QString());

    EXPECT_EQ(errorCode([&] { rename->noReplace(a, b); }), EEXIST);
    EXPECT_EQ(test::difference(first, test::snapshot(b)), QString());
    EXPECT_EQ(errorCode([&] { rename->exchange(a, dir.filePath(u"missing"_s)); }), ENOENT);
    rename->noReplace(a, dir.filePath(u"moved.app"_s));
    EXPECT_EQ(test::difference(second, test::snapshot(dir.filePath(u"moved.app"_s))), QString());
    EXPECT_FALSE(QFileInfo::exists(a));
}

TEST(LinuxTrash, MovesIntoTheUsersTrashAndIntoNamedFolders)
{
    QTemporaryDir home;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    QDir().mkpath(home.filePath(u"data"_s));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(u"data"_s)));
    const QString app = test::makeApp(home.filePath(u"Applications"_s), {});
    const test::Snapshot before = test::snapshot(app);
    auto trash = Trash::create();
    trash->moveToTrash(app);
    if (saved.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", saved);
    EXPECT_FALSE(QFileInfo::exists(app));
    EXPECT_EQ(
        test::difference(before, test::snapshot(home.filePath(u"data/Trash/files/Foo.app"_s))), QString());
    EXPECT_TRUE(QFileInfo::exists(home.filePath(u"data/Trash/info/Foo.app.trashinfo"_s)));

    EXPECT_EQ(errorCode([&] { trash->moveToTrash(home.filePath(u"missing.app"_s)); }), ENOENT);

    const QString again = test::makeApp(home.filePath(u"Applications"_s), {});
    QDir().mkpath(home.filePath(u"Bin/Foo.app"_s));
    EXPECT_EQ(errorCode([&] { trash->moveTo(again, home.filePath(u"Bin/Foo.app"_s)); }), EEXIST);
    trash->moveTo(again, home.filePath(u"Bin/Foo 2.app"_s));
    EXPECT_EQ(test::difference(before, test::snapshot(home.filePath(u"Bin/Foo 2.app"_s))), QString());
}

TEST(LinuxWorkspace, FindsProcessesRunningCodeFromABundle)
{
    QTemporaryDir dir;
    const QString app = test::makeApp(dir.filePath(u"Applications"_s), {});
    const QString other = test::makeApp(dir.filePath(u"Applications"_s), { .name = u"Foobar"_s });
    const QString executable = app + u"/Contents/MacOS/sleeper"_s;
    ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, executable));
    QFile::setPermissions(executable, QFile::ReadOwner | QFile::ExeOwner);

    auto workspace = Workspace::create();
    EXPECT_TRUE(workspace->running(app).isEmpty());
    QProcess process;
    process.start(executable, { u"30"_s });
    ASSERT_TRUE(process.waitForStarted());

    const qint64 pid = process.processId();
    ASSERT_GT(pid, 0);
    const QList<RunningProcess> found = workspace->running(app);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first().pid, pid);
    EXPECT_EQ(found.first().executable, QFileInfo(executable).canonicalFilePath());
    // By location: a bundle whose name merely starts the same runs nothing.
    EXPECT_TRUE(workspace->running(other).isEmpty());
    // A link to the bundle is the same bundle.
    QFile::link(app, dir.filePath(u"Link.app"_s));
    EXPECT_EQ(workspace->running(dir.filePath(u"Link.app"_s)).size(), 1);

    workspace->terminate(pid);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(workspace->running(app).isEmpty());
    EXPECT_EQ(errorCode([&] { workspace->terminate(pid); }), ESRCH);
    // Never a whole process group, which would include the caller.
    EXPECT_EQ(errorCode([&] { workspace->terminate(0); }), ESRCH);
    EXPECT_EQ(errorCode([&] { workspace->terminate(-1); }), ESRCH);
    EXPECT_TRUE(workspace->running(dir.filePath(u"missing.app"_s)).isEmpty());
}

} // namespace
} // namespace corvanta
