#include "model/UpdateControl.h"

#include "model/AppItem.h"
#include "model/Prefs.h"

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

const QString ownDownload = u"arrow.down.app"_s;

QString unsignedHelp(const InstalledApp& app)
{
    return app.name
        + u" isn't signed by a developer, so Corvanta can't confirm the download is genuine. Download it "
          u"from "
          u"its website."_s;
}

} // namespace

UpdateControl UpdateControl::of(const InstalledApp& app, const std::optional<Release>& release)
{
    if (!release)
        return {};
    if (release->kind == SourceKind::appStore) {
        return { Kind::button, u"App Store"_s, std::nullopt, false,
            u"Mac App Store updates install through the App Store"_s, Action::openStore, release->storeURL };
    }
    if (release->kind == SourceKind::electron) {
        return { Kind::tag, u"In-app update"_s, ownDownload, false,
            u"This Electron app installs its own updates. Open it to update."_s, Action::none, std::nullopt };
    }
    if (app.canInstall(release))
        return { Kind::button, u"Update"_s, std::nullopt, false, std::nullopt, Action::update, std::nullopt };
    if (release->notesURL) {
        QString help;
        if (app.isCorvanta()) {
            help
                = u"Corvanta can't replace itself while it's running. This opens its website to download the "
                  u"new version."_s;
        } else if (release->download) {
            help = unsignedHelp(app);
        } else {
            help = u"The source has no Mac download Corvanta can install; this opens its page"_s;
        }
        return { Kind::button, u"Download…"_s, std::nullopt, false, help, Action::openNotes,
            release->notesURL };
    }
    if (release->download) {
        return { Kind::tag, u"Get it yourself"_s, ownDownload, true, unsignedHelp(app), Action::none,
            std::nullopt };
    }
    return {};
}

UpdateControl UpdateControl::of(const AppItem& item)
{
    return of(item.app(), item.release());
}

RowState RowState::of(const AppItem& item)
{
    const InstallPhase& phase = item.phase();
    switch (phase.kind) {
    case InstallPhase::Kind::queued:
        return { u"Queued"_s, u"clock"_s };
    case InstallPhase::Kind::downloading:
        return { u"Downloading"_s, std::nullopt, std::nullopt, phase.fraction };
    case InstallPhase::Kind::verifying:
        return { u"Verifying"_s };
    case InstallPhase::Kind::installing:
        return { u"Installing"_s };
    case InstallPhase::Kind::done:
        return { u"Updated"_s, u"checkmark.circle.fill"_s };
    case InstallPhase::Kind::failed:
        return { u"Failed"_s, u"xmark.octagon.fill"_s, phase.reason };
    case InstallPhase::Kind::blocked:
        return { u"Permission needed"_s, u"lock.shield.fill"_s,
            u"macOS needs App Management permission for Corvanta before it can change this app. Opens System "
            u"Settings."_s };
    case InstallPhase::Kind::idle:
        break;
    }
    switch (item.status().kind) {
    case Status::Kind::checking:
        return { u"Checking"_s };
    case Status::Kind::cantVerify:
        return { u"Can't verify"_s, u"exclamationmark.triangle.fill"_s, item.status().text };
    case Status::Kind::upToDate:
        return { u"Up to date"_s, u"checkmark"_s };
    case Status::Kind::ignored:
        return { u"Ignored"_s, u"eye.slash"_s, item.status().text };
    case Status::Kind::update:
        break;
    }
    return { u"Update available"_s, std::nullopt, std::nullopt, std::nullopt, true };
}

QList<MenuEntry> contextMenu(const AppItem& item, const Prefs& prefs)
{
    using Command = MenuEntry::Command;
    const InstalledApp& app = item.app();
    const std::optional<Release>& release = item.release();
    const bool busy = item.phase().isActive();
    const bool update = item.status().kind == Status::Kind::update;
    const bool ignored = prefs.ignoredApps().contains(app.bundleID);
    const bool skipping = prefs.ignoredVersions().contains(app.bundleID);

    QList<MenuEntry> entries;
    const bool justUpdated = item.phase().kind == InstallPhase::Kind::done;
    if (update && !busy && !justUpdated && app.canInstall(release))
        entries.append({ u"Update to "_s + release->label(), Command::update });
    if (release && release->kind == SourceKind::appStore)
        entries.append({ u"Open in App Store"_s, Command::openStore });
    if (update && !ignored)
        entries.append({ u"Skip Version "_s + release->label(), Command::skipVersion });
    if (!ignored)
        entries.append({ u"Ignore "_s + app.name, Command::ignore });
    if (ignored || skipping)
        entries.append({ u"Stop Ignoring"_s, Command::unignore });
    if (!busy && !item.checking())
        entries.append({ u"Check Again"_s, Command::checkAgain });
    entries.append({ u"Show in Finder"_s, Command::showInFinder });
    if (!busy)
        entries.append({ u"Move to Trash…"_s, Command::moveToTrash });
    return entries;
}

} // namespace corvanta
