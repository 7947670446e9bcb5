#include "model/Setup.h"

#include "base/Error.h"
#include "model/SetupModel.h"
#include "platform/Ditto.h"
#include "platform/LoginItem.h"
#include "platform/Trash.h"
#include "support/QtPrinters.h"
#include "support/ScriptedPermissions.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

TEST(Setup, WhatCountsAsApplications)
{
    const QString home = u"/home/ada"_s;
    const struct {
        QString bundle;
        bool in;
    } rows[] = {
        { u"/opt/Corvanta"_s, true },
        { u"/home/ada/Applications/Corvanta"_s, true },
        { u"/usr"_s, true },
        { u"/usr/local"_s, true },
        { u"/opt/AppTranslocation/1A2B/d/Corvanta"_s, false },
        { u"/private/var/folders/x/AppTranslocation/1A2B/d/Applications/Corvanta"_s, false },
        { u"/home/ada/Downloads/Corvanta"_s, false },
        { u"/optional/Corvanta"_s, false },
        { u"/home/ada/ApplicationsOld/Corvanta"_s, false },
        { u"/work/corvanta/build/dev"_s, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bundle.toStdString());
        EXPECT_EQ(Setup::isInApplications(row.bundle, home), row.in);
    }
    EXPECT_EQ(Setup::bundleOf(u"/opt/Corvanta/bin/corvanta"_s), u"/opt/Corvanta"_s);
    EXPECT_EQ(Setup::bundleOf(u"/home/ada/tools/corvanta"_s), u"/home/ada/tools"_s);
}

// Setup over real folders: a home, a read-only or writable /opt, the
// user's Trash and autostart folder inside it.
class SetupWorld : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        for (const QString& folder : { u"home"_s, u"opt"_s, u"from/bin"_s, u"from/share/corvanta"_s })
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
        write(u"from/bin/corvanta"_s, "#!/bin/sh\necho started > \"$(dirname \"$0\")/../started\"\n");
        QFile::setPermissions(
            path(u"from/bin/corvanta"_s), QFile::permissions(path(u"from/bin/corvanta"_s)) | QFile::ExeOwner);
        write(u"from/share/corvanta/firebase.json"_s, "{}");
        qputenv("XDG_DATA_HOME", path(u"home/.local/share"_s).toUtf8());
        environment.insert(u"HOME"_s, path(u"home"_s));
        login = LoginItem::create(u"/opt/Corvanta/bin/corvanta"_s, environment);
    }

    QString path(const QString& relative) const { return root.filePath(relative); }
    void write(const QString& relative, const QByteArray& data) const
    {
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    corvanta::Setup make(const QString& bundle, bool optWritable = false)
    {
        return corvanta::Setup({ .defaults = defaults,
            .login = *login,
            .trash = *trash,
            .ditto = *ditto,
            .bundle = bundle,
            .home = path(u"home"_s),
            .primaryFolder = path(u"opt"_s),
            .writable = [optWritable](const QString&) { return optWritable; } });
    }

    QTemporaryDir root;
    QSettings defaults { root.filePath(u"defaults.ini"_s), QSettings::IniFormat };
    QProcessEnvironment environment;
    std::unique_ptr<LoginItem> login;
    std::unique_ptr<Trash> trash = Trash::create();
    std::unique_ptr<Ditto> ditto = Ditto::create();
};

TEST_F(SetupWorld, NeedsMoveThenLoginUntilAnswered)
{
    const QString outside = path(u"from"_s);
    const QString inside = path(u"home/Applications/Corvanta"_s);
    const struct {
        const char* name;
        QString bundle;
        bool skipMove, askedLogin, loginOn;
        std::optional<SetupStep> step;
    } rows[] = {
        { "outside Applications", outside, false, false, false, SetupStep::move },
        { "outside, asked to stay", outside, true, false, false, SetupStep::login },
        { "outside, stays, login answered", outside, true, true, false, std::nullopt },
        { "inside, login unanswered", inside, false, false, false, SetupStep::login },
        { "inside, login answered", inside, false, true, false, std::nullopt },
        { "inside, opens at login already", inside, false, false, true, std::nullopt },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        defaults.clear();
        defaults.setValue(Setup::skipMoveKey, row.skipMove);
        if (row.askedLogin)
            defaults.setValue(Setup::askedLoginKey, true);
        login->setEnabled(row.loginOn);
        EXPECT_EQ(make(row.bundle).needs(), row.step);
    }
}

