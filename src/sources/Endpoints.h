#pragma once

#include "discovery/GitHub.h"

#include <QUrl>

namespace corvanta {

// Base URLs of the web services the sources read. Paths are appended to them
// ("lookup", "api/cask.json", "cask/<token>", "repos/<owner>/<repo>/releases/latest").
struct Endpoints {
    QUrl itunes { QStringLiteral("https://itunes.apple.com") };
    QUrl brew { QStringLiteral("https://formulae.brew.sh") };
    QUrl github { QStringLiteral("https://api.github.com") };

    // All three at one base, as the --mock launch argument asks.
    static Endpoints mock(const QUrl& base) { return { base, base, base }; }
};

// `base` with `path` appended, whatever the base's trailing slash.
QUrl appendPath(const QUrl& base, const QString& path);

} // namespace corvanta
