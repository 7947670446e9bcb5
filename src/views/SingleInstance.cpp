#include "views/SingleInstance.h"

#include "model/Launch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
constexpr int connectTimeout = 800; // ms; a live copy answers at once
const QByteArray showRequest = QByteArrayLiteral("show\n");
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
{
    // Only this user may connect.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::read);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

QString SingleInstance::nameFor(const Launch& launch)
{
    QString key = QDir::homePath();
    if (const std::optional<QString> sandbox = launch.sandbox())
        key += u'|' + *sandbox;
    const QByteArray digest
        = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return u"corvanta-"_s + QString::fromLatin1(digest);
}

bool SingleInstance::claim()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (socket.waitForConnected(connectTimeout)) {
        socket.write(showRequest);
        socket.waitForBytesWritten(connectTimeout);
        socket.disconnectFromServer();
        return false;
    }
    // Nobody answered: a socket file left by a copy that crashed is stale.
    QLocalServer::removeServer(m_name);
    // A socket that can't be made costs only the forwarding; this copy runs.
    m_server.listen(m_name);
    return true;
}

void SingleInstance::read()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // The only request is "show"; anything longer is not ours.
            if (socket->bytesAvailable() > 64) {
                socket->abort();
                return;
            }
            if (socket->canReadLine() && socket->readLine() == showRequest)
                Q_EMIT activated();
        });
    }
}

} // namespace corvanta
