#pragma once

#include "demo/Emulators.h"

#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace corvanta::test {

// What the emulator answered to one request.
struct FirestoreAnswer {
    int status = 0; // 0: nothing answered
    QJsonObject body;
};

// The demo's Firestore emulator with the requests tests make past the rules.
// The constructor returns once it serves; failing to start fails the test.
class FirestoreEmulator {
public:
    FirestoreEmulator();
    ~FirestoreEmulator(); // stops it
    FirestoreEmulator(const FirestoreEmulator&) = delete;
    FirestoreEmulator& operator=(const FirestoreEmulator&) = delete;

    bool running() const { return m_emulator.running(); }
    // "127.0.0.1:PORT", as FIRESTORE_EMULATOR_HOST takes it.
    QString host() const { return m_emulator.host(); }

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
    static QString jar() { return demo::Emulator::firestoreJar(); }

private:
    QString m_project = QString::fromLatin1(demo::Emulator::project);
    demo::Emulator m_emulator { demo::Emulator::Kind::firestore };
};

} // namespace corvanta::test
