#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUrl>

namespace corvanta::demo {

// The documents the update sources publish, written the way their real
// publishers write them.

struct Enclosure {
    QUrl url;
    qint64 length = 0;
    std::optional<QString> edSignature;
    std::optional<QString> os; // sparkle:os
    QString type = QStringLiteral("application/octet-stream");
};

// A delta update from one older build; never offered, but real feeds carry them.
struct Delta {
    QUrl url;
    QString fromBuild;
    qint64 length = 0;
    std::optional<QString> edSignature;
};

struct AppcastEntry {
    QString title;
    std::optional<QString> shortVersion; // sparkle:shortVersionString
    std::optional<QString> build; // sparkle:version
    bool versionsOnEnclosure = false; // the older style: versions as enclosure attributes
    std::optional<QString> channel;
    std::optional<QString> minimumSystem;
    std::optional<QString> maximumSystem;
    QString notesHtml; // <description>, as CDATA
    std::optional<QUrl> notesLink; // sparkle:releaseNotesLink
    std::optional<Enclosure> enclosure;
    std::vector<Delta> deltas;
    QDateTime published;
};

// A Sparkle appcast: RSS 2.0 with the sparkle namespace.
QByteArray appcast(const QString& title, const QUrl& link, const std::vector<AppcastEntry>& entries);

struct ReleaseAsset {
    QString name;
    QUrl url;
    qint64 size = 0;
    std::optional<QString> sha256; // given as GitHub's "digest"
    QString contentType = QStringLiteral("application/zip");
};

// GitHub's REST answer for a repository's latest release; `releasesURL` is
// the repository's ".../releases/" address on the API host.
QByteArray githubRelease(const QUrl& releasesURL, const QString& tag, const QString& body,
    const QUrl& htmlURL, const std::vector<ReleaseAsset>& assets, const QDateTime& published);

struct ElectronFile {
    QString url; // relative to the feed, as electron-builder writes it
    QString sha512; // Base64
    qint64 size = 0;
};

// electron-builder's latest-mac.yml.
QByteArray latestMacYml(
    const QString& version, const std::vector<ElectronFile>& files, const QDateTime& released);

// One "results" entry of the App Store lookup service.
QJsonObject lookupResult(const QString& bundleID, const QString& name, const QString& version, qint64 trackID,
    const QString& releaseNotes, const QString& seller);
// The whole lookup answer.
QByteArray lookupAnswer(const std::vector<QJsonObject>& results);

} // namespace corvanta::demo
