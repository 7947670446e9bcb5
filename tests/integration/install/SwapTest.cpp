#include "install/StagingFolder.h"
#include "install/Updater.h"
#include "support/Await.h"
#include "support/InstallFixtures.h"

#include <cerrno>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::Snapshot;

const QString appManagement
    = u"macOS blocked Corvanta from changing Foo. Turn on Corvanta in System Settings \u203a "
      u"Privacy & Security \u203a App Management, then try again."_s;

// One app installed, a newer version of it staged beside it, and the
// snapshots of both, to state what the folders must hold afterwards.
class SwapTest : public testing::Test {
protected:
    SwapTest()
        : m_installed(test::makeApp(m_sandbox.applications(), { .payload = "version 1" }))
        , m_staging(std::in_place, m_sandbox.applications())
        , m_new(test::makeApp(
              m_staging->path(), { .version = u"2.0"_s, .build = u"2"_s, .payload = "version 2" }))
        , m_old(test::snapshot(m_installed))
        , m_fresh(test::snapshot(m_new))
    {
    }

    Updater updater(bool withTrashFolder = true)
    {
        return Updater(m_services.services(), m_sandbox.applications(),
            withTrashFolder ? std::optional(m_sandbox.trash()) : std::nullopt);
    }

    // Once the staging folder is gone, Applications and Trash must hold
    // exactly this, and nothing may be left over.
    void expectWorld(const Snapshot& applications, const Snapshot& trash)
    {
        m_staging.reset();
        EXPECT_EQ(test::difference(applications, test::snapshot(m_sandbox.applications())), QString());
        EXPECT_EQ(test::difference(trash, test::snapshot(m_sandbox.trash())), QString());
        EXPECT_EQ(m_sandbox.leftovers(), QStringList());
    }

    // The error a call raises, as the user reads it; fails the test when it doesn't raise.
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

    test::InstallSandbox m_sandbox;
    test::TestServices m_services;
    QString m_installed;
    std::optional<StagingFolder> m_staging;
    QString m_new;
    Snapshot m_old;
    Snapshot m_fresh;
};

TEST_F(SwapTest, PutsTheNewAppInPlaceAndTheOldOneInTheTrashFolder)
{
    EXPECT_EQ(
        updater().swap(m_new, m_installed), u"Swapped in; the old copy moved to "_s + m_sandbox.trash());
    expectWorld(test::under(u"Foo.app"_s, m_fresh), test::under(u"Foo.app"_s, m_old));
    EXPECT_EQ(m_services.rename.exchanges, 1);
}

TEST_F(SwapTest, NumbersTheOldCopyPastNamesTakenInTheTrashFolder)
{
    const QString one = test::makeApp(m_sandbox.trash(), { .payload = "older" });
    QDir().rename(one, m_sandbox.trash() + u"/Foo 2.app"_s);
    test::makeApp(m_sandbox.trash(), { .payload = "oldest" });
    const Snapshot trashBefore = test::snapshot(m_sandbox.trash());

    updater().swap(m_new, m_installed);
    Snapshot trash = trashBefore;
    trash.insert(test::under(u"Foo 3.app"_s, m_old));
    expectWorld(test::under(u"Foo.app"_s, m_fresh), trash);
}

