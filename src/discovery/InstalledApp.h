#pragma once

#include <optional>

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
    bool canInstall(const std::optional<Release>& release) const;

    // The bundle identifier of the running program.
    static QString ownBundleID;
};

} // namespace corvanta
