#include "LibraryWorld.h"
#include "model/LibraryItem.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "platform/HostInfo.h"
#include "platform/SecretStore.h"
#include "support/BundleBuilder.h"
#include "support/PrivateKeyring.h"
#include "support/Program.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"
#include "support/Unsigned.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QSettings>
#include <QTemporaryDir>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// Sessions live in a real keyring: these checks are disabled so a plain run
// skips them, and LibraryKeyring runs them in a child of this program inside
// a private session bus with its own keyring.
const char* const childVariable = "CORVANTA_LIBRARY_KEYRING_CHILD";

const QString ada = u"ada@example.com"_s;

class StoreLibrary : public EmulatedLibrary {
protected:
    // One Mac: its own Applications folder, settings and device id.
    struct Mac {
        QString apps;
        std::unique_ptr<Prefs> prefs;
        std::unique_ptr<Store> store;

        QStringList names() const
        {
            QStringList names;
            for (const LibraryItem* item : store->library())
                names << item->app().name;
            return names;
        }
        LibraryItem* row(const QString& id) const
        {
            for (LibraryItem* item : store->library()) {
                if (item->id() == id)
                    return item;
            }
            return nullptr;
        }
    };

    void SetUp() override
    {
        ASSERT_TRUE(qEnvironmentVariableIsSet(childVariable))
            << "Run inside the private keyring of LibraryKeyring.";
        EmulatedLibrary::SetUp();
        ASSERT_TRUE(SecretStore::create()->remove(Auth::keychainService, u"session-test"_s));
        QFile file(configFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"apiKey":"demo-key","projectId":"demo-test"})");
        server.on(u"/api/cask.json"_s, Response::json("[]"));
    }

    QString configFile() const { return root.filePath(u"firebase.json"_s); }

    // Bundles named after the last part of their identifiers, at these versions.
    static void install(const QString& folder, const std::map<QString, QString>& versions)
    {
        for (const auto& [id, version] : versions)
            BundleBuilder(folder, id.section(u'.', -1)).bundleID(id).version(version).create();
    }

    // A Mac on the emulators, or with its library at `firestoreHost`.
    Mac mac(const QString& id, const std::map<QString, QString>& versions, const QString& firestoreHost = {})
    {
        Mac made { root.filePath(id + u"/Applications"_s) };
        EXPECT_TRUE(QDir().mkpath(made.apps));
        install(made.apps, versions);
        made.prefs = std::make_unique<Prefs>(
            std::make_unique<QSettings>(root.filePath(id + u"/prefs.ini"_s), QSettings::IniFormat), Launch());
        StoreServices services { net, codeSigning, host, *made.prefs };
        services.clock = [this] { return now; };
        services.environment = emulators();
        if (!firestoreHost.isEmpty())
            services.environment.insert(u"FIRESTORE_EMULATOR_HOST"_s, firestoreHost);
        services.revealInSlices = false;
        made.store = std::make_unique<Store>(services,
            Launch({ u"--sandbox"_s, made.apps, u"--mock"_s, server.url().toString(), u"--firebase-config"_s,
                configFile(), u"--device-id"_s, id }));
        return made;
    }

    QTemporaryDir root;
    TestServer server;
    Unsigned codeSigning;
    FixedHostInfo host { { 15, 0, 0 }, true };
    QDateTime now = fixedNow;
};

