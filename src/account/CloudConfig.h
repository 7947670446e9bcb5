#pragma once

#include <optional>

#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

namespace corvanta {

// The Firebase settings of this build. Absent settings switch every account
// and library feature off.
struct CloudConfig {
    QString apiKey;
    QString projectId;
    QString googleClientID;
    QString authHost = QStringLiteral("https://");
    QString firestoreHost = QStringLiteral("https://firestore.googleapis.com/v1/");
    bool emulated = false;

    // The settings from `configFile` (the "--firebase-config" argument) or,
    // without one, from the firebase.json installed beside the program, with
    // the Authentication emulator of `environment` applied. Read once by the
    // composition root, which keeps the result.
    static std::optional<CloudConfig> current(const std::optional<QString>& configFile,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    // The settings in one file; none when it is missing, unreadable or invalid.
    static std::optional<CloudConfig> read(const QString& path);
    // <prefix>/share/corvanta/firebase.json for the program in <prefix>/bin.
    static QString bundledFile();

    // Firebase's own convention: FIREBASE_AUTH_EMULATOR_HOST=host:port sends
    // both authentication services to the emulator.
    void applyEmulator(const QProcessEnvironment& environment);

    QUrl identity(const QString& method) const;
    QUrl tokenURL() const;
};

} // namespace corvanta
