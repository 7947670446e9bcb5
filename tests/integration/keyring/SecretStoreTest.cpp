#include "platform/SecretStore.h"

#include "support/PrivateKeyring.h"

#include <chrono>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

using namespace std::chrono_literals;

// The checks of KeyringChild touch a real keyring: they are disabled so that a
// plain run skips them, and the environment tests at the end run them in a
// child of this program inside a private session bus and home.
const char* const childVariable = "CORVANTA_KEYRING_CHILD";
const QString service = QStringLiteral("com.brenmoral.corvanta.account");

// Binary data with a zero byte: the item holds bytes, not text.
QByteArray dataFor(const QString& account)
{
    return QByteArray("{\"user\":\"\0\xff", 11) + account.toUtf8() + QByteArray("\"}");
}

class KeyringChild : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qEnvironmentVariableIsSet(childVariable))
            << "These checks run only inside the private keyring the environment tests start.";
    }

    std::unique_ptr<SecretStore> store = SecretStore::create();
};

TEST_F(KeyringChild, DISABLED_accountsKeepTheirOwnItems)
{
    const QString accounts[] = { QStringLiteral("session"), QStringLiteral("session-test") };
    for (const QString& account : accounts) {
        EXPECT_EQ(store->read(service, account), std::nullopt) << account.toStdString();
        ASSERT_TRUE(store->write(service, account, QByteArray("stale")));
        ASSERT_TRUE(store->write(service, account, dataFor(account)));
    }
    for (const QString& account : accounts)
        EXPECT_EQ(store->read(service, account), dataFor(account));

    EXPECT_TRUE(store->remove(service, accounts[0]));
    EXPECT_EQ(store->read(service, accounts[0]), std::nullopt);
    EXPECT_TRUE(store->read(service, accounts[1]).has_value());
    EXPECT_TRUE(store->remove(service, accounts[0])) << "removing what is gone still leaves no item";
}

TEST_F(KeyringChild, DISABLED_lockedKeyringReadsAsNoneWithinTheDeadline)
{
    const QString account = QStringLiteral("session");
    ASSERT_TRUE(store->write(service, account, "token"));
    ASSERT_EQ(store->read(service, account), "token");

    QDBusMessage lock = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
        QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
        QStringLiteral("Lock"));
    lock << QVariant::fromValue(QList<QDBusObjectPath> {
        QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/aliases/default")) });
    const QDBusMessage reply = QDBusConnection::sessionBus().call(lock);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();

    // A deadline that would hang the test: a locked keyring is told at once, not waited out.
    const auto patient = SecretStore::create(std::chrono::hours(1));
    EXPECT_EQ(patient->read(service, account), std::nullopt);
    EXPECT_FALSE(patient->write(service, account, "other"));
    EXPECT_FALSE(patient->remove(service, account));
}

// Owns the Secret Service's name and answers only the calls that never
// prompt, saying the item is there and unlocked; everything else goes
// unanswered, as when the keyring waits on a prompt nobody sees.
class SilentService final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        using Paths = QList<QDBusObjectPath>;
        if (message.member() == QLatin1String("SearchItems"))
            connection.send(message.createReply({ QVariant::fromValue(Paths { QDBusObjectPath(QStringLiteral(
                                                      "/org/freedesktop/secrets/collection/login/1")) }),
                QVariant::fromValue(Paths {}) }));
        else if (message.member() == QLatin1String("Get"))
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(false))));
        return true;
    }
};

