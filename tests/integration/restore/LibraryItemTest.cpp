#include "model/LibraryItem.h"

#include "account/Cloud.h"
#include "model/LibraryTab.h"
#include "support/QtPrinters.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

QDateTime day(int d)
{
    return QDateTime(QDate(2027, 1, d), QTime(8, 0), QTimeZone::utc());
}

const std::vector<Device> macs { { .id = u"d1"_s, .name = u"Studio"_s },
    { .id = u"d2"_s, .name = u"Air"_s } };

LibraryApp app(const QString& name, std::map<QString, LibraryApp::OnDevice> devices)
{
    return { .id = u"com.example."_s + name.toLower(), .name = name, .devices = std::move(devices) };
}

TEST(LibraryItem, WhereAndWhenTheAppWasSeen)
{
    struct Row {
        const char* name;
        std::map<QString, LibraryApp::OnDevice> devices;
        bool removedEverywhere;
        QStringList onDevices;
        std::optional<LibraryItem::Sighting> lastSeen;
    };
    const std::vector<Row> rows {
        { "on two Macs", { { u"d1"_s, { u"1"_s, true, day(3) } }, { u"d2"_s, { u"1"_s, true, day(5) } } },
            false, { u"Studio"_s, u"Air"_s }, LibraryItem::Sighting { u"Air"_s, day(5) } },
        { "removed, last on a Mac gone from the library",
            { { u"d1"_s, { u"1"_s, false, day(3) } }, { u"old"_s, { u"1"_s, false, day(9) } } }, true, {},
            LibraryItem::Sighting { LibraryItem::formerMac, day(9) } },
        { "installed on a Mac gone from the library", { { u"old"_s, { u"1"_s, true, Cloud::distantPast } } },
            false, { LibraryItem::formerMac }, std::nullopt },
        { "no entries", {}, true, {}, std::nullopt },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const LibraryItem item(app(u"X"_s, row.devices));
        EXPECT_EQ(item.removedEverywhere(), row.removedEverywhere);
        EXPECT_EQ(item.onDevices(macs), row.onDevices);
        EXPECT_EQ(item.lastSeen(macs), row.lastSeen);
    }
}

TEST(LibraryItem, AReloadKeepsTheRouteAndFollowsTheStoreLink)
{
    LibraryApp record = app(u"Notes"_s, {});
    record.storeURL = u"macappstore://apps.apple.com/app/id1"_s;
    LibraryItem item(record);
    item.setRoute(Route { Route::Store { QUrl(*record.storeURL) } });
    item.setSelected(true);

    record.storeURL = u"https://apps.apple.com/app/id2"_s;
    item.setApp(record);
    EXPECT_EQ(item.website(), QUrl(u"https://apps.apple.com/app/id2"_s));
    EXPECT_TRUE(item.selected());

    // A link the record no longer has (or that is no store link) is looked up again.
    record.storeURL = u"file:///etc/passwd"_s;
    item.setApp(record);
    EXPECT_EQ(item.route(), std::nullopt);

    const Route manual { Route::Manual { QUrl(u"https://notes.example.com"_s), u"why"_s } };
    item.setRoute(manual);
    record.name = u"Notes 2"_s;
    item.setApp(record);
    EXPECT_EQ(item.route(), manual);
    EXPECT_EQ(item.website(), QUrl(u"https://notes.example.com"_s));
}

TEST(LibraryTab, EveryTabAppliesTheSearchAndTheChosenMac)
{
    LibraryItem here(app(u"Here"_s, { { u"d1"_s, { u"1"_s, true, day(1) } } }));
    LibraryItem missing(app(u"Missing"_s, { { u"d2"_s, { u"1"_s, true, day(1) } } }));
    LibraryItem gone(app(u"Gone"_s, { { u"d1"_s, { u"1"_s, false, day(1) } } }));
    LibraryItem byHand(app(u"ByHand"_s, { { u"d2"_s, { u"1"_s, true, day(1) } } }));
    byHand.setRoute(Route { Route::Store { QUrl(u"macappstore://apps.apple.com/app/id1"_s) } });
    const QList<LibraryItem*> items { &here, &missing, &gone, &byHand };

    struct Row {
        LibraryTab tab;
        LibraryScope scope;
        QList<LibraryItem*> rows;
    };
    const QSet<QString> onThisMac { u"com.example.here"_s };
    const std::vector<Row> rows {
        { LibraryTab::missing, { onThisMac }, { &missing, &gone } },
        { LibraryTab::all, { onThisMac }, items },
        { LibraryTab::removed, { onThisMac }, { &gone } },
        { LibraryTab::yours, { onThisMac }, { &byHand } },
        { LibraryTab::all, { onThisMac, u"  HAND "_s }, { &byHand } },
        { LibraryTab::missing, { onThisMac, {}, u"d1"_s }, { &gone } },
        { LibraryTab::yours, { onThisMac, {}, u"d1"_s }, {} },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(rawValue(row.tab).toStdString() + " " + row.scope.query.toStdString());
        EXPECT_EQ(corvanta::rows(row.tab, items, row.scope), row.rows);
    }
    QStringList titles;
    for (LibraryTab tab : allLibraryTabs)
        titles << title(tab);
    EXPECT_EQ(titles, (QStringList { u"Not on This Mac"_s, u"All"_s, u"Removed"_s, u"Get It Yourself"_s }));
}

} // namespace
