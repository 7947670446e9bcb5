#include "../library/LibraryWorld.h"
#include "model/Restore.h"
#include "support/BundleBuilder.h"
#include "support/PrivateKeyring.h"
#include "support/Program.h"
#include "support/TestServer.h"
#include "support/ZipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The session lives in a keyring: the check below is disabled so a plain run
// skips it, and RestoreKeyring runs it in a child inside a private keyring.
const char* const childVariable = "CORVANTA_RESTORE_KEYRING_CHILD";
const bool registered = (qEnvironmentVariableIsSet(childVariable) ? registerEmulators() : void(), true);

class RestoreCommand : public EmulatedLibrary {
protected:
    ProgramRun run(const QString& home, QStringList arguments, const QByteArray& input = {})
    {
        QProcessEnvironment environment = programEnvironment(home);
        environment.insert(emulators());
        return runProgram(arguments << u"--firebase-config"_s << configFile(), environment,
            std::chrono::seconds(120), input);
    }
    QString configFile()
    {
        const QString path = root.filePath(u"firebase.json"_s);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(R"({"apiKey":"demo-key","projectId":"demo-test"})");
        return path;
    }

    QTemporaryDir root;
    TestServer server;
};

TEST_F(RestoreCommand, DISABLED_aSecondMacGetsItsRoutesOutcomesAndNotice)
{
    await(Auth::signUp(net, u"ada@example.com"_s, u"secret1"_s, config()));
    // Foo comes from a cask whose download is an unsigned copy, which a restore must refuse.
    const QString inputs = root.filePath(u"inputs"_s);
    const QString zip = root.filePath(u"Foo.zip"_s);
    ZipWriter(zip).tree(
        BundleBuilder(inputs, u"foo"_s).bundleID(u"com.example.foo"_s).version(u"1.0"_s).create(),
        u"foo.app"_s);
    QFile zipFile(zip);
    ASSERT_TRUE(zipFile.open(QIODevice::ReadOnly));
    server.on(u"/Foo.zip"_s, Response { .body = zipFile.readAll() });
    server.on(u"/api/cask.json"_s,
        Response::json(R"([{"token":"foo","version":"1.0","sha256":"no_check","url":")"
            + server.url(u"/Foo.zip"_s).toEncoded() + R"(","artifacts":[{"app":["foo.app"]}]}])"));
    const QString mock = server.url().toString();

    const QString first = root.filePath(u"first"_s);
    for (const QString& id : { u"com.example.foo"_s, u"com.example.alpha"_s })
        BundleBuilder(first + u"/Applications"_s, id.section(u'.', -1))
            .bundleID(id)
            .version(u"1.0"_s)
            .create();
    EXPECT_EQ(run(first, { u"account"_s, u"sign-in"_s, u"ada@example.com"_s }, "secret1\n").exitCode, 0);
    EXPECT_EQ(
        run(first, { u"library"_s, u"sync"_s, u"--mock"_s, mock, u"--device-id"_s, u"first"_s }).exitCode, 0);

    const QString second = root.filePath(u"second"_s);
    const QString sandbox = second + u"/Applications"_s;
    QDir().mkpath(sandbox);
    EXPECT_EQ(run(second, { u"account"_s, u"sign-in"_s, u"ada@example.com"_s, u"--sandbox"_s, sandbox },
                  "secret1\n")
                  .exitCode,
        0);
    const ProgramRun restored = run(second,
        { u"restore"_s, u"--all"_s, u"--json"_s, u"--yes"_s, u"--mock"_s, mock, u"--device-id"_s, u"second"_s,
            u"--sandbox"_s, sandbox });
    EXPECT_EQ(restored.exitCode, 1) << restored.err.toStdString();
    const QJsonObject document = QJsonDocument::fromJson(restored.out.toUtf8()).object();
    EXPECT_EQ(document.value(u"notice"_s),
        u"1 app needs installing from the App Store or its website. See Get It Yourself."_s);
    const QJsonArray apps = document.value(u"apps"_s).toArray();
    ASSERT_EQ(apps.size(), 2) << restored.out.toStdString();
    const QJsonObject alpha = apps[0].toObject();
    EXPECT_EQ(alpha.value(u"route"_s)[u"kind"_s], u"manual"_s);
    EXPECT_EQ(alpha.value(u"note"_s), Restore::nothingFoundReason);
    EXPECT_EQ(alpha.value(u"outcome"_s), u"idle"_s);
    const QJsonObject foo = apps[1].toObject();
    EXPECT_EQ(foo.value(u"route"_s)[u"candidates"_s][0][u"kind"_s], u"Homebrew cask"_s);
    EXPECT_EQ(foo.value(u"phases"_s).toArray().first(), u"queued"_s);
    EXPECT_EQ(foo.value(u"outcome"_s), u"failed"_s);
    EXPECT_TRUE(foo.value(u"note"_s).isString());
    EXPECT_FALSE(QFileInfo::exists(sandbox + u"/foo.app"_s));
}

TEST(RestoreKeyring, theCommandLineCheckPassesInAPrivateKeyring)
{
    QTemporaryDir home;
    QProcessEnvironment env = privateKeyringEnvironment(home);
    ASSERT_FALSE(env.isEmpty());
    env.insert(u"CORVANTA_FIREBASE"_s, AuthEmulator::command());
    env.insert(u"CORVANTA_FIRESTORE_JAR"_s, FirestoreEmulator::jar());
    env.insert(QString::fromLatin1(childVariable), u"1"_s);

    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(u"dbus-run-session"_s,
        { u"--"_s, u"sh"_s, u"-c"_s, unlockedKeyringScript, u"sh"_s, QCoreApplication::applicationFilePath(),
            u"--gtest_also_run_disabled_tests"_s, u"--gtest_filter=RestoreCommand.DISABLED_*"_s });
    ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    ASSERT_TRUE(process.waitForFinished(300'000)) << "the restore check hung";
    const QByteArray output = process.readAll();
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace
