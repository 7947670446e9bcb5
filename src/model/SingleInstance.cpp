#include "model/SingleInstance.h"

#include "model/Launch.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
constexpr int connectTimeout = 800; // ms; a live copy answers at once
const QByteArray showRequest = QByteArrayLiteral("show\n");
const QByteArray openPrefix = QByteArrayLiteral("open ");
const QByteArray versionRequest = QByteArrayLiteral("version\n");
const QByteArray quitRequest = QByteArrayLiteral("quit\n");
constexpr int quitTimeout = 5000; // ms for an older copy to let go
} // namespace

SingleInstance::SingleInstance(QString name, QString version, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_version(std::move(version))
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

bool SingleInstance::answered(const QByteArray& request) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(connectTimeout))
        return false;
    socket.write(request);
    socket.waitForBytesWritten(connectTimeout);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::claim()
{
    if (answered(showRequest))
        return false;
    return listenIfFree();
}

bool SingleInstance::listenIfFree()
{
    if (m_server.isListening())
        return true;
    if (answered({}))
        return false;
    // Nobody answered: a socket file left by a copy that crashed is stale.
    QLocalServer::removeServer(m_name);
    // A socket that can't be made costs only the forwarding; this copy runs.
    m_server.listen(m_name);
    return true;
}

bool SingleInstance::forward(const QString& name, const QUrl& url)
{
    const QByteArray request = openPrefix + url.toEncoded() + '\n';
    if (request.size() > maxRequest)
        return false;
    return SingleInstance(name).answered(request);
}

std::optional<QString> SingleInstance::runningVersion() const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(connectTimeout))
        return std::nullopt;
    socket.write(versionRequest);
    socket.waitForBytesWritten(connectTimeout);
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(connectTimeout))
            return std::nullopt;
    }
    return QString::fromUtf8(socket.readLine(maxRequest).trimmed());
}

bool SingleInstance::takeOver() const
{
    if (!answered(quitRequest))
        return true;
    QDeadlineTimer deadline(quitTimeout);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (!socket.waitForConnected(connectTimeout))
            return true;
        // Still listening: the old copy is finishing what it does.
        socket.disconnectFromServer();
        QThread::msleep(50);
    }
    return false;
}

void SingleInstance::read()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                // A request is one line; anything longer is not ours.
                if (socket->bytesAvailable() > maxRequest)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(maxRequest + 1);
            if (line == showRequest) {
                Q_EMIT activated();
            } else if (line == versionRequest) {
                socket->write(m_version.toUtf8() + '\n');
            } else if (line == quitRequest) {
                Q_EMIT quitRequested();
            } else if (line.startsWith(openPrefix) && line.endsWith('\n')) {
                const QUrl url = QUrl::fromEncoded(line.mid(openPrefix.size()).chopped(1), QUrl::StrictMode);
                if (url.isValid() && !url.scheme().isEmpty())
                    Q_EMIT urlOpened(url);
            }
        });
    }
}

} // namespace corvanta
