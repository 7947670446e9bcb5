#include "sources/Verdict.h"

#include "discovery/InstalledApp.h"
#include "discovery/Version.h"

using namespace Qt::StringLiterals;

namespace corvanta {

Status Verdict::status(const InstalledApp& app, const std::optional<Release>& release,
    const std::vector<Attempt>& attempts, const QStringList& ignoredApps,
    const QMap<QString, QString>& ignoredVersions)
{
    if (ignoredApps.contains(app.bundleID))
        return Status::ignored(u"You're ignoring this app"_s);
    if (!release)
        return Status::cantVerify(reason(app, attempts));

    const std::optional<bool> newer
        = Version::isNewer({ app.version, app.build }, { release->version, release->build });
    if (!newer) {
        const QString installed = app.version.value_or(app.build.value_or(u"unknown"_s));
        return Status::cantVerify(u"Couldn't compare the installed version "_s + installed + u" with "_s
            + release->label() + u" from "_s + label(release->kind));
    }
    if (!*newer)
        return Status::upToDate();
    const auto skipped = ignoredVersions.constFind(app.bundleID);
    if (skipped != ignoredVersions.constEnd() && *skipped == release->label())
        return Status::ignored(u"You're skipping version "_s + release->label());
    return Status::update();
}

QString Verdict::reason(const InstalledApp& app, const std::vector<Attempt>& attempts)
{
    for (auto attempt = attempts.rbegin(); attempt != attempts.rend(); ++attempt) {
        if (const auto* failure = std::get_if<Attempt::Fail>(&attempt->outcome))
            return label(attempt->kind) + u": "_s + failure->text;
    }
    if (app.bundleID.startsWith(u"com.apple."))
        return u"Apple app with no App Store receipt; macOS Software Update keeps it current"_s;
    return u"No update source: no App Store receipt, Sparkle feed, Homebrew cask, GitHub repository or Electron feed"_s;
}

} // namespace corvanta