TEST_F(SwapTest, UsesTheUsersTrashWithoutATrashFolder)
{
    const QString data = m_sandbox.root() + u"/data"_s;
    QDir().mkpath(data);
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    updater(false).swap(m_new, m_installed);
    qputenv("XDG_DATA_HOME", saved);
    if (saved.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    expectWorld(test::under(u"Foo.app"_s, m_fresh), {});
    EXPECT_EQ(test::difference(m_old, test::snapshot(data + u"/Trash/files/Foo.app"_s)), QString());
}

// The exchange happened, so the update did: the Trash refusing the old copy
// only changes where that copy goes, beside the app under a name that says
// what it is, and the log line says where.
TEST_F(SwapTest, AnOldCopyTheTrashRefusesStaysBesideTheAppInView)
{
    const QString taken = test::makeApp(m_sandbox.inputs(), { .payload = "older" });
    ASSERT_TRUE(QDir().rename(taken, m_sandbox.applications() + u"/Foo (old version).app"_s));
    const Snapshot olderTree = test::snapshot(m_sandbox.applications() + u"/Foo (old version).app"_s);
    m_services.trash.fail = EIO;
    const QString kept = m_sandbox.applications() + u"/Foo (old version 2).app"_s;
    EXPECT_EQ(updater().swap(m_new, m_installed),
        u"Swapped in, but the old copy couldn't be moved to the Trash (Can't move %1 to %2/Foo.app "
        u"(injected)). "
        u"It is at %3; delete it when you no longer need it."_s.arg(m_new, m_sandbox.trash(), kept));
    Snapshot applications = test::under(u"Foo.app"_s, m_fresh);
    applications.insert(test::under(u"Foo (old version).app"_s, olderTree));
    applications.insert(test::under(u"Foo (old version 2).app"_s, m_old));
    expectWorld(applications, {});
}

TEST_F(SwapTest, AFailedExchangeLeavesEverythingAsItWas)
{
    struct Row {
        int code;
        std::optional<QString> text; // none: the file system's own error
        bool needsPermission;
    };
    const std::vector<Row> rows {
        { EPERM, appManagement, true },
        { EACCES, u"Foo belongs to another user or to the system. Update or remove it as an administrator."_s,
            false },
        { EXDEV, std::nullopt, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        if (!m_staging) { // the last row's expectWorld took it
            m_staging.emplace(m_sandbox.applications());
            m_new = test::makeApp(
                m_staging->path(), { .version = u"2.0"_s, .build = u"2"_s, .payload = "version 2" });
        }
        m_services.rename.failExchange = row.code;
        try {
            updater().swap(m_new, m_installed);
            ADD_FAILURE() << "no error";
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.description(), row.text);
            EXPECT_EQ(error.needsPermission(), row.needsPermission);
        } catch (const SystemError& error) {
            EXPECT_FALSE(row.text);
            EXPECT_EQ(error.code(), row.code);
        }
        expectWorld(test::under(u"Foo.app"_s, m_old), {});
    }
}

// What lands is checked where it lies: no file that isn't a file or a
// folder, no file shared with the world outside the app.
TEST_F(SwapTest, StagingRefusesWhatNoAppHolds)
{
    const QString outside = m_sandbox.inputs() + u"/notes"_s;
    QFile(outside).open(QIODevice::WriteOnly);
    const std::vector<std::pair<std::function<void(const QString&)>, QString>> rows {
        { [](const QString& app) {
             ::mkfifo(QFile::encodeName(app + u"/Contents/Resources/pipe"_s).constData(), 0644);
         },
            u"The download contains a special file (Contents/Resources/pipe), which no app holds. Refusing "
            u"to "
            u"install."_s },
        { [&](const QString& app) {
             ::link(QFile::encodeName(outside).constData(),
                 QFile::encodeName(app + u"/Contents/Resources/notes"_s).constData());
         },
            u"The download contains a hard link to a file outside the app (Contents/Resources/notes). "
            u"Refusing "
            u"to install."_s },
    };
    for (const auto& [tamper, text] : rows) {
        const QString unpacked = test::makeApp(m_staging->path() + u"/extracted"_s, { .version = u"2.0"_s });
        tamper(unpacked);
        const auto error = updateError([&] { updater().stage(unpacked, m_staging->path(), u"Bar.app"_s); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), text);
        QDir(m_staging->path()).removeRecursively();
        QDir().mkpath(m_staging->path());
    }
    // Links inside the app and hard links within it are an app's own.
    const QString unpacked = test::makeApp(m_staging->path() + u"/extracted"_s, { .version = u"2.0"_s });
    ::link(QFile::encodeName(unpacked + u"/Contents/Info.plist"_s).constData(),
        QFile::encodeName(unpacked + u"/Contents/Resources/Info copy.plist"_s).constData());
    EXPECT_EQ(updater().stage(unpacked, m_staging->path(), u"Bar.app"_s), m_staging->path() + u"/Bar.app"_s);
    EXPECT_EQ(m_services.rename.exchanges, 0);
    expectWorld(test::under(u"Foo.app"_s, m_old), {});
}

// A crash leaves its staging folder behind; the next install takes it away,
// but never one a living install holds (nor one another process is still
// making and locking), nor anything not named as ours. An
// old copy killed between the exchange and the Trash still reaches the
// Trash; a staged new version, never installed, doesn't.
TEST_F(SwapTest, SweepingTakesOnlyWhatDeadInstallsLeft)
{
    const QString exchanged = m_sandbox.applications() + u"/.corvanta-0C9D1F7E-1111-4A2B-8C3D-123456789ABC"_s;
    const QString old = test::makeApp(exchanged, { .payload = "old" });
    StagingFolder::noteReplacing(old, old); // the exchange happened: this was the installed app
    const QString staged = m_sandbox.applications() + u"/.corvanta-0C9D1F7E-2222-4A2B-8C3D-123456789ABC"_s;
    StagingFolder::noteReplacing(test::makeApp(staged, { .payload = "new" }), m_installed);
    const QString work = m_sandbox.temp() + u"/corvanta-0C9D1F7E-3333-4A2B-8C3D-123456789ABC"_s;
    QDir().mkpath(work);
    const QString lookalike = m_sandbox.applications() + u"/.corvanta-mine"_s;
    QDir().mkpath(lookalike);
    const QString beingMade
        = m_sandbox.applications() + u"/.corvanta-0C9D1F7E-4444-4A2B-8C3D-123456789ABC.new"_s;
    QDir().mkpath(beingMade);
    const Snapshot oldTree = test::snapshot(old);

    QStringList kept;
    EXPECT_EQ(StagingFolder::sweep(m_sandbox.applications(), StagingFolder::stagingPrefix,
                  [&](const QString& app) { kept << test::difference(oldTree, test::snapshot(app)); }),
        2);
    EXPECT_EQ(kept, QStringList { QString() });
    EXPECT_EQ(StagingFolder::sweep(m_sandbox.temp(), StagingFolder::workPrefix), 1);
    EXPECT_FALSE(QFileInfo::exists(exchanged) || QFileInfo::exists(staged) || QFileInfo::exists(work));
    EXPECT_TRUE(QFileInfo::exists(lookalike) && QFileInfo::exists(beingMade));
    EXPECT_EQ(test::snapshot(m_new), m_fresh);
    QDir(lookalike).removeRecursively();
    QDir(beingMade).removeRecursively();
}

TEST_F(SwapTest, PlacesAFirstCopyWithoutEverOverwriting)
{
    const QString other = test::makeApp(m_staging->path(), { .name = u"Bar"_s, .payload = "bar" });
    const Snapshot bar = test::snapshot(other);
    const Updater placing = updater();
    EXPECT_EQ(test::await(placing.place(other, u"Bar"_s)), m_sandbox.applications() + u"/Bar.app"_s);

    // Foo.app is there already: refused; so is an app of that name that
    // appears at the last moment, and a change macOS doesn't allow.
    const QString baz = test::makeApp(m_staging->path(), { .name = u"Baz"_s });
    const std::vector<std::tuple<QString, std::optional<int>, QString>> refusals {
        { m_new, std::nullopt, u"Foo.app is already in %1."_s.arg(m_sandbox.applications()) },
        { baz, EEXIST, u"Baz.app is already in %1."_s.arg(m_sandbox.applications()) },
        { baz, EPERM, QString(appManagement).replace(u"changing Foo"_s, u"changing Baz"_s) },
    };
    for (const auto& [app, failure, text] : refusals) {
        m_services.rename.failNoReplace = failure;
        try {
            test::await(placing.place(app, QFileInfo(app).baseName()));
            ADD_FAILURE() << "placed " << app.toStdString();
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.description(), text);
            EXPECT_EQ(error.needsPermission(), failure == EPERM);
        }
    }
    Snapshot applications = test::under(u"Foo.app"_s, m_old);
    applications.insert(test::under(u"Bar.app"_s, bar));
    expectWorld(applications, {});
}

TEST_F(SwapTest, RefusesAMissingApplicationsFolder)
{
    try {
        Updater(m_services.services(), m_sandbox.root() + u"/Nowhere"_s);
        FAIL() << "no error";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), m_sandbox.root() + u"/Nowhere doesn't exist."_s);
    }
    // Links are resolved: the updater works on the real folder.
    QFile::link(m_sandbox.applications(), m_sandbox.root() + u"/Apps"_s);
    EXPECT_EQ(Updater(m_services.services(), m_sandbox.root() + u"/Apps"_s).applications(),
        QFileInfo(m_sandbox.applications()).canonicalFilePath());
}

} // namespace
} // namespace corvanta
