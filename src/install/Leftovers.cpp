#include "install/Leftovers.h"

#include "discovery/InstalledApp.h"
#include "install/FileTree.h"

#include <algorithm>
#include <memory>
#include <string>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <dirent.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

const QSet<QString> Leftovers::sharedVendors {
    u"google"_s,
    u"adobe"_s,
    u"microsoft"_s,
    u"apple"_s,
    u"jetbrains"_s,
    u"mozilla"_s,
};

const QSet<QString> Leftovers::productSuffixes {
    u"canary"_s,
    u"beta"_s,
    u"dev"_s,
    u"nightly"_s,
    u"insiders"_s,
    u"preview"_s,
    u"alpha"_s,
    u"rc"_s,
    u"edge"_s,
    u"next"_s,
    u"lite"_s,
    u"pro"_s,
    u"plus"_s,
    u"free"_s,
    u"trial"_s,
    u"enterprise"_s,
    u"education"_s,
    u"setapp"_s,
    u"mas"_s,
    u"appstore"_s,
};

const QStringList Leftovers::roleWords {
    u"helper"_s,
    u"agent"_s,
    u"launcher"_s,
    u"update"_s,
    u"daemon"_s,
    u"login"_s,
    u"service"_s,
    u"xpc"_s,
    u"sync"_s,
    u"watch"_s,
    u"monitor"_s,
    u"startup"_s,
};

namespace {

const QString byHost = u"Preferences/ByHost"_s;
const QString launchAgents = u"LaunchAgents"_s;

// A UUID or 12 hexadecimal digits: how macOS names per-host preferences.
const QRegularExpression hostIdentifier(
    u"^([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}|[0-9A-Fa-f]{12})$"_s);

// Every entry of a folder, hidden ones included; none when it can't be listed.
QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

qsizetype depth(const QString& path)
{
    return path.split(u'/', Qt::SkipEmptyParts).size();
}

std::int64_t allocated(const struct stat& st)
{
    return std::int64_t(st.st_blocks) * 512;
}

std::int64_t treeSize(const std::string& folder)
{
    struct CloseDir {
        void operator()(DIR* handle) const { ::closedir(handle); }
    };
    std::unique_ptr<DIR, CloseDir> handle(::opendir(folder.c_str()));
    if (!handle)
        return 0;
    std::int64_t total = 0;
    while (const dirent* entry = ::readdir(handle.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + '/' + name;
        struct stat st { };
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode))
            total += allocated(st);
        else if (S_ISDIR(st.st_mode))
            total += treeSize(path);
    }
    return total;
}

} // namespace

Leftovers::Match Leftovers::prefixed(
    const QString& entry, const QString& id, const QString& dir, const QSet<QString>& installed)
{
    static const QString plist = u".plist"_s;
    if (!entry.endsWith(plist))
        return Match::unrelated;
    if (entry == id + plist)
        return Match::own;
    const QString head = id + u'.';
    if (!entry.startsWith(head))
        return Match::unrelated;
    // "<id>..plist" has an empty rest, and a shorter name overlaps the two ends.
    if (entry.size() <= head.size() + plist.size())
        return Match::unrelated;
    const QString rest = entry.mid(head.size(), entry.size() - head.size() - plist.size());
    QStringList pieces = rest.split(u'.', Qt::SkipEmptyParts);
    for (QString& piece : pieces)
        piece = piece.toLower();

    // Another installed app whose identifier extends this one owns it.
    QString extended = id;
    for (const QString& piece : std::as_const(pieces)) {
        extended += u'.' + piece;
        if (installed.contains(extended))
            return Match::ambiguous;
    }
    for (const QString& piece : std::as_const(pieces)) {
        if (productSuffixes.contains(piece))
            return Match::ambiguous;
    }
    if (dir == byHost) {
        if (pieces.size() == 1 && hostIdentifier.match(rest).hasMatch())
            return Match::own;
        return Match::ambiguous;
    }
    if (dir == launchAgents) {
        if (pieces.size() == 1) {
            const QString& piece = pieces.front();
            const bool role = std::any_of(roleWords.begin(), roleWords.end(),
                [&](const QString& word) { return piece.contains(word); });
            return role ? Match::own : Match::ambiguous;
        }
        return Match::ambiguous;
    }
    return Match::ambiguous;
}

