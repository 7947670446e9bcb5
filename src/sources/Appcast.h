#pragma once

#include "platform/HostInfo.h"
#include "sources/Release.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

class QXmlStreamAttributes;

namespace corvanta {

class Net;
class Version;

// One <item> of a Sparkle appcast, as written; every field may be missing.
struct AppcastItem {
    std::optional<QString> shortVersion; // sparkle:shortVersionString
    std::optional<QString> build; // sparkle:version
    std::optional<QString> channel; // sparkle:channel
    std::optional<QString> os; // the enclosure's sparkle:os
    std::optional<QString> minOS; // sparkle:minimumSystemVersion
    std::optional<QString> maxOS; // sparkle:maximumSystemVersion
    std::optional<QString> description; // release notes, usually HTML
    std::optional<QString> notesLink; // sparkle:releaseNotesLink
    std::optional<QString> enclosureURL;
    std::optional<QString> edSignature; // the enclosure's sparkle:edSignature
    std::optional<std::int64_t> length; // the enclosure's length

    friend bool operator==(const AppcastItem&, const AppcastItem&) = default;
};

// Event-driven reader of an appcast. Names are matched as written, prefix
// included ("sparkle:version"), without resolving namespaces: a feed that
// forgets to declare the sparkle prefix still reads.
class AppcastParser {
public:
    // The items in document order. Throws CheckError "The appcast isn't valid
    // XML (…)" when the bytes are not well-formed XML.
    static std::vector<AppcastItem> parse(const QByteArray& xml);

private:
    void elementStarted(QStringView name, const QXmlStreamAttributes& attributes);
    void characters(QStringView text);
    void elementEnded(QStringView name);

    std::vector<AppcastItem> m_items;
    std::optional<AppcastItem> m_item;
    QString m_text;
    int m_deltas = 0;
};

namespace Appcast {

// Whether `item` is offered to a Mac running `system`: no channel, macOS
// or no OS, some version, and within its minimum and maximum system.
bool runsOn(const AppcastItem& item, const Version& system);

// True when `candidate` is strictly newer than `best` by the appcast rule:
// differing readable builds decide, otherwise the short versions.
bool isNewer(const AppcastItem& candidate, const AppcastItem& best);

// The release offered to a Mac running `system`, chosen from `items`.
// Throws CheckError "The appcast lists no releases" or "No release in the
// appcast runs on macOS <system>".
Release release(const std::vector<AppcastItem>& items, const QUrl& feedURL, const SystemVersion& system);

// Parses the bytes of a fetched feed and chooses its release.
Release read(const QByteArray& xml, const QUrl& feedURL, const SystemVersion& system);

// Fetches the feed through `net` and reads it.
QCoro::Task<Release> sparkle(Net& net, QUrl feedURL, SystemVersion system);

// HTML release notes as plain text: block ends become line feeds, list
// entries bullets, other tags vanish, the common entities are decoded.
QString plainText(const QString& html);

} // namespace Appcast

} // namespace corvanta
