#pragma once

#include <optional>

#include <QList>
#include <QString>
#include <QUrl>

namespace corvanta {

class AppItem;
class Prefs;
struct InstalledApp;
struct Release;

// The one control a row carries for its update, decided by the release.
struct UpdateControl {
    enum class Kind { none, button, tag };
    enum class Action { none, openStore, update, openNotes };

    Kind kind = Kind::none;
    QString label;
    std::optional<QString> symbol;
    bool secondaryTint = false;
    std::optional<QString> help;
    Action action = Action::none;
    std::optional<QUrl> url; // openNotes: the page to open

    static UpdateControl of(const InstalledApp& app, const std::optional<Release>& release);
    static UpdateControl of(const AppItem& item);

    friend bool operator==(const UpdateControl&, const UpdateControl&) = default;
};

// What a row shows beside the app: the phase in words while an install runs
// or just ended, otherwise the status; for an update, the update control.
struct RowState {
    QString words;
    std::optional<QString> symbol;
    std::optional<QString> help;
    std::optional<double> fraction; // while downloading, 0 to 1
    bool showsControl = false; // the update control stands in for the words

    static RowState of(const AppItem& item);

    friend bool operator==(const RowState&, const RowState&) = default;
};

// One command of an item's context menu.
struct MenuEntry {
    enum class Command {
        update,
        openStore,
        skipVersion,
        ignore,
        unignore,
        checkAgain,
        showInFinder,
        moveToTrash
    };

    QString title;
    Command command;

    friend bool operator==(const MenuEntry&, const MenuEntry&) = default;
};

// The context menu's entries as the item's state allows them, in menu order.
QList<MenuEntry> contextMenu(const AppItem& item, const Prefs& prefs);

} // namespace corvanta