std::int64_t Leftovers::size(const QString& path)
{
    const std::string native = QFile::encodeName(path).toStdString();
    struct stat st { };
    // The item itself may be a link into the Library; what it leads to is what it holds.
    if (::stat(native.c_str(), &st) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return allocated(st);
    if (S_ISDIR(st.st_mode))
        return treeSize(native);
    return 0;
}

namespace {

// One item find offers, before it is measured.
struct Candidate {
    QString relative;
    QString path;
    QString real;
    bool ambiguous = false;
};

// Installed identifiers only tell an own item from an ambiguous one; which
// items are offered doesn't depend on them.
std::vector<Candidate> candidates(const InstalledApp& app, const QString& library, const QStringList& caskZap,
    const QSet<QString>& installed)
{
    const QString& id = app.bundleID;
    const QDir root(library);
    const auto there = [&](const QString& relative) { return files::exists(root.filePath(relative)); };

    QStringList relatives;
    QSet<QString> ambiguous;
    if (!app.name.isEmpty() && !Leftovers::sharedVendors.contains(app.name.toLower())) {
        for (const QString& folder : { u"Application Support"_s, u"Caches"_s, u"Logs"_s }) {
            if (!there(folder + u'/' + id))
                relatives << folder + u'/' + app.name;
        }
    }
    relatives << u"Application Support/"_s + id << u"Caches/"_s + id << u"Preferences/"_s + id + u".plist"_s
              << u"Containers/"_s + id << u"Application Scripts/"_s + id
              << u"Saved Application State/"_s + id + u".savedState"_s << u"HTTPStorages/"_s + id
              << u"HTTPStorages/"_s + id + u".binarycookies"_s << u"WebKit/"_s + id
              << u"Cookies/"_s + id + u".binarycookies"_s << u"Logs/"_s + id;

    QSet<QString> others = installed;
    others.remove(id);
    for (const QString& dir : { byHost, launchAgents }) {
        for (const QString& entry : entries(root.filePath(dir))) {
            const Leftovers::Match match = Leftovers::prefixed(entry, id, dir, others);
            if (match == Leftovers::Match::unrelated)
                continue;
            const QString relative = dir + u'/' + entry;
            relatives << relative;
            if (match == Leftovers::Match::ambiguous)
                ambiguous.insert(relative);
        }
    }
    for (const QString& entry : entries(root.filePath(u"Group Containers"_s))) {
        if (entry == id || entry.endsWith(u'.' + id))
            relatives << u"Group Containers/"_s + entry;
    }
    static const QString home = u"~/Library/"_s;
    for (const QString& zap : caskZap) {
        if (zap.startsWith(home))
            relatives << zap.mid(home.size());
    }

    const std::optional<QString> realLibrary = files::realPath(library);
    if (!realLibrary)
        return {};
    const QString inside = *realLibrary + u'/';
    const qsizetype minimumDepth = depth(*realLibrary) + 2;

    std::vector<Candidate> result;
    QSet<QString> taken;
    for (const QString& relative : std::as_const(relatives)) {
        if (relative.isEmpty() || relative.contains(u".."_s))
            continue;
        const QString path = root.filePath(relative);
        if (!files::exists(path))
            continue;
        const std::optional<QString> real = files::realPath(path);
        // A top-level folder such as Caches is never offered, only what is inside it.
        if (!real || !real->startsWith(inside) || depth(*real) < minimumDepth)
            continue;
        if (taken.contains(*real))
            continue;
        taken.insert(*real);
        result.push_back({ relative, path, *real, ambiguous.contains(relative) });
    }
    return result;
}

} // namespace

std::vector<Leftover> Leftovers::find(const InstalledApp& app, const QString& library,
    const QStringList& caskZap, const QSet<QString>& installed)
{
    std::vector<Leftover> result;
    for (const Candidate& candidate : candidates(app, library, caskZap, installed)) {
        const bool container = candidate.relative.startsWith(u"Containers/"_s)
            || candidate.relative.startsWith(u"Group Containers/"_s);
        result.push_back({ QUrl::fromLocalFile(candidate.path),
            container ? std::nullopt : std::optional<std::int64_t>(size(candidate.path)),
            candidate.ambiguous });
    }
    std::stable_sort(result.begin(), result.end(),
        [](const Leftover& a, const Leftover& b) { return a.url.path() < b.url.path(); });
    return result;
}

QSet<QString> Leftovers::realPaths(
    const InstalledApp& app, const QString& library, const QStringList& caskZap)
{
    QSet<QString> result;
    for (const Candidate& candidate : candidates(app, library, caskZap, {}))
        result.insert(candidate.real);
    return result;
}

} // namespace corvanta
