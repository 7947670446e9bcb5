#pragma once

#include "platform/HostInfo.h"

#include <optional>
#include <vector>

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvanta::demo {

// Where a demo world keeps its parts, under one root folder.
struct WorldLayout {
    QString root;

    QString applications() const { return root + QStringLiteral("/Applications"); }
    // What the server serves: every path of a URL below the server's base.
    QString documents() const { return root + QStringLiteral("/Server"); }
    // The demo certificate authority's root, the trust anchor of a demo run.
    QString anchors() const { return root + QStringLiteral("/Anchors"); }
    QString manifest() const { return root + QStringLiteral("/manifest.json"); }
    // The settings of a run on this world, kept apart from the user's own.
    QString preferences() const { return root + QStringLiteral("/Preferences.ini"); }
    // Beside the Applications folder, as a sandboxed run places them.
    QString trash() const { return root + QStringLiteral("/Trash"); }
    QString library() const { return root + QStringLiteral("/Library"); }
};

// What a check must say about one sample app.
struct ExpectedCheck {
    QString status; // "update", "upToDate" or "cantVerify", as `corvanta check --json` names them
    std::optional<QString> source; // the label of the source whose release counts
    std::optional<QString> release; // that release's label
    std::optional<QString> text; // the exact reason of "can't verify"
};

// What "Update All" must do with a sample app that has an update.
struct ExpectedUpdate {
    enum class Outcome { installed, refused, notOffered };
    Outcome outcome = Outcome::installed;
    std::optional<QString> version; // installed: the version the new bundle holds
    std::optional<QString> text; // refused or not offered: the exact sentence
    QStringList log; // installed: lines the install log holds, in order

    static QString name(Outcome outcome);
};

// What restoring the app from the cloud library onto an empty Mac must give.
struct ExpectedRestore {
    enum class Outcome { installed, refused, appStore, manual };
    Outcome outcome = Outcome::installed;
    std::optional<QString> version; // installed: the version the restored bundle holds
    std::optional<QString> team; // installed: the Team ID it was checked against
    std::optional<QString> text; // refused: the row's note; manual: the reason

    static QString name(Outcome outcome);
    static constexpr Outcome outcomes[]
        = { Outcome::installed, Outcome::refused, Outcome::appStore, Outcome::manual };
};

struct SampleApp {
    QString name;
    QString path; // relative to the Applications folder: "Gauge.app", "Utilities/Gauge.app"
    QString bundleID;
    std::optional<QString> version;
    std::optional<QString> build;
    QString signing; // "developerID", "adHoc" or "unsigned"
    std::optional<QString> team;
    bool edKey = false;
    QString about; // what the sample shows, in one line
    QString digest; // treeDigest() of the bundle as the world was made
    ExpectedCheck check;
    std::optional<ExpectedUpdate> update; // for an expected update only
    std::optional<ExpectedRestore> restore; // none: the library doesn't list it (an Apple app)
};

// The world's own description: its address, the Mac its expectations hold
// for, and every sample app with what checking and updating it must give.
struct Manifest {
    QUrl base; // every URL of the world starts with it
    bool signedCode = false; // the bundles carry code signatures
    SystemVersion macOS { 15, 0, 0 };
    bool appleSilicon = true;
    std::vector<SampleApp> apps;

    const SampleApp* app(const QString& bundleID) const;

    QJsonObject toJson() const;
    // Throws Error when the document isn't a manifest.
    static Manifest fromJson(const QJsonObject& json);

    void save(const QString& path) const; // throws Error
    static Manifest load(const QString& path); // throws Error
};

} // namespace corvanta::demo
