#include "platform/linux/DbusNotifier.h"

#include <chrono>

#include <QCoro/QCoroSignal>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QVariantMap>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(logNotify, "corvanta.platform.notify")

// A server that takes longer than this is as good as none.
constexpr auto callTimeout = 5s;

QDBusMessage method(const QString& name)
{
    return QDBusMessage::createMethodCall(
        DbusNotifier::service, DbusNotifier::path, DbusNotifier::service, name);
}

// The reply to `message`, or an error reply when there is no bus, no server
// or no answer in time.
QCoro::Task<QDBusMessage> call(QDBusConnection connection, QDBusMessage message)
{
    const QDBusPendingCall pending = connection.asyncCall(message, int(callTimeout.count() * 1000));
    QDBusPendingCallWatcher watcher(pending);
    if (!watcher.isFinished()) {
        auto finished = qCoro(&watcher, &QDBusPendingCallWatcher::finished);
        co_await finished;
    }
    co_return watcher.reply();
}

} // namespace

DbusNotifier::DbusNotifier(std::optional<QDBusConnection> connection, QString appName)
    : m_connection(std::move(connection))
    , m_appName(std::move(appName))
    , m_ids(std::make_shared<QHash<QString, uint>>())
{
}

QDBusConnection DbusNotifier::connection()
{
    if (!m_connection)
        m_connection = QDBusConnection::sessionBus();
    return *m_connection;
}

QCoro::Task<Permissions::Notifications> DbusNotifier::requestAuthorization()
{
    const QDBusConnection bus = connection();
    const QDBusMessage ping = method(u"GetServerInformation"_s);
    QCoro::Task<QDBusMessage> asking = call(bus, ping);
    const QDBusMessage reply = co_await std::move(asking);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCDebug(logNotify) << "no notification server:" << reply.errorMessage();
        co_return Permissions::Notifications::notDetermined;
    }
    co_return Permissions::Notifications::authorized;
}

QCoro::Task<> DbusNotifier::add(Request request)
{
    const std::shared_ptr<QHash<QString, uint>> ids = m_ids;
    QDBusMessage notify = method(u"Notify"_s);
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the server's
    // default)
    notify << m_appName << ids->value(request.identifier, 0u) << QString() << request.title << request.body
           << QStringList() << QVariantMap() << -1;
    const QDBusConnection bus = connection();
    QCoro::Task<QDBusMessage> posting = call(bus, notify);
    const QDBusMessage reply = co_await std::move(posting);
    const QList<QVariant> values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() != 1
        || values[0].metaType().id() != QMetaType::UInt) {
        qCDebug(logNotify) << "notification dropped:" << reply.errorMessage();
        co_return;
    }
    ids->insert(request.identifier, values[0].toUInt());
}

std::unique_ptr<Notifier> Notifier::create()
{
    return std::make_unique<DbusNotifier>();
}

} // namespace corvanta
