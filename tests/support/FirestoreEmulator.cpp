#include "support/FirestoreEmulator.h"

#include "support/EmulatorProcess.h"

#include <csignal>

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpServer>

#include <gtest/gtest.h>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

const QString packagedJar
    = u"/usr/lib/google-cloud-sdk/platform/cloud-firestore-emulator/cloud-firestore-emulator.jar"_s;

// A Firestore value in plain JSON, for comparing whole documents at a glance.
QJsonValue plain(const QJsonObject& value)
{
    if (value.contains(u"mapValue"_s)) {
        const QJsonObject fields = value.value(u"mapValue"_s).toObject().value(u"fields"_s).toObject();
        QJsonObject result;
        for (auto it = fields.begin(); it != fields.end(); ++it)
            result.insert(it.key(), plain(it.value().toObject()));
        return result;
    }
    return value.begin() == value.end() ? QJsonValue() : value.begin().value();
}

} // namespace

QString FirestoreEmulator::jar()
{
    const QString given = qEnvironmentVariable("CORVANTA_FIRESTORE_JAR");
    if (!given.isEmpty())
        return given;
    if (QFile::exists(packagedJar))
        return packagedJar;
    const QString cache
        = qEnvironmentVariable("FIREBASE_EMULATORS_PATH", QDir::homePath() + u"/.cache/firebase/emulators"_s);
    const QStringList downloaded
        = QDir(cache).entryList({ u"cloud-firestore-emulator-v*.jar"_s }, QDir::Files, QDir::Name);
    return downloaded.isEmpty() ? packagedJar : QDir(cache).filePath(downloaded.last());
}

QString FirestoreEmulator::rulesFile()
{
    return QStringLiteral(CORVANTA_TESTS_DIR "/../firestore.rules");
}

FirestoreEmulator::FirestoreEmulator()
{
    if (!QFile::exists(jar())) {
        ADD_FAILURE() << "no Firestore emulator at " << qPrintable(jar()) << ": run scripts/setup.sh --tests";
        return;
    }
    {
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
        m_port = probe.serverPort();
    }
    const QStringList options { u"--host=127.0.0.1"_s, u"--port=%1"_s.arg(m_port),
        u"--project_id="_s + m_project, u"--single_project_mode=true"_s, u"--rules="_s + rulesFile() };
    // The Debian package's jar names no main class; the downloaded one does.
    const QStringList launcher = jar() == packagedJar ? QStringList { u"-cp"_s, jar(),
        u"com.google.cloud.datastore.emulator.firestore.CloudFirestore"_s, u"start"_s }
                                                      : QStringList { u"-jar"_s, jar() };
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test program that crashes takes its emulator with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(u"java"_s, QStringList { u"-Duser.language=en"_s } + launcher + options);
    QByteArray output;
    const QDeadlineTimer deadline(60'000);
    while (!output.contains("Dev App Server is now running")
        && m_process.waitForReadyRead(int(deadline.remainingTime())))
        output += m_process.readAll();
    if (!output.contains("Dev App Server is now running"))
        ADD_FAILURE() << "the Firestore emulator didn't start:\n" << output.toStdString();
}

FirestoreEmulator::~FirestoreEmulator()
{
    stopEmulator(m_process);
}

QString FirestoreEmulator::host() const
{
    return emulatorHost(m_port);
}

FirestoreAnswer FirestoreEmulator::send(
    const QByteArray& verb, const QString& rest, const QString& token, const std::optional<QJsonObject>& body)
{
    const QString base = rest.startsWith(u"/emulator/"_s)
        ? QString()
        : u"/v1/projects/%1/databases/(default)/documents"_s.arg(m_project);
    QNetworkRequest request(QUrl(u"http://"_s + host() + base + rest));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(20'000);
    QNetworkAccessManager http;
    QNetworkReply* reply = http.sendCustomRequest(
        request, verb, body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    reply->deleteLater();
    return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
        QJsonDocument::fromJson(reply->readAll()).object() };
}

void FirestoreEmulator::clear()
{
    const FirestoreAnswer answer
        = send("DELETE", u"/emulator/v1/projects/%1/databases/(default)/documents"_s.arg(m_project));
    EXPECT_EQ(answer.status, 200) << "clearing the Firestore emulator";
}

std::optional<QJsonObject> FirestoreEmulator::document(const QString& path)
{
    const FirestoreAnswer answer = send("GET", u'/' + path);
    EXPECT_TRUE(answer.status == 200 || answer.status == 404) << path.toStdString() << ": " << answer.status;
    return answer.status == 200 ? std::optional(answer.body) : std::nullopt;
}

QJsonObject FirestoreEmulator::fields(const QString& path)
{
    return plain(QJsonObject { { u"mapValue"_s, document(path).value_or(QJsonObject()) } }).toObject();
}

} // namespace corvanta::test
