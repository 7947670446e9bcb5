#include "discovery/Scanner.h"

#include "codesign/PropertyList.h"
#include "discovery/ElectronFeed.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

bool isAppName(const QString& fileName)
{
    return fileName.endsWith(u".app"_s) && fileName.size() > 4;
}

// The main executable the Info.plist names, when the name is a plain file
// name (a name with a slash could point anywhere).
std::optional<QString> mainExecutable(const PropertyList& info)
{
    std::optional<QString> name = info.string(u"CFBundleExecutable"_s);
    if (!name || name->isEmpty() || name->contains(u'/') || *name == u"." || *name == u"..")
        return std::nullopt;
    return name;
}

SigningInformation signingAt(const QString& path, const CodeSigning& codeSigning)
{
    try {
        return codeSigning.signing(path);
    } catch (const std::exception&) {
        // Unreadable signatures leave the team empty, whatever the reader does.
        return {};
    }
}

std::optional<QUrl> electronFeedAt(const QString& path, const QUrl& githubWeb)
{
    const std::optional<QMap<QString, QString>> config = ElectronFeed::readConfig(path);
    if (!config)
        return std::nullopt;
    return ElectronFeed::feedURL(*config, githubWeb);
}

// A bundle the listing found, read later.
struct Candidate {
    QString path;
    const QUrl* folder;
};

std::optional<InstalledApp> readCandidate(
    const Candidate& candidate, const CodeSigning& codeSigning, const QUrl& githubWeb)
{
    try {
        return Scanner::read(QUrl::fromLocalFile(candidate.path), *candidate.folder, codeSigning, githubWeb);
    } catch (const std::exception&) {
        // A bundle that can't be read is not an installed app; the scan goes on.
        return std::nullopt;
    }
}

// Runs `work(i)` for every i below `count`, on as many cores as there are
// enough items for: each bundle is a few opens and a parse, so a thread pays
// for itself only over a few dozen of them.
template<typename Work> void onCores(std::size_t count, const Work& work)
{
    constexpr std::size_t perThread = 32;
    const std::size_t threads
        = std::clamp<std::size_t>(count / perThread, 1, std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next { 0 };
    const auto drain = [&] {
        for (std::size_t i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::jthread> helpers;
    try {
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(drain);
    } catch (const std::system_error&) {
        // No thread to spare: the ones running, this one included, do it all.
    }
    drain();
}

} // namespace

std::vector<InstalledApp> Scanner::scan(
    const QList<QUrl>& folders, const CodeSigning& codeSigning, const QUrl& githubWeb)
{
    std::vector<Candidate> candidates;
    const QDir::Filters filters = QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot;
    for (const QUrl& folder : folders) {
        // An empty path would list the working directory.
        if (!folder.isLocalFile() || folder.toLocalFile().isEmpty())
            continue;
        const QFileInfoList entries = QDir(folder.toLocalFile()).entryInfoList(filters, QDir::Unsorted);
        for (const QFileInfo& entry : entries) {
            // A link to an app elsewhere is not an app installed in this folder.
            if (entry.isSymLink())
                continue;
            if (isAppName(entry.fileName())) {
                candidates.push_back({ entry.filePath(), &folder });
            } else if (entry.isDir()) {
                const QDir subfolder(entry.filePath());
                for (const QString& child : subfolder.entryList(filters, QDir::Unsorted)) {
                    if (isAppName(child))
                        candidates.push_back({ subfolder.filePath(child), &folder });
                }
            }
        }
    }

    // Bundles are independent, so they are read on every core.
    std::vector<std::optional<InstalledApp>> read(candidates.size());
    onCores(candidates.size(),
        [&](std::size_t i) { read[i] = readCandidate(candidates[i], codeSigning, githubWeb); });
    std::vector<InstalledApp> apps;
    apps.reserve(read.size());
    for (std::optional<InstalledApp>& app : read) {
        if (app)
            apps.push_back(std::move(*app));
    }
    sortByName(apps);
    return apps;
}

std::optional<InstalledApp> Scanner::read(
    const QUrl& url, const QUrl& folder, const CodeSigning& codeSigning, const QUrl& githubWeb)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (path.isEmpty())
        return std::nullopt;
    const QString contents = path + u"/Contents/"_s;
    const std::optional<PropertyList> info = PropertyList::load(contents + u"Info.plist"_s);
    if (!info || info->isEmpty())
        return std::nullopt;
    std::optional<QString> bundleID = info->string(u"CFBundleIdentifier"_s);
    if (!bundleID)
        return std::nullopt;

    InstalledApp app;
    app.url = QUrl::fromLocalFile(path);
    app.folder = folder;
    app.name = QFileInfo(path).completeBaseName();
    app.bundleID = std::move(*bundleID);
    app.version = info->text(u"CFBundleShortVersionString"_s);
    app.build = info->text(u"CFBundleVersion"_s);
    // The signature is the main executable's: naming it spares the reader a
    // second parse of the Info.plist. A bundle without one may still carry a
    // signature of its own.
    const std::optional<QString> executable = mainExecutable(*info);
    app.team = signingAt(executable ? contents + u"MacOS/"_s + *executable : path, codeSigning).team;
    app.isAppStore = QFileInfo::exists(contents + u"_MASReceipt/receipt"_s);
    if (const std::optional<QString> feed = info->text(u"SUFeedURL"_s))
        app.feedURL = parseFeedURL(*feed);
    app.edKey = info->text(u"SUPublicEDKey"_s);
    app.electronFeed = electronFeedAt(contents + u"Resources/app-update.yml"_s, githubWeb);
    return app;
}

SigningInformation Scanner::signing(const QUrl& url, const CodeSigning& codeSigning)
{
    return signingAt(url.toLocalFile(), codeSigning);
}

std::optional<QUrl> Scanner::electronFeed(const QUrl& url, const QUrl& githubWeb)
{
    if (!url.isLocalFile())
        return std::nullopt;
    return electronFeedAt(url.toLocalFile(), githubWeb);
}

std::optional<QUrl> Scanner::parseFeedURL(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return std::nullopt;
    return url;
}

void Scanner::sortByName(std::vector<InstalledApp>& apps)
{
    QLocale locale;
    // Under the C locale QCollator compares code points and ignores numeric mode.
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(),
        [&](const InstalledApp& a, const InstalledApp& b) { return collator.compare(a.name, b.name) < 0; });
}

} // namespace corvanta
