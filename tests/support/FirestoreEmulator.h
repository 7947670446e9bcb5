#pragma once

#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

namespace corvanta::test {

// What the emulator answered to one request.
struct FirestoreAnswer {
    int status = 0; // 0: nothing answered
    QJsonObject body;
};

// The real Cloud Firestore emulator (Java) on a free port of 127.0.0.1,
// project "demo-test", enforcing the repository's firestore.rules. The
// constructor returns once it serves; failing to start fails the test.
class FirestoreEmulator {
public:
    FirestoreEmulator();
    ~FirestoreEmulator(); // stops it
    FirestoreEmulator(const FirestoreEmulator&) = delete;
    FirestoreEmulator& operator=(const FirestoreEmulator&) = delete;

    bool running() const { return m_process.state() == QProcess::Running; }
    // "127.0.0.1:PORT", as FIRESTORE_EMULATOR_HOST takes it.
    QString host() const;

    // Deletes every document.
    void clear();

    // A request to the documents endpoint ("/users/u/apps", ":commit") as the
    // holder of `token` sends it; "owner" passes every rule.
    FirestoreAnswer send(const QByteArray& verb, const QString& rest, const QString& token = ownerToken,
        const std::optional<QJsonObject>& body = std::nullopt);
    // The stored document at `path` ("users/u/apps/x") as Firestore returns
    // it, read past the rules; none when there is none.
    std::optional<QJsonObject> document(const QString& path);
    // The document's "fields" in their plain JSON form: strings, booleans,
    // timestamps as strings, maps as objects.
    QJsonObject fields(const QString& path);

    static inline const QString ownerToken = QStringLiteral("owner");
    // The emulator's jar: CORVANTA_FIRESTORE_JAR, else the Debian package's,
    // else the one `firebase setup:emulators:firestore` downloads.
    static QString jar();
    static QString rulesFile();

private:
    QString m_project = QStringLiteral("demo-test");
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace corvanta::test