TEST_F(KeyringChild, DISABLED_silentKeyringReadsAsNoneAtTheDeadline)
{
    const auto deadline = 300ms;
    auto silent = SecretStore::create(deadline);
    // Its own connection and thread, as if it were another process.
    QThread thread;
    thread.start();
    SilentService secrets;
    QDBusConnection bus
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("silent"));
    const QString name = QStringLiteral("org.freedesktop.secrets");
    const QString path = QStringLiteral("/org/freedesktop/secrets");
    ASSERT_TRUE(bus.registerVirtualObject(path, &secrets, QDBusConnection::SubPath));
    secrets.moveToThread(&thread);
    ASSERT_TRUE(bus.registerService(name));

    // Unanswered, so only the deadline ends them.
    EXPECT_EQ(silent->read(service, QStringLiteral("session")), std::nullopt);
    EXPECT_FALSE(silent->write(service, QStringLiteral("session"), "token"));

    // The jobs left unanswered must not hold up the next ones once a real keyring is there.
    ASSERT_TRUE(bus.unregisterService(name));
    bus.unregisterObject(path, QDBusConnection::UnregisterTree);
    thread.quit();
    thread.wait();
    QProcess daemon;
    daemon.start(QStringLiteral("sh"),
        { QStringLiteral("-c"),
            QStringLiteral("printf corvanta | gnome-keyring-daemon --unlock --components=secrets") });
    ASSERT_TRUE(daemon.waitForFinished());
    ASSERT_EQ(daemon.exitCode(), 0) << daemon.readAllStandardError().toStdString();
    ASSERT_TRUE(store->write(service, QStringLiteral("session"), "token"));
    EXPECT_EQ(store->read(service, QStringLiteral("session")), "token");
}

TEST_F(KeyringChild, DISABLED_absentKeyringReadsAsNoneAtOnce)
{
    // A deadline that would hang the test: a missing keyring must not wait for it.
    const auto patient = SecretStore::create(std::chrono::hours(1));
    EXPECT_EQ(patient->read(service, QStringLiteral("session")), std::nullopt);
    EXPECT_FALSE(patient->write(service, QStringLiteral("session"), "token"));
}

struct Environment {
    const char* name;
    bool sessionBus;
    bool keyringDaemon;
    const char* tests;
    int count;
};

void PrintTo(const Environment& environment, std::ostream* out)
{
    *out << environment.name;
}

class KeyringEnvironment : public testing::TestWithParam<Environment> { };

// No display, so nothing could ever show an unlock prompt, and every folder
// the keyring daemon writes to is a temporary one.
TEST_P(KeyringEnvironment, childChecksPass)
{
    const Environment& row = GetParam();
    QTemporaryDir home;
    QProcessEnvironment env = corvanta::test::privateKeyringEnvironment(home);
    ASSERT_FALSE(env.isEmpty());
    env.insert(QString::fromLatin1(childVariable), QStringLiteral("1"));

    QStringList child { QCoreApplication::applicationFilePath(),
        QStringLiteral("--gtest_also_run_disabled_tests"),
        QStringLiteral("--gtest_filter=") + QString::fromLatin1(row.tests) };
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (row.sessionBus) {
        // The daemon creates and unlocks a login keyring; it needs a password.
        const QString script
            = row.keyringDaemon ? corvanta::test::unlockedKeyringScript : QStringLiteral("exec \"$@\"");
        process.start(QStringLiteral("dbus-run-session"),
            QStringList { QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                QStringLiteral("sh") }
                + child);
    } else {
        process.start(child.takeFirst(), child);
    }
    ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    ASSERT_TRUE(process.waitForFinished(60'000)) << "the keyring checks hung";
    const QByteArray output = process.readAll();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    const QByteArray passed = "[  PASSED  ] " + QByteArray::number(row.count) + " test";
    EXPECT_TRUE(output.contains(passed)) << output.toStdString();
    EXPECT_FALSE(output.contains("org.gnome.keyring.SystemPrompter"))
        << "something asked for an unlock prompt\n"
        << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(, KeyringEnvironment,
    testing::Values(Environment { "unlockedThenLocked", true, true,
                        "KeyringChild.DISABLED_accountsKeepTheirOwnItems:"
                        "KeyringChild.DISABLED_lockedKeyringReadsAsNoneWithinTheDeadline",
                        2 },
        Environment {
            "silentKeyring", true, false, "KeyringChild.DISABLED_silentKeyringReadsAsNoneAtTheDeadline", 1 },
        // The bus starts a daemon on demand, one without a login keyring.
        Environment {
            "noKeyringDaemon", true, false, "KeyringChild.DISABLED_absentKeyringReadsAsNoneAtOnce", 1 },
        Environment {
            "noSessionBus", false, false, "KeyringChild.DISABLED_absentKeyringReadsAsNoneAtOnce", 1 }),
    [](const testing::TestParamInfo<Environment>& param) { return std::string(param.param.name); });

} // namespace
} // namespace corvanta