TEST_F(SetupWorld, MovesIntoTheFolderTheUserMayWriteAndRelaunches)
{
    // A standard user: /opt is not theirs, so the copy goes home; an old copy there goes to the Trash.
    ASSERT_TRUE(QDir().mkpath(path(u"home/Applications/Corvanta/bin"_s)));
    write(u"home/Applications/Corvanta/old"_s, "old");
    corvanta::Setup setup = make(path(u"from"_s));
    const QString moved = setup.moveToApplications(path(u"from"_s));
    EXPECT_EQ(moved, path(u"home/Applications/Corvanta"_s));
    EXPECT_TRUE(QFileInfo(moved + u"/bin/corvanta"_s).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(moved + u"/share/corvanta/firebase.json"_s));
    EXPECT_FALSE(QFileInfo::exists(moved + u"/old"_s));
    // The home Trash, even where its data folder didn't exist yet.
    EXPECT_TRUE(QFileInfo::exists(path(u"home/.local/share/Trash/files/Corvanta/old"_s)));
    EXPECT_TRUE(Setup::isInApplications(moved, path(u"home"_s)));

    // An administrator's copy goes to /opt.
    EXPECT_EQ(make(path(u"from"_s), true).moveToApplications(path(u"from"_s)), path(u"opt/Corvanta"_s));

    // The relaunch starts the moved program once this process is gone.
    QStringList command = Setup::relaunchCommand(moved);
    QProcess shell;
    shell.start(command.takeFirst(), command);
    ASSERT_TRUE(shell.waitForFinished(10'000));
    EXPECT_TRUE(QFileInfo::exists(moved + u"/started"_s));

    // Nothing to move: the window's text says what to do instead.
    try {
        setup.moveToApplications(path(u"home"_s));
        ADD_FAILURE() << "moved a folder without the program";
    } catch (const Error& error) {
        EXPECT_EQ(Setup::moveFailure(error.description()),
            u"Couldn't move it: There is no program at "_s + path(u"home"_s)
                + u"/bin/corvanta. Drag Corvanta into Applications yourself, then open it from there."_s);
    }
}

TEST_F(SetupWorld, LoginIsAnAutostartEntryAndTheQuestionIsAskedOnce)
{
    corvanta::Setup setup = make(path(u"home/Applications/Corvanta"_s));
    setup.setLogin(true);
    QFile entry(path(u"home/.config/autostart/corvanta.desktop"_s));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=/opt/Corvanta/bin/corvanta --background\n"));
    EXPECT_TRUE(login->enabled());
    EXPECT_FALSE(LoginItem::create(u"/elsewhere/corvanta"_s, environment)->enabled());
    EXPECT_TRUE(defaults.value(Setup::askedLoginKey).toBool());

    setup.setLogin(false);
    EXPECT_FALSE(QFileInfo::exists(entry.fileName()));
    EXPECT_FALSE(login->enabled());

    // A folder that can't be written: the answer still counts, nothing throws.
    defaults.clear();
    ASSERT_TRUE(QDir().rmdir(path(u"home/.config/autostart"_s)));
    write(u"home/.config/autostart"_s, "a file where the folder goes");
    setup.setLogin(true);
    EXPECT_FALSE(login->enabled());
    EXPECT_EQ(setup.needs(), std::nullopt);
}

TEST_F(SetupWorld, TheModelAdvancesWhenThePolledPermissionIsGranted)
{
    corvanta::Setup setup = make(path(u"home/Applications/Corvanta"_s));
    ScriptedPermissions permissions;
    SetupModel model(setup, permissions, SetupStep::permission);
    model.start();
    model.requestPermission();
    EXPECT_TRUE(model.asked());
    EXPECT_EQ(model.step(), SetupStep::permission);
    permissions.accessibilityState = Permissions::State::granted;
    model.poll();
    EXPECT_TRUE(model.trusted());
    EXPECT_EQ(model.step(), SetupStep::login);
    model.answerLogin(false);
    EXPECT_EQ(model.step(), SetupStep::done);

    // A failed move stays on its card with the text; keeping it here goes on.
    SetupModel moving(setup, permissions, SetupStep::move);
    moving.move(path(u"home"_s));
    EXPECT_EQ(moving.step(), SetupStep::move);
    ASSERT_TRUE(moving.error());
    EXPECT_TRUE(moving.error()->startsWith(u"Couldn't move it: "_s));
    moving.skipMove();
    EXPECT_EQ(moving.step(), SetupStep::done); // the login was answered above
    EXPECT_FALSE(moving.error());
}

} // namespace
