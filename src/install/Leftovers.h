#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvanta {

struct InstalledApp;

// One item an app left in the user's Library that removing it may take along.
struct Leftover {
    QUrl url; // the Library folder joined with the item's relative path
    std::optional<std::int64_t> size; // allocated bytes; none for containers, which aren't measured
    bool ambiguous = false; // the name only suggests the app: "May belong to another app"

    // Lists identify an item by its path.
    QString id() const { return url.toLocalFile(); }

    friend bool operator==(const Leftover&, const Leftover&) = default;
};

// The rules that find an app's data in the Library. They favour precision:
// an item is offered only when its name ties it to the bundle identifier or,
// failing that, to the app's exact name. Blocking and stateless.
namespace Leftovers {

// Whether an entry of a listed folder belongs to the app.
enum class Match { own, ambiguous, unrelated };

// Vendors whose names are shared by many apps, so a folder named after one
// says nothing about which app it belongs to.
extern const QSet<QString> sharedVendors;
// Words that mark a sibling product of the same vendor ("…app.beta").
extern const QSet<QString> productSuffixes;
// What a launch agent of the app itself is named after, in this order.
extern const QStringList roleWords;

// The candidates for `app` in the Library folder `library`: the items named
// after its bundle identifier (or name), its launch agents, ByHost
// preferences and group containers, and the cask's zap paths
// ("~/Library/…"). `installed` holds the identifiers of every installed app.
// Anything that resolves outside the Library, or is a top-level folder of
// it, is never offered. Sorted by path.
std::vector<Leftover> find(const InstalledApp& app, const QString& library, const QStringList& caskZap,
    const QSet<QString>& installed);

// The real paths of the items find offers for `app`, unmeasured: all that
// removing the app may take from the Library.
QSet<QString> realPaths(const InstalledApp& app, const QString& library, const QStringList& caskZap);

// Whether `entry` of the folder `dir` ("Preferences/ByHost" or
// "LaunchAgents") belongs to the app `id`; `installed` holds the other
// installed apps' identifiers.
Match prefixed(const QString& entry, const QString& id, const QString& dir, const QSet<QString>& installed);

// Allocated bytes of a file, or of the regular files in a folder's tree
// (links inside aren't followed); 0 when unknown.
std::int64_t size(const QString& path);

} // namespace Leftovers

} // namespace corvanta