TEST_F(StoreLibrary, DISABLED_twoMacsOnOneAccountConverge)
{
    const Session session = await(Auth::signUp(net, ada, u"secret1"_s, config(), [this] { return now; }));
    const QString user = u"users/"_s + session.uid;
    // Device ids with "-" must be quoted in the write masks.
    Mac a = mac(u"mac-a"_s, { { u"com.example.alpha"_s, u"1.0"_s }, { u"com.example.shared"_s, u"2.0"_s } });
    Mac b = mac(u"mac-b"_s, { { u"com.example.beta"_s, u"1.0"_s }, { u"com.example.shared"_s, u"2.1"_s } });
    await(a.store->signedIn(session));
    EXPECT_EQ(firestore().fields(user).value(u"email"_s), ada);
    await(a.store->refresh(false, false));
    now = now.addSecs(60);
    await(b.store->signedIn(session));
    await(b.store->refresh(false, false));
    EXPECT_EQ(b.store->syncError(), std::nullopt);
    EXPECT_EQ(b.names(), (QStringList { u"alpha"_s, u"beta"_s, u"shared"_s }));

    await(a.store->syncLibrary());
    EXPECT_EQ(a.names(), b.names());
    EXPECT_EQ(a.store->count(Filter::library), 3);
    LibraryItem* shared = a.row(u"com.example.shared"_s);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->app().devices,
        (std::map<QString, LibraryApp::OnDevice> { { u"mac-a"_s, { u"2.0"_s, true, fixedNow } },
            { u"mac-b"_s, { u"2.1"_s, true, fixedNow.addSecs(60) } } }));
    ASSERT_EQ(a.store->devices().size(), 2u);
    EXPECT_EQ(a.store->devices()[0].id, u"mac-a"_s); // seen last, at its own sync

    // Alpha leaves Mac A; the row objects stay what they were.
    now = now.addSecs(60);
    ASSERT_TRUE(QDir(a.apps + u"/alpha.app"_s).removeRecursively());
    await(a.store->refresh(false, false));
    EXPECT_EQ(a.row(u"com.example.shared"_s), shared);
    EXPECT_EQ(a.row(u"com.example.alpha"_s)->app().devices.at(u"mac-a"_s).installed, false);

    // Removed from the library, Beta comes back with Mac B's next sync.
    await(a.store->removeFromLibrary({ a.row(u"com.example.beta"_s) }));
    EXPECT_EQ(a.names(), (QStringList { u"alpha"_s, u"shared"_s }));
    EXPECT_EQ(firestore().document(user + u"/apps/com.example.beta"_s), std::nullopt);
    await(b.store->syncLibrary());
    EXPECT_TRUE(b.row(u"com.example.beta"_s));

    b.store->signOut();
    EXPECT_TRUE(b.store->library().isEmpty() && b.store->devices().empty());
    await(a.store->deleteAccount());
    EXPECT_TRUE(a.store->library().isEmpty());
    for (const QString& path :
        QStringList { user, user + u"/apps/com.example.shared"_s, user + u"/devices/mac-b"_s })
        EXPECT_EQ(firestore().document(path), std::nullopt) << path.toStdString();
}

TEST_F(StoreLibrary, DISABLED_anExpiredTokenIsRenewedAndAnEndedSessionSignsOut)
{
    Mac a = mac(u"mac-a"_s, { { u"com.example.alpha"_s, u"1.0"_s } });
    const Session session = await(Auth::signUp(net, ada, u"secret1"_s, config(), [this] { return now; }));
    await(a.store->signedIn(session));
    now = session.expires;
    await(a.store->refresh(false, false));
    ASSERT_TRUE(a.store->session());
    EXPECT_EQ(a.store->session()->expires, now.addSecs(3480));
    EXPECT_EQ(a.store->syncError(), std::nullopt);
    EXPECT_EQ(a.names(), QStringList { u"alpha"_s });

    auth().clear();
    now = a.store->session()->expires;
    await(a.store->syncLibrary());
    EXPECT_EQ(a.store->session(), std::nullopt);
    EXPECT_EQ(a.store->syncError(), u"Your session ended. Sign in again."_s);
    EXPECT_TRUE(a.store->library().isEmpty() && a.store->devices().empty());
    EXPECT_FALSE(a.store->syncing());
}

TEST_F(StoreLibrary, DISABLED_aSyncEndingAfterSignOutShowsNoLibrary)
{
    // The library played by the loopback server, slow enough to sign out while it answers.
    server.onPrefix(u"/v1/projects/demo-test/databases/(default)/documents"_s, [](const RecordedRequest&) {
        Response answer = Response::json(
            R"({"documents":[{"name":"projects/demo-test/databases/(default)/documents/users/u/apps/a"}]})");
        answer.delay = std::chrono::milliseconds(200);
        return answer;
    });
    Mac a = mac(u"mac-a"_s, {}, server.url().authority());
    await(a.store->signedIn(await(Auth::signUp(net, ada, u"secret1"_s, config(), [this] { return now; }))));
    ASSERT_EQ(a.names(), QStringList { u"a"_s });

    QCoro::Task<> syncing = a.store->syncLibrary();
    ASSERT_TRUE(waitUntil([&] { return server.activeRequests() > 0; }));
    a.store->signOut();
    await(std::move(syncing));
    EXPECT_TRUE(a.store->library().isEmpty());
}

