#pragma once

#include <optional>

#include <QJsonObject>
#include <QString>
#include <QUrl>

namespace corvanta {

struct Release;

// One app bundle as the scanner read it from disk; immutable once made.
struct InstalledApp {
    QUrl url; // the bundle, e.g. file:///Applications/Example.app
    QUrl folder; // the scanned root folder it was found under
    QString name; // the bundle's file name without ".app"
    QString bundleID;
    std::optional<QString> version; // CFBundleShortVersionString
    std::optional<QString> build; // CFBundleVersion
    std::optional<QString> team; // Team Identifier of the code signature
    bool isAppStore = false;
    std::optional<QUrl> feedURL; // SUFeedURL
    std::optional<QString> edKey; // SUPublicEDKey
    std::optional<QUrl> electronFeed; // latest-mac.yml derived from app-update.yml

    // The app is this program itself.
    bool isCorvanta() const;
    // Whether an update from `release` may be installed automatically.
    // Defined with the sources, which own Release.
    bool canInstall(const std::optional<Release>& release) const;

    // Every field, none as null; for the command line and diagnostics.
    QJsonObject toJson() const;

    // The bundle identifier of the running program, set once at start-up by
    // whoever knows it; empty when the program runs outside a bundle.
    static QString ownBundleID;
    // What the program calls itself when it has no bundle identifier.
    static inline const QString defaultBundleID = QStringLiteral("com.brenmoral.corvanta");

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

} // namespace corvanta
