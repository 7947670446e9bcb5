#pragma once

#include "discovery/GitHub.h"

#include <optional>

#include <QMap>
#include <QString>
#include <QUrl>

namespace corvanta {

// The Electron updater's "app-update.yml": a flat list of `key: value` lines
// written by its packager, and the "latest-mac.yml" address it leads to.
namespace ElectronFeed {

// Key to value, the later of two equal keys winning; values lose surrounding
// spaces, tabs and quotes. Nesting and lists are read as plain lines.
QMap<QString, QString> parseConfig(QStringView text);

// The feed for the "generic" provider (its http or https `url`) or the
// "github" provider (`owner` and `repo` under `githubWeb`); none otherwise.
std::optional<QUrl> feedURL(
    const QMap<QString, QString>& config, const QUrl& githubWeb = corvanta::githubWeb);

// The configuration in the file at `path`; none when it can't be read as UTF-8 text.
std::optional<QMap<QString, QString>> readConfig(const QString& path);

// Real files are a few hundred bytes.
inline constexpr qint64 maxFileSize = 1024 * 1024;

} // namespace ElectronFeed

} // namespace corvanta