// The command line, end to end, on the same keyring and emulators.
TEST_F(StoreLibrary, DISABLED_commandLineSyncsListsAndRemoves)
{
    await(Auth::signUp(net, ada, u"secret1"_s, config()));
    const QString home = root.filePath(u"home"_s);
    install(home + u"/Applications"_s,
        { { u"com.example.alpha"_s, u"1.0"_s }, { u"com.example.beta"_s, u"2.0"_s } });
    QProcessEnvironment environment = programEnvironment(home);
    environment.insert(emulators());
    const auto run = [&](QStringList arguments, const QByteArray& input = {}) {
        const ProgramRun ran = runProgram(arguments << u"--firebase-config"_s << configFile(), environment,
            std::chrono::seconds(60), input);
        EXPECT_EQ(ran.exitCode, 0) << arguments.join(u' ').toStdString() << ": " << ran.err.toStdString();
        return ran;
    };
    const auto json = [&](const QString& what) {
        return QJsonDocument::fromJson(run({ u"library"_s, what, u"--json"_s }).out.toUtf8()).array();
    };

    run({ u"account"_s, u"sign-in"_s, ada }, "secret1\n");
    EXPECT_EQ(run({ u"library"_s, u"sync"_s, u"--mock"_s, server.url().toString() }).out,
        u"Synced 2 apps of this Mac. Your library holds 2 apps on 1 Mac.\n"_s);
    const QJsonArray devices = json(u"devices"_s);
    ASSERT_EQ(devices.size(), 1);
    const QJsonObject mac = devices[0].toObject();
    EXPECT_EQ(mac.value(u"thisMac"_s), true);
    const QJsonObject alpha = json(u"list"_s)[0].toObject();
    EXPECT_EQ(alpha.value(u"name"_s), u"alpha"_s);
    EXPECT_EQ(alpha.value(u"devices"_s).toArray(),
        QJsonArray({ QJsonObject { { u"id"_s, mac.value(u"id"_s) }, { u"name"_s, mac.value(u"name"_s) },
            { u"version"_s, u"1.0"_s }, { u"installed"_s, true },
            { u"seen"_s, mac.value(u"lastSeen"_s) } } }));

    run({ u"library"_s, u"remove"_s, u"com.example.alpha"_s, u"--yes"_s });
    EXPECT_EQ(run({ u"library"_s, u"list"_s }).out.section(u'\n', 0, 0), u"beta  com.example.beta"_s);
}

// Runs the checks above in a child with its own session bus, an unlocked
// keyring and temporary home folders: nothing touches the user's keychain.
TEST(LibraryKeyring, storeAndCommandLineChecksPassInAPrivateKeyring)
{
    QTemporaryDir home;
    QProcessEnvironment env = privateKeyringEnvironment(home);
    ASSERT_FALSE(env.isEmpty());
    // The child starts its own emulators from the same installations.
    env.insert(u"CORVANTA_FIREBASE"_s, AuthEmulator::command());
    env.insert(u"CORVANTA_FIRESTORE_JAR"_s, FirestoreEmulator::jar());
    env.insert(QString::fromLatin1(childVariable), u"1"_s);

    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(u"dbus-run-session"_s,
        { u"--"_s, u"sh"_s, u"-c"_s, unlockedKeyringScript, u"sh"_s, QCoreApplication::applicationFilePath(),
            u"--gtest_also_run_disabled_tests"_s, u"--gtest_filter=StoreLibrary.DISABLED_*"_s });
    ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    ASSERT_TRUE(process.waitForFinished(300'000)) << "the library checks hung";
    const QByteArray output = process.readAll();
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 4 tests")) << output.toStdString();
}

} // namespace
