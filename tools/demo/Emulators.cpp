#include "demo/Emulators.h"

#include "base/Error.h"

#include <csignal>

#include <QCoro/QCoroProcess>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpServer>

#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

const QString packagedJar
    = u"/usr/lib/google-cloud-sdk/platform/cloud-firestore-emulator/cloud-firestore-emulator.jar"_s;

// A port free a moment ago: taken, then released for the emulator.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        throw Error(u"There's no free port on 127.0.0.1 for an emulator."_s);
    return probe.serverPort();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw Error(u"Couldn't write %1: %2"_s.arg(path, file.errorString()));
}

QString name(Emulator::Kind kind)
{
    return kind == Emulator::Kind::authentication ? u"Authentication emulator"_s : u"Firestore emulator"_s;
}

} // namespace

Emulator::Emulator(Kind kind)
    : m_kind(kind)
{
}

Emulator::~Emulator()
{
    stop();
}

QString Emulator::host() const
{
    return u"127.0.0.1:%1"_s.arg(m_port);
}

QString Emulator::firebaseCommand()
{
    const QString given = qEnvironmentVariable("CORVANTA_FIREBASE");
    if (!given.isEmpty())
        return given;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty())
        cache = QDir::homePath() + u"/.cache"_s;
    return cache + u"/corvanta/firebase-tools/node_modules/.bin/firebase"_s;
}

QString Emulator::firestoreJar()
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

bool Emulator::installed(Kind kind, QString* missing)
{
    const auto lacking = [missing](const QString& what) {
        if (missing)
            *missing = what;
        return false;
    };
    if (kind == Kind::authentication) {
        if (!QFile::exists(firebaseCommand()))
            return lacking(u"firebase-tools isn't installed at "_s + firebaseCommand());
        if (QStandardPaths::findExecutable(u"node"_s).isEmpty())
            return lacking(u"Node.js isn't installed"_s);
        return true;
    }
    if (!QFile::exists(firestoreJar()))
        return lacking(u"the Firestore emulator isn't installed at "_s + firestoreJar());
    if (QStandardPaths::findExecutable(u"java"_s).isEmpty())
        return lacking(u"Java isn't installed"_s);
    return true;
}

QCoro::Task<> Emulator::start()
{
    launch();
    QCoro::Task<> waiting = ready();
    co_await std::move(waiting);
}

void Emulator::launch()
{
    QString missing;
    if (!installed(m_kind, &missing))
        throw Error(u"Can't start the %1: %2."_s.arg(name(m_kind), missing));
    if (!m_folder.isValid())
        throw Error(u"Couldn't make a folder for the %1: %2"_s.arg(name(m_kind), m_folder.errorString()));
    m_port = freePort();
    if (m_kind == Kind::authentication) {
        // The hub and the logging service listen too; free ports keep
        // parallel runs apart.
        const QJsonObject emulators {
            { u"auth"_s, QJsonObject { { u"host"_s, u"127.0.0.1"_s }, { u"port"_s, m_port } } },
            { u"hub"_s, QJsonObject { { u"host"_s, u"127.0.0.1"_s }, { u"port"_s, freePort() } } },
            { u"logging"_s, QJsonObject { { u"host"_s, u"127.0.0.1"_s }, { u"port"_s, freePort() } } },
            { u"ui"_s, QJsonObject { { u"enabled"_s, false } } },
        };
        const QString config = m_folder.filePath(u"firebase.json"_s);
        writeFile(config, QJsonDocument(QJsonObject { { u"emulators"_s, emulators } }).toJson());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"CI"_s, u"true"_s);
        environment.insert(u"NO_UPDATE_NOTIFIER"_s, u"1"_s);
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_folder.path());
        m_process.setProgram(firebaseCommand());
        m_process.setArguments({ u"emulators:start"_s, u"--only"_s, u"auth"_s, u"--project"_s,
            QString::fromLatin1(project), u"--config"_s, config });
        m_ready = "All emulators ready";
    } else {
        const QString rules = m_folder.filePath(u"firestore.rules"_s);
        QFile bundled(u":/demo/firestore.rules"_s);
        if (!bundled.open(QIODevice::ReadOnly))
            throw Error(u"This build has no Firestore rules for the emulator."_s);
        writeFile(rules, bundled.readAll());
        const QString jar = firestoreJar();
        // The Debian package's jar names no main class; the downloaded one does.
        const QStringList launcher = jar == packagedJar ? QStringList { u"-cp"_s, jar,
            u"com.google.cloud.datastore.emulator.firestore.CloudFirestore"_s, u"start"_s }
                                                        : QStringList { u"-jar"_s, jar };
        m_process.setProgram(u"java"_s);
        m_process.setArguments(QStringList { u"-Duser.language=en"_s } + launcher
            + QStringList { u"--host=127.0.0.1"_s, u"--port=%1"_s.arg(m_port),
                u"--project_id="_s + QString::fromLatin1(project), u"--single_project_mode=true"_s,
                u"--rules="_s + rules });
        m_ready = "Dev App Server is now running";
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Whatever ends this process takes the emulator with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
}

QCoro::Task<> Emulator::ready()
{
    // A cold start of Node or Java takes a few seconds.
    QByteArray output;
    const QDeadlineTimer deadline(std::chrono::seconds(90));
    while (!output.contains(m_ready) && m_process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        auto reading = qCoro(m_process).waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        co_await std::move(reading);
        output += m_process.readAll();
    }
    if (!output.contains(m_ready)) {
        stop();
        throw Error(u"The %1 didn't start:\n%2"_s.arg(name(m_kind), QString::fromUtf8(output).trimmed()));
    }
    // Its log of every request isn't needed, and mustn't pile up in memory.
    QObject::connect(&m_process, &QProcess::readyRead, &m_process, [this] { m_process.readAll(); });
}

void Emulator::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(15'000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

Emulators::Emulators()
    : m_auth(Emulator::Kind::authentication)
    , m_firestore(Emulator::Kind::firestore)
{
}

bool Emulators::installed(QString* missing)
{
    return Emulator::installed(Emulator::Kind::authentication, missing)
        && Emulator::installed(Emulator::Kind::firestore, missing);
}

QCoro::Task<> Emulators::start()
{
    if (!m_folder.isValid())
        throw Error(u"Couldn't make a folder for the emulators' settings: "_s + m_folder.errorString());
    writeFile(configFile(),
        QJsonDocument(QJsonObject { { u"apiKey"_s, u"demo-key"_s },
                          { u"projectId"_s, QString::fromLatin1(Emulator::project) } })
            .toJson());
    // Both start at once; Node and Java take a few seconds each.
    m_auth.launch();
    m_firestore.launch();
    QCoro::Task<> authentication = m_auth.ready();
    co_await std::move(authentication);
    QCoro::Task<> firestore = m_firestore.ready();
    co_await std::move(firestore);
}

void Emulators::stop()
{
    m_firestore.stop();
    m_auth.stop();
}

QProcessEnvironment Emulators::environment() const
{
    QProcessEnvironment environment;
    environment.insert(u"FIREBASE_AUTH_EMULATOR_HOST"_s, m_auth.host());
    environment.insert(u"FIRESTORE_EMULATOR_HOST"_s, m_firestore.host());
    return environment;
}

} // namespace corvanta::demo
