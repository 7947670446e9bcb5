#include "platform/SecretStore.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(logKeyring, "corvanta.platform.keyring", QtWarningMsg)

using Attributes = QMap<QString, QString>;

const QString secretsName = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");

// Every job runs on one private thread with its own event loop: the caller
// blocks without spinning a nested loop, and QtKeychain's job queue, which
// belongs to the thread that first used it, keeps a live owner.
class KeyringThread {
public:
    static QObject* anchor()
    {
        static KeyringThread* instance = new KeyringThread;
        return instance->m_anchor;
    }

private:
    KeyringThread()
    {
        qDBusRegisterMetaType<Attributes>();
        m_thread.setObjectName(QStringLiteral("corvanta-keyring"));
        m_anchor = new QObject;
        m_anchor->moveToThread(&m_thread);
        m_thread.start();
        // The loop never blocks (every keyring call is asynchronous), so it
        // ends at once when the application goes away.
        qAddPostRoutine([] {
            QThread* thread = anchor()->thread();
            thread->quit();
            thread->wait();
        });
    }

    QThread m_thread;
    QObject* m_anchor = nullptr;
};

struct Outcome {
    std::mutex mutex;
    std::condition_variable settled;
    bool done = false;
    bool ok = false;
    QByteArray data;

    void settle(bool succeeded, QByteArray bytes = {})
    {
        std::lock_guard lock(mutex);
        if (done)
            return;
        done = true;
        ok = succeeded;
        data = std::move(bytes);
        settled.notify_all();
    }
};

enum class Operation { read, write, remove };

struct Request {
    Operation operation;
    QString service;
    QString account;
    QByteArray data;
    QDeadlineTimer deadline;
    std::shared_ptr<Outcome> outcome;
};

int remainingMs(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
}

// Runs the QtKeychain job. One that outlives the deadline is marked finished
// to free QtKeychain's queue but kept alive: the Secret Service may still
// answer into it.
void startJob(const Request& request)
{
    QKeychain::Job* job = nullptr;
    switch (request.operation) {
    case Operation::read:
        job = new QKeychain::ReadPasswordJob(request.service);
        break;
    case Operation::write: {
        auto* write = new QKeychain::WritePasswordJob(request.service);
        write->setBinaryData(request.data);
        job = write;
        break;
    }
    case Operation::remove:
        job = new QKeychain::DeletePasswordJob(request.service);
        break;
    }
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->setKey(request.account);

    auto outcome = request.outcome;
    const Operation operation = request.operation;
    auto expired = std::make_shared<bool>(false);
    auto lateFinishes = std::make_shared<int>(0);
    QObject::connect(job, &QKeychain::Job::finished, job, [=](QKeychain::Job* finished) {
        if (*expired) {
            // Our own finish at the deadline comes first, the keyring's late
            // answer second: only then is the job safe to delete.
            if (++*lateFinishes == 2)
                finished->deleteLater();
            return;
        }
        const auto error = finished->error();
        const bool ok = error == QKeychain::NoError
            || (operation == Operation::remove && error == QKeychain::EntryNotFound);
        if (!ok && error != QKeychain::EntryNotFound)
            qCDebug(logKeyring) << "Keyring job failed:" << finished->errorString();
        outcome->settle(ok,
            ok && operation == Operation::read
                ? static_cast<QKeychain::ReadPasswordJob*>(finished)->binaryData()
                : QByteArray());
        finished->deleteLater();
    });
    QTimer::singleShot(remainingMs(request.deadline), job, [=] {
        *expired = true;
        qCDebug(logKeyring) << "Keyring job passed its deadline.";
        outcome->settle(false);
        job->emitFinishedWithError(
            QKeychain::OtherError, QStringLiteral("The keyring did not answer in time."));
    });
    job->start();
}

// The Secret Service asks for an unlock prompt whenever a job touches a
// locked item or collection, and QtKeychain cannot say no. So look first, with
// calls that never prompt, and start a job only when it won't need one.
void probeThenStart(const Request& request)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        request.outcome->settle(false);
        return;
    }
    QDBusMessage probe;
    if (request.operation == Operation::write) {
        // Writing into a locked default collection, or one not made yet (an
        // error here), would prompt.
        probe = QDBusMessage::createMethodCall(secretsName, secretsPath + QStringLiteral("/aliases/default"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        probe << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    } else {
        probe = QDBusMessage::createMethodCall(secretsName, secretsPath,
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
        // The attributes QtKeychain gives its items.
        probe << QVariant::fromValue(Attributes {
            { QStringLiteral("server"), request.service }, { QStringLiteral("user"), request.account } });
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(probe, remainingMs(request.deadline)));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, KeyringThread::anchor(),
        [request](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusMessage reply = finished->reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 1) {
                qCDebug(logKeyring) << "Secret Service probe failed:" << reply.errorMessage();
                request.outcome->settle(false);
                return;
            }
            if (request.operation == Operation::write) {
                const bool locked = qdbus_cast<QDBusVariant>(reply.arguments().at(0)).variant().toBool();
                if (locked)
                    request.outcome->settle(false);
                else
                    startJob(request);
                return;
            }
            if (reply.arguments().size() < 2) {
                request.outcome->settle(false);
                return;
            }
            const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
            const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1));
            if (!unlocked.isEmpty())
                startJob(request);
            else
                // No item reads as none and is already removed; a locked one is neither.
                request.outcome->settle(request.operation == Operation::remove && locked.isEmpty());
        });
}

class KeychainStore final : public SecretStore {
public:
    explicit KeychainStore(std::chrono::milliseconds deadline)
        : m_deadline(deadline)
    {
    }

    std::optional<QByteArray> read(const QString& service, const QString& account) override
    {
        auto outcome = run(Operation::read, service, account);
        if (!outcome->ok)
            return std::nullopt;
        return outcome->data;
    }

    bool write(const QString& service, const QString& account, const QByteArray& data) override
    {
        return run(Operation::write, service, account, data)->ok;
    }

    bool remove(const QString& service, const QString& account) override
    {
        return run(Operation::remove, service, account)->ok;
    }

private:
    // The keyring thread settles every request by its deadline; the margin
    // only matters if that thread is starved.
    std::shared_ptr<Outcome> run(
        Operation operation, const QString& service, const QString& account, const QByteArray& data = {})
    {
        auto outcome = std::make_shared<Outcome>();
        Request request { operation, service, account, data, QDeadlineTimer(m_deadline), outcome };
        QMetaObject::invokeMethod(
            KeyringThread::anchor(), [request] { probeThenStart(request); }, Qt::QueuedConnection);

        std::unique_lock lock(outcome->mutex);
        outcome->settled.wait_for(
            lock, m_deadline + std::chrono::milliseconds(250), [&] { return outcome->done; });
        if (!outcome->done)
            return std::make_shared<Outcome>();
        return outcome;
    }

    std::chrono::milliseconds m_deadline;
};

} // namespace

std::unique_ptr<SecretStore> SecretStore::create(std::chrono::milliseconds deadline)
{
    return std::make_unique<KeychainStore>(deadline);
}

} // namespace corvanta
