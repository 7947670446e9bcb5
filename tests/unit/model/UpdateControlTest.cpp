#include "model/UpdateControl.h"

#include "model/AppItem.h"
#include "model/Prefs.h"
#include "support/QtPrinters.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

using Kind = UpdateControl::Kind;
using Action = UpdateControl::Action;

const QString unsignedHelp = u"Foo isn't signed by a developer, so Corvanta can't confirm the download is "
                             u"genuine. Download it from its website."_s;

InstalledApp foo(std::optional<QString> team = std::nullopt, std::optional<QString> edKey = std::nullopt)
{
    InstalledApp app;
    app.url = QUrl::fromLocalFile(u"/Applications/Foo.app"_s);
    app.name = u"Foo"_s;
    app.bundleID = u"com.example.foo"_s;
    app.version = u"1.0"_s;
    app.team = std::move(team);
    app.edKey = std::move(edKey);
    return app;
}

Release release(SourceKind kind, bool download, bool notes, bool signature = false)
{
    Release result;
    result.kind = kind;
    result.version = u"2.0"_s;
    if (download) {
        result.download = Download { QUrl(u"https://example.com/Foo.zip"_s) };
        if (signature)
            result.download->edSignature = u"c2ln"_s;
    }
    if (notes)
        result.notesURL = QUrl(u"https://example.com/foo"_s);
    result.storeURL = QUrl(u"macappstore://apps.apple.com/app/id1"_s);
    return result;
}

struct ControlRow {
    const char* title;
    InstalledApp app;
    std::optional<Release> release;
    Kind kind;
    QString label;
    std::optional<QString> help;
    Action action;
    bool secondaryTint = false;
};

class ControlTable : public testing::TestWithParam<ControlRow> { };

TEST_P(ControlTable, TheFirstCaseThatAppliesWins)
{
    const ControlRow& row = GetParam();
    const UpdateControl control = UpdateControl::of(row.app, row.release);
    SCOPED_TRACE(row.title);
    EXPECT_EQ(control.kind, row.kind);
    EXPECT_EQ(control.label, row.label);
    EXPECT_EQ(control.help, row.help);
    EXPECT_EQ(control.action, row.action);
    EXPECT_EQ(control.secondaryTint, row.secondaryTint);
    if (row.kind == Kind::tag) {
        EXPECT_EQ(control.symbol, u"arrow.down.app"_s);
    }
    if (row.action == Action::openNotes) {
        EXPECT_EQ(control.url, row.release->notesURL);
    }
    if (row.action == Action::openStore) {
        EXPECT_EQ(control.url, row.release->storeURL);
    }
}

InstalledApp corvantaItself()
{
    InstalledApp app = foo(u"TEAM123456"_s);
    app.bundleID = InstalledApp::defaultBundleID;
    return app;
}

INSTANTIATE_TEST_SUITE_P(UpdateControl, ControlTable,
    testing::Values(
        ControlRow { "no release", foo(), std::nullopt, Kind::none, {}, std::nullopt, Action::none },
        ControlRow { "App Store, even with a download", foo(u"T"_s),
            release(SourceKind::appStore, true, true), Kind::button, u"App Store"_s,
            u"Mac App Store updates install through the App Store"_s, Action::openStore },
        ControlRow { "Electron, even when signed", foo(u"T"_s), release(SourceKind::electron, true, true),
            Kind::tag, u"In-app update"_s,
            u"This Electron app installs its own updates. Open it to update."_s, Action::none },
        ControlRow { "installable by team", foo(u"T"_s), release(SourceKind::sparkle, true, true),
            Kind::button, u"Update"_s, std::nullopt, Action::update },
        ControlRow { "installable by EdDSA key", foo(std::nullopt, u"key"_s),
            release(SourceKind::homebrew, true, false, true), Kind::button, u"Update"_s, std::nullopt,
            Action::update },
        ControlRow { "unsigned app with a page", foo(), release(SourceKind::sparkle, true, true),
            Kind::button, u"Download…"_s, unsignedHelp, Action::openNotes },
        ControlRow { "key but an unsigned download", foo(std::nullopt, u"key"_s),
            release(SourceKind::sparkle, true, true), Kind::button, u"Download…"_s, unsignedHelp,
            Action::openNotes },
        ControlRow { "this program itself", corvantaItself(), release(SourceKind::github, true, true),
            Kind::button, u"Download…"_s,
            u"Corvanta can't replace itself while it's running. This opens its website to download the new "
            u"version."_s,
            Action::openNotes },
        ControlRow { "a page but no download", foo(u"T"_s), release(SourceKind::github, false, true),
            Kind::button, u"Download…"_s,
            u"The source has no Mac download Corvanta can install; this opens its page"_s,
            Action::openNotes },
        ControlRow { "a download but no page", foo(), release(SourceKind::homebrew, true, false), Kind::tag,
            u"Get it yourself"_s, unsignedHelp, Action::none, true },
        ControlRow { "neither", foo(u"T"_s), release(SourceKind::github, false, false), Kind::none, {},
            std::nullopt, Action::none }));

