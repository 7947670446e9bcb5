#pragma once

#include <array>
#include <optional>

#include <QList>
#include <QSet>
#include <QString>

namespace corvanta {

class LibraryItem;

// The tabs of the library view, in their order.
enum class LibraryTab { missing, all, removed, yours };

inline constexpr std::array<LibraryTab, 4> allLibraryTabs { LibraryTab::missing, LibraryTab::all,
    LibraryTab::removed, LibraryTab::yours };

// "Not on This Mac", "All", "Removed", "Get It Yourself".
QString title(LibraryTab tab);
// The raw value: "missing", "all", "removed", "yours".
QString rawValue(LibraryTab tab);
std::optional<LibraryTab> libraryTabFromRaw(QStringView raw);

// What the library view is narrowed to besides its tab.
struct LibraryScope {
    QSet<QString> onThisMac; // bundle ids installed here
    QString query; // matched against name and bundle id
    std::optional<QString> mac; // a device id: only apps that Mac reported
};

// Whether the row belongs in `tab` within `scope`. A row whose route is
// not known yet counts as one Corvanta can install.
bool shows(LibraryTab tab, const LibraryItem& item, const LibraryScope& scope);
QList<LibraryItem*> rows(LibraryTab tab, const QList<LibraryItem*>& items, const LibraryScope& scope);

} // namespace corvanta
