#include "install/Updater.h"
#include "support/Await.h"
#include "support/InstallFixtures.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::Snapshot;

const QString appManagement
    = u"macOS blocked Corvanta from changing Foo. Turn on Corvanta in System Settings \u203a "
      u"Privacy & Security \u203a App Management, then try again."_s;

// One app installed, a newer version of it unpacked elsewhere, and the
// snapshots of both, to state what the folders must hold afterwards.
class SwapTest : public testing::Test {
protected:
    SwapTest()
        : m_installed(test::makeApp(m_sandbox.applications(), { .payload = "version 1" }))
        , m_new(test::makeApp(
              m_sandbox.inputs(), { .version = u"2.0"_s, .build = u"2"_s, .payload = "version 2" }))
        , m_old(test::snapshot(m_installed))
        , m_fresh(test::snapshot(m_new))
    {
    }

    Updater updater(bool withTrashFolder = true)
    {
        return Updater(m_services.services(), m_sandbox.applications(),
            withTrashFolder ? std::optional(m_sandbox.trash()) : std::nullopt);
    }

    // Applications and Trash must hold exactly this, and nothing may be left over.
    void expectWorld(const Snapshot& applications, const Snapshot& trash, bool leftoversAllowed = false)
    {
        EXPECT_EQ(test::difference(applications, test::snapshot(m_sandbox.applications())), QString());
        EXPECT_EQ(test::difference(trash, test::snapshot(m_sandbox.trash())), QString());
        if (!leftoversAllowed) {
            EXPECT_EQ(m_sandbox.leftovers(), QStringList());
        }
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
    QString m_new;
    Snapshot m_old;
    Snapshot m_fresh;
};

TEST_F(SwapTest, PutsTheNewAppInPlaceAndTheOldOneInTheTrashFolder)
{
    updater().swap(m_new, m_installed);
    expectWorld(test::under(u"Foo.app"_s, m_fresh), test::under(u"Foo.app"_s, m_old));
    EXPECT_EQ(m_services.rename.exchanges, 1);
    // The new version's source is copied, not moved.
    EXPECT_EQ(test::snapshot(m_new), m_fresh);
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

TEST_F(SwapTest, AFailedTrashStepLeavesTheNewAppInPlaceAndTheOldOneBesideIt)
{
    m_services.trash.fail = EIO;
    try {
        updater().swap(m_new, m_installed);
        FAIL() << "no error";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), EIO);
    }
    const QStringList staging
        = QDir(m_sandbox.applications()).entryList({ u".corvanta-*"_s }, QDir::Dirs | QDir::Hidden);
    ASSERT_EQ(staging.size(), 1);
    Snapshot applications = test::under(u"Foo.app"_s, m_fresh);
    applications.insert(staging.first(), u"dir 0700"_s);
    applications.insert(test::under(staging.first() + u"/Foo.app"_s, m_old));
    expectWorld(applications, {}, true);
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

TEST_F(SwapTest, AFailedCopyLeavesEverythingAsItWas)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_new + u"/Contents/pipe"_s).constData(), 0600), 0);
    const auto error = updateError([&] { updater().swap(m_new, m_installed); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().startsWith(u"ditto failed: "_s)) << error->description().toStdString();
    EXPECT_EQ(m_services.rename.exchanges, 0);
    expectWorld(test::under(u"Foo.app"_s, m_old), {});
}

TEST_F(SwapTest, AProtectedFolderAsksForThePermission)
{
    // The real thing where the file system allows it: an immutable folder
    // refuses every change with EPERM, as App Management does on macOS.
    if (QProcess::execute(u"chattr"_s, { u"+i"_s, m_sandbox.applications() }) != 0)
        GTEST_SKIP() << "chattr +i isn't allowed here; the Rename seam covers EPERM";
    const auto error = updateError([&] { updater().swap(m_new, m_installed); });
    QProcess::execute(u"chattr"_s, { u"-i"_s, m_sandbox.applications() });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), appManagement);
    EXPECT_TRUE(error->needsPermission());
    expectWorld(test::under(u"Foo.app"_s, m_old), {});
}

TEST_F(SwapTest, PlacesAFirstCopyWithoutEverOverwriting)
{
    const QString other = test::makeApp(m_sandbox.inputs(), { .name = u"Bar"_s, .payload = "bar" });
    const Snapshot bar = test::snapshot(other);
    const Updater placing = updater();
    EXPECT_EQ(test::await(placing.place(other, u"Bar"_s)), m_sandbox.applications() + u"/Bar.app"_s);
    Snapshot applications = test::under(u"Foo.app"_s, m_old);
    applications.insert(test::under(u"Bar.app"_s, bar));
    expectWorld(applications, {});

    // Foo.app is there already: refused before anything is copied.
    try {
        test::await(placing.place(m_new, u"Foo"_s));
        ADD_FAILURE() << "overwrote Foo.app";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), u"Foo.app is already in %1."_s.arg(m_sandbox.applications()));
    }
    expectWorld(applications, {});

    // An app of that name appears while the copy runs; and macOS refuses.
    const QString baz = test::makeApp(m_sandbox.inputs(), { .name = u"Baz"_s });
    m_services.rename.failNoReplace = EEXIST;
    try {
        test::await(placing.place(baz, u"Baz"_s));
        ADD_FAILURE() << "no error";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), u"Baz.app is already in %1."_s.arg(m_sandbox.applications()));
    }
    m_services.rename.failNoReplace = EPERM;
    try {
        test::await(placing.place(baz, u"Baz"_s));
        ADD_FAILURE() << "no error";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), QString(appManagement).replace(u"changing Foo"_s, u"changing Baz"_s));
        EXPECT_TRUE(error.needsPermission());
    }
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
