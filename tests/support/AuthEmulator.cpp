#include "support/AuthEmulator.h"

#include "support/EmulatorProcess.h"

#include <functional>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

// A port free a moment ago: taken, then released for the emulator.
quint16 freePort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    return probe.serverPort();
}

} // namespace

QString AuthEmulator::command()
{
    const QString given = qEnvironmentVariable("CORVANTA_FIREBASE");
    if (!given.isEmpty())
        return given;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty())
        cache = QDir::homePath() + u"/.cache"_s;
    return cache + u"/corvanta/firebase-tools/node_modules/.bin/firebase"_s;
}

AuthEmulator::AuthEmulator()
{
    if (!QFile::exists(command())) {
        ADD_FAILURE() << "no firebase-tools at " << qPrintable(command()) << ": run scripts/setup.sh";
        return;
    }
    m_port = freePort();
    // The hub and the logging service listen too; free ports keep parallel
    // test programs apart.
    const QJsonObject emulators {
        { u"auth"_s, QJsonObject { { u"host"_s, u"127.0.0.1"_s }, { u"port"_s, m_port } } },
        { u"hub"_s, QJsonObject { { u"host"_s, u"127.0.0.1"_s }, { u"port"_s, freePort() } } },
        { u"logging"_s, QJsonObject { { u"host"_s, u"127.0.0.1"_s }, { u"port"_s, freePort() } } },
        { u"ui"_s, QJsonObject { { u"enabled"_s, false } } },
    };
    QFile config(m_folder.filePath(u"firebase.json"_s));
    if (!config.open(QIODevice::WriteOnly)
        || config.write(QJsonDocument(QJsonObject { { u"emulators"_s, emulators } }).toJson()) < 0) {
        ADD_FAILURE() << "can't write " << qPrintable(config.fileName());
        return;
    }
    config.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"CI"_s, u"true"_s);
    environment.insert(u"NO_UPDATE_NOTIFIER"_s, u"1"_s);
    m_process.setProcessEnvironment(environment);
    m_process.setWorkingDirectory(m_folder.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(command(),
        { u"emulators:start"_s, u"--only"_s, u"auth"_s, u"--project"_s, QString::fromLatin1(project),
            u"--config"_s, config.fileName() });
    if (!waitUntilAnswering())
        ADD_FAILURE() << "the Authentication emulator didn't start:\n" << m_process.readAll().toStdString();
}

AuthEmulator::~AuthEmulator()
{
    stopEmulator(m_process);
}

QString AuthEmulator::host() const
{
    return emulatorHost(m_port);
}

bool AuthEmulator::waitUntilAnswering()
{
    // Polls until any HTTP answer comes back, or the process ends, or a
    // minute passes (a cold start of Node takes a few seconds).
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { loop.quit(); });
    QObject::connect(&m_process, &QProcess::finished, &loop, [&] { loop.quit(); });
    QNetworkAccessManager http;
    bool answered = false;
    std::function<void()> probe = [&] {
        QNetworkReply* reply = http.get(QNetworkRequest(QUrl(u"http://%1/"_s.arg(host()))));
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            reply->deleteLater();
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
                answered = true;
                loop.quit();
            } else if (m_process.state() != QProcess::NotRunning) {
                QTimer::singleShot(100, &loop, probe);
            }
        });
    };
    if (!m_process.waitForStarted())
        return false;
    deadline.start(60'000);
    probe();
    loop.exec();
    return answered;
}

std::optional<QByteArray> AuthEmulator::admin(const QByteArray& verb, const QString& path)
{
    QNetworkAccessManager http;
    QNetworkRequest request(QUrl(u"http://%1%2"_s.arg(host(), path)));
    request.setRawHeader("Authorization", "Bearer owner");
    request.setTransferTimeout(20'000);
    QNetworkReply* reply = http.sendCustomRequest(request, verb);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        ADD_FAILURE() << verb.constData() << ' ' << qPrintable(path) << ": "
                      << qPrintable(reply->errorString());
        return std::nullopt;
    }
    return reply->readAll();
}

QList<OobCode> AuthEmulator::oobCodes()
{
    QList<OobCode> codes;
    const auto body = admin("GET", u"/emulator/v1/projects/%1/oobCodes"_s.arg(QLatin1StringView(project)));
    if (!body)
        return codes;
    const QJsonArray list = QJsonDocument::fromJson(*body).object().value(u"oobCodes"_s).toArray();
    for (const QJsonValue& entry : list) {
        const QJsonObject code = entry.toObject();
        codes.append({ code.value(u"email"_s).toString(), code.value(u"requestType"_s).toString(),
            code.value(u"oobCode"_s).toString() });
    }
    return codes;
}

void AuthEmulator::clear()
{
    admin("DELETE", u"/emulator/v1/projects/%1/accounts"_s.arg(QLatin1StringView(project)));
}

} // namespace corvanta::test
