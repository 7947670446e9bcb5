#pragma once

#include <QCoro/QCoroTask>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace corvanta::demo {

// One of the real Firebase emulators as a child process on a free port of
// 127.0.0.1, project "demo-test": Authentication (firebase-tools, which
// scripts/setup.sh --emulators installs) or Cloud Firestore (the Java
// emulator) enforcing the repository's firestore.rules. It stops when
// stopped, destroyed, or when this process dies.
class Emulator {
public:
    enum class Kind { authentication, firestore };

    explicit Emulator(Kind kind);
    ~Emulator(); // stops it
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Starts it and returns once it serves. Throws Error saying why not,
    // with what it printed.
    QCoro::Task<> start();
    // The two halves of start(): the process is started (throws Error), then
    // its output is read until it says it serves.
    void launch();
    QCoro::Task<> ready();
    // Politely, then for good: the emulators save nothing worth waiting for.
    void stop();

    Kind kind() const { return m_kind; }
    bool running() const { return m_process.state() == QProcess::Running; }
    quint16 port() const { return m_port; }
    // "127.0.0.1:PORT", as the *_EMULATOR_HOST variables take it.
    QString host() const;

    static constexpr auto project = "demo-test";
    // Where scripts/setup.sh puts firebase-tools; CORVANTA_FIREBASE overrides it.
    static QString firebaseCommand();
    // CORVANTA_FIRESTORE_JAR, else the Debian package's jar, else the one
    // `firebase setup:emulators:firestore` downloads.
    static QString firestoreJar();
    // Whether this emulator and what runs it are installed; when not, the
    // sentence says what is missing.
    static bool installed(Kind kind, QString* missing = nullptr);

private:
    Kind m_kind;
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_ready; // what it prints once it serves
};

// Both emulators, as the program finds them: its environment and a Firebase
// settings file whose project they serve.
class Emulators {
public:
    Emulators();

    // Whether both can run here; `missing` says what isn't installed.
    static bool installed(QString* missing = nullptr);
    QCoro::Task<> start(); // throws Error
    void stop();
    bool running() const { return m_auth.running() && m_firestore.running(); }

    Emulator& authentication() { return m_auth; }
    Emulator& firestore() { return m_firestore; }
    // FIREBASE_AUTH_EMULATOR_HOST and FIRESTORE_EMULATOR_HOST.
    QProcessEnvironment environment() const;
    // A --firebase-config file for their project, in their own folder.
    QString configFile() const { return m_folder.filePath(QStringLiteral("firebase.json")); }

private:
    Emulator m_auth;
    Emulator m_firestore;
    QTemporaryDir m_folder;
};

} // namespace corvanta::demo
