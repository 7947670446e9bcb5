#pragma once

#include <optional>

#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

namespace corvanta {

// Google's OAuth 2.0 endpoints. A settings file may name others (a test's or
// the demo's server): https, or http on this computer only.
struct GoogleEndpoints {
    QUrl authorization = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
    QUrl token = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
};

// The Firebase settings of this build. Absent settings switch every account
// and library feature off.
struct CloudConfig {
    QString apiKey;
    QString projectId;
    QString googleClientID;
    QString authHost = QStringLiteral("https://");
    // The Firestore REST service; the library client appends "v1/projects/…".
    QString firestoreHost = QStringLiteral("https://firestore.googleapis.com/");
    bool emulated = false;
    GoogleEndpoints google;

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
    // both authentication services to the emulator, FIRESTORE_EMULATOR_HOST
    // the library.
    void applyEmulator(const QProcessEnvironment& environment);

    QUrl identity(const QString& method) const;
    QUrl tokenURL() const;
};

} // namespace corvanta
