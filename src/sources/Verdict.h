#pragma once

#include "sources/Release.h"
#include "sources/Status.h"

#include <optional>
#include <vector>

#include <QMap>
#include <QString>
#include <QStringList>

namespace corvanta {

struct InstalledApp;

// Turns a checked app into the status the list shows.
namespace Verdict {

// `ignoredApps` are bundle identifiers; `ignoredVersions` maps a bundle
// identifier to the one release label the user chose to skip.
Status status(const InstalledApp& app, const std::optional<Release>& release,
    const std::vector<Attempt>& attempts, const QStringList& ignoredApps,
    const QMap<QString, QString>& ignoredVersions);

// Why no source could say what's newest: the last failure, or why no
// source applies at all.
QString reason(const InstalledApp& app, const std::vector<Attempt>& attempts);

} // namespace Verdict

} // namespace corvanta
