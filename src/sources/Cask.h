#pragma once

#include "sources/Release.h"

#include <optional>

#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvanta {

// One entry of the Homebrew cask index, reduced to what finding an app's
// cask, its release, its GitHub repository and its leftovers needs.
struct Cask {
    QString token; // unique; alternative editions contain "@"
    QString version; // may carry ",build" parts, or be "latest"; empty when none
    std::optional<QUrl> url;
    std::optional<QString> sha256; // "no_check" when the cask has none
    std::optional<QString> homepage;
    QStringList apps; // app bundle names the cask installs ("Example.app")
    QStringList bundleIDs; // the bundle identifiers the cask names
    // Its bundle identifiers, then every string of its uninstall and zap
    // stanzas, one per line, lowercased; only for matching.
    QString mentions;
    QStringList zap; // "~/Library/..." paths its zap stanza removes
    std::optional<QString> pkg; // the installer package it runs, if any

    // The cask's release, of kind homebrew. Throws CheckError for an
    // unversioned cask, which can't say what's newest.
    Release release() const;

    // "owner/name" of the GitHub repository the home page or download URL names.
    std::optional<QString> githubRepo() const;
    // "owner/name" of the first GitHub repository address in `text`.
    static std::optional<QString> repo(const QString& text);

    // The key of the index's per-system variations for a Mac on `arm` (Apple
    // silicon) running major version `macOS`: "arm64_sequoia", "ventura", …
    static std::optional<QString> variationKey(bool arm, int macOS);

    friend bool operator==(const Cask&, const Cask&) = default;
};

} // namespace corvanta
