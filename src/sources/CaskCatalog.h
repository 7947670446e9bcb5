#pragma once

#include "sources/Cask.h"

#include <optional>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QString>

namespace corvanta {

// The three lookups built from one cask index document. Built off the main
// thread, then handed over whole and never changed.
struct CaskCatalog {
    std::vector<Cask> casks; // in index order
    QHash<QString, std::vector<qsizetype>> byApp; // lowercased bundle file name
    QHash<QString, std::vector<qsizetype>> byBundle; // bundle identifier as spelled
    QHash<QString, qsizetype> byToken;

    // The catalog of an index body, or none when it is not a JSON array of
    // objects. Casks take the fields of the variation under `variationKey`.
    // Objects without a token, and casks naming neither an app nor a bundle
    // identifier, are left out. Pure; safe on any thread.
    // A body given room by makeRoom is read in place; any other is copied once.
    static std::optional<CaskCatalog> parse(
        const QByteArray& body, const std::optional<QString>& variationKey);
    // Gives `body` the spare room to be read in place. A large buffer grows
    // where it lies (the allocator remaps its pages), so this costs no copy.
    static void makeRoom(QByteArray& body);

    // The cask that installs the app with `bundleID` whose bundle is named
    // `fileName`, by name first, then by identifier; alternative editions and
    // casks that don't list the identifier lose ties. Null when none fits.
    const Cask* find(const QString& bundleID, const QString& fileName) const;
    const Cask* token(const QString& token) const;

    void add(Cask cask);
};

} // namespace corvanta
