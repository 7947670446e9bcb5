#include "support/Program.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// `cmake --install` into a staging prefix, then the installed program runs
// from there and finds its resources beside it.
TEST(Install, TheInstalledProgramRunsAndFindsItsSettings)
{
    QTemporaryDir prefix;
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(
        u"cmake"_s, { u"--install"_s, QStringLiteral(CORVANTA_BUILD_DIR), u"--prefix"_s, prefix.path() });
    ASSERT_TRUE(install.waitForFinished(120'000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();

    const QDir root(prefix.path());
    EXPECT_TRUE(QFileInfo(root.filePath(u"bin/corvanta"_s)).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(root.filePath(u"share/icons/hicolor/scalable/apps/corvanta.svg"_s)));
    QFile entry(root.filePath(u"share/applications/corvanta.desktop"_s));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        entry.readAll().contains(QByteArray("\nExec=" + QFile::encodeName(prefix.path()) + "/bin/corvanta")));

    // Without settings the installed program has no accounts; with a
    // firebase.json in its share folder it has them.
    QTemporaryDir home;
    const QProcessEnvironment environment = programEnvironment(home.path());
    const QString program = root.filePath(u"bin/corvanta"_s);
    const auto status = [&] {
        QProcess run;
        run.setProcessEnvironment(environment);
        run.start(program, { u"account"_s, u"status"_s });
        EXPECT_TRUE(run.waitForFinished(60'000));
        return QString::fromUtf8(run.readAllStandardOutput() + run.readAllStandardError());
    };
    EXPECT_EQ(
        status(), u"Accounts aren't set up in this build: it was made without its Firebase settings.\n"_s);
    ASSERT_TRUE(root.mkpath(u"share/corvanta"_s));
    QFile settings(root.filePath(u"share/corvanta/firebase.json"_s));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(R"({"apiKey":"k","projectId":"p"})");
    settings.close();
    EXPECT_EQ(status(), u"You're not signed in.\n"_s);
}

} // namespace