struct RowRow {
    InstallPhase phase;
    Status status;
    QString words;
    std::optional<QString> symbol;
    bool showsControl = false;
};

TEST(RowState, ThePhaseInWordsWhileAnInstallRunsOrJustEndedElseTheStatus)
{
    const std::vector<RowRow> rows {
        { InstallPhase::queued(), Status::update(), u"Queued"_s, u"clock"_s },
        { InstallPhase::downloading(0.5), Status::update(), u"Downloading"_s, std::nullopt },
        { InstallPhase::verifying(), Status::update(), u"Verifying"_s, std::nullopt },
        { InstallPhase::installing(), Status::update(), u"Installing"_s, std::nullopt },
        { InstallPhase::done(), Status::update(), u"Updated"_s, u"checkmark.circle.fill"_s },
        { InstallPhase::failed(u"Download failed."_s), Status::update(), u"Failed"_s,
            u"xmark.octagon.fill"_s },
        { InstallPhase::blocked(), Status::update(), u"Permission needed"_s, u"lock.shield.fill"_s },
        { InstallPhase::idle(), Status::cantVerify(u"why"_s), u"Can't verify"_s,
            u"exclamationmark.triangle.fill"_s },
        { InstallPhase::idle(), Status::upToDate(), u"Up to date"_s, u"checkmark"_s },
        { InstallPhase::idle(), Status::ignored(u"You're ignoring this app"_s), u"Ignored"_s,
            u"eye.slash"_s },
        { InstallPhase::idle(), Status::update(), u"Update available"_s, std::nullopt, true },
    };
    for (const RowRow& row : rows) {
        AppItem item(foo());
        item.setPhase(row.phase);
        item.setStatus(row.status);
        const RowState state = RowState::of(item);
        SCOPED_TRACE(row.words.toStdString());
        EXPECT_EQ(state.words, row.words);
        EXPECT_EQ(state.symbol, row.symbol);
        EXPECT_EQ(state.showsControl, row.showsControl);
    }
    AppItem blocked(foo());
    blocked.setPhase(InstallPhase::blocked());
    EXPECT_EQ(RowState::of(blocked).help,
        u"macOS needs App Management permission for Corvanta before it can change this app. Opens System "
        u"Settings."_s);
    AppItem downloading(foo());
    downloading.setPhase(InstallPhase::downloading(0.25));
    EXPECT_EQ(RowState::of(downloading).fraction, 0.25);
}

class ContextMenu : public testing::Test {
protected:
    QTemporaryDir dir;
    Prefs prefs { std::make_unique<QSettings>(dir.filePath(u"p.ini"_s), QSettings::IniFormat), Launch() };

    QStringList titles(const AppItem& item) const
    {
        QStringList result;
        for (const MenuEntry& entry : contextMenu(item, prefs))
            result << entry.title;
        return result;
    }
};

TEST_F(ContextMenu, OffersWhatTheItemsStateAllows)
{
    AppItem item(foo(u"T"_s));
    item.setRelease(release(SourceKind::sparkle, true, true));
    item.setStatus(Status::update());
    EXPECT_EQ(titles(item),
        (QStringList { u"Update to 2.0"_s, u"Skip Version 2.0"_s, u"Ignore Foo"_s, u"Check Again"_s,
            u"Show in Finder"_s, u"Move to Trash…"_s }));

    item.setPhase(InstallPhase::downloading(0.1));
    EXPECT_EQ(titles(item), (QStringList { u"Skip Version 2.0"_s, u"Ignore Foo"_s, u"Show in Finder"_s }));

    item.setPhase(InstallPhase::idle());
    prefs.setIgnoredVersions({ { u"com.example.foo"_s, u"2.0"_s } });
    item.setStatus(Status::ignored(u"You're skipping version 2.0"_s));
    EXPECT_EQ(titles(item),
        (QStringList { u"Ignore Foo"_s, u"Stop Ignoring"_s, u"Check Again"_s, u"Show in Finder"_s,
            u"Move to Trash…"_s }));

    AppItem store(foo());
    store.setRelease(release(SourceKind::appStore, false, false));
    store.setStatus(Status::update());
    prefs.setIgnoredApps({ u"com.example.foo"_s });
    EXPECT_EQ(titles(store),
        (QStringList { u"Open in App Store"_s, u"Stop Ignoring"_s, u"Check Again"_s, u"Show in Finder"_s,
            u"Move to Trash…"_s }));
}

} // namespace
