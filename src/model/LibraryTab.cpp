#include "model/LibraryTab.h"

#include "model/LibraryItem.h"
#include "model/Store.h"

using namespace Qt::StringLiterals;

namespace corvanta {

QString title(LibraryTab tab)
{
    switch (tab) {
    case LibraryTab::missing:
        return u"Not on This Mac"_s;
    case LibraryTab::all:
        return u"All"_s;
    case LibraryTab::removed:
        return u"Removed"_s;
    case LibraryTab::yours:
        return u"Get It Yourself"_s;
    }
    return {};
}

QString rawValue(LibraryTab tab)
{
    switch (tab) {
    case LibraryTab::missing:
        return u"missing"_s;
    case LibraryTab::all:
        return u"all"_s;
    case LibraryTab::removed:
        return u"removed"_s;
    case LibraryTab::yours:
        return u"yours"_s;
    }
    return {};
}

std::optional<LibraryTab> libraryTabFromRaw(QStringView raw)
{
    for (LibraryTab tab : allLibraryTabs) {
        if (rawValue(tab) == raw)
            return tab;
    }
    return std::nullopt;
}

bool shows(LibraryTab tab, const LibraryItem& item, const LibraryScope& scope)
{
    const LibraryApp& app = item.app();
    if (scope.mac && !app.devices.contains(*scope.mac))
        return false;
    if (!Store::matches(scope.query, { app.name, app.id }))
        return false;
    const bool byHand = item.route() && item.route()->needsUser();
    switch (tab) {
    case LibraryTab::missing:
        return !scope.onThisMac.contains(app.id) && !byHand;
    case LibraryTab::all:
        return true;
    case LibraryTab::removed:
        return item.removedEverywhere();
    case LibraryTab::yours:
        return byHand;
    }
    return false;
}

QList<LibraryItem*> rows(LibraryTab tab, const QList<LibraryItem*>& items, const LibraryScope& scope)
{
    QList<LibraryItem*> shown;
    for (LibraryItem* item : items) {
        if (shows(tab, *item, scope))
            shown << item;
    }
    return shown;
}

} // namespace corvanta
