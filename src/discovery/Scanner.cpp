#include "discovery/Scanner.h"

#include "codesign/PropertyList.h"
#include "discovery/ElectronFeed.h"

#include <algorithm>
#include <exception>

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

void readInto(std::vector<InstalledApp>& apps, const QString& path, const QUrl& folder,
    const CodeSigning& codeSigning, const QUrl& githubWeb)
{
    try {
        if (std::optional<InstalledApp> app
            = Scanner::read(QUrl::fromLocalFile(path), folder, codeSigning, githubWeb))
            apps.push_back(std::move(*app));
    } catch (const std::exception&) {
        // A bundle that can't be read is not an installed app; the scan goes on.
    }
}

} // namespace

std::vector<InstalledApp> Scanner::scan(
    const QList<QUrl>& folders, const CodeSigning& codeSigning, const QUrl& githubWeb)
{
    std::vector<InstalledApp> apps;
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
                readInto(apps, entry.filePath(), folder, codeSigning, githubWeb);
            } else if (entry.isDir()) {
                const QDir subfolder(entry.filePath());
                for (const QString& child : subfolder.entryList(filters, QDir::Unsorted)) {
                    if (isAppName(child))
                        readInto(apps, subfolder.filePath(child), folder, codeSigning, githubWeb);
                }
            }
        }
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
    app.team = signing(app.url, codeSigning).team;
    app.isAppStore = QFileInfo::exists(contents + u"_MASReceipt/receipt"_s);
    if (const std::optional<QString> feed = info->text(u"SUFeedURL"_s))
        app.feedURL = parseFeedURL(*feed);
    app.edKey = info->text(u"SUPublicEDKey"_s);
    app.electronFeed = electronFeed(QUrl::fromLocalFile(contents + u"Resources/app-update.yml"_s), githubWeb);
    return app;
}

SigningInformation Scanner::signing(const QUrl& url, const CodeSigning& codeSigning)
{
    try {
        return codeSigning.signing(url.toLocalFile());
    } catch (const std::exception&) {
        // Unreadable signatures leave the team empty, whatever the reader does.
        return {};
    }
}

std::optional<QUrl> Scanner::electronFeed(const QUrl& url, const QUrl& githubWeb)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const std::optional<QMap<QString, QString>> config = ElectronFeed::readConfig(url.toLocalFile());
    if (!config)
        return std::nullopt;
    return ElectronFeed::feedURL(*config, githubWeb);
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
