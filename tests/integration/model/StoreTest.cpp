#include "model/Store.h"

#include "integration/model/StoreFixtures.h"
#include "support/QtPrinters.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

class StoreTest : public AppStoreWorld {
protected:
    std::unique_ptr<Store> makeStore()
    {
        return std::make_unique<Store>(StoreServices { net, codeSigning, host, *prefs }, Launch(sandbox()));
    }

    static QStringList names(const QList<AppItem*>& items)
    {
        QStringList result;
        for (const AppItem* item : items)
            result << item->app().name;
        return result;
    }
};

TEST_F(StoreTest, ARefreshChecksEveryAppAndDecidesItsStatus)
{
    install(u"Alpha"_s, u"1.0"_s);
    install(u"Beta"_s, u"2.0"_s);
    install(u"Gamma"_s, u"3.0"_s);
    storeVersions = { { u"com.example.alpha"_s, u"1.1"_s }, { u"com.example.beta"_s, u"2.0"_s } };
    const auto store = makeStore();
    await(store->refresh(false, false));

    ASSERT_EQ(names(store->items()), (QStringList { u"Alpha"_s, u"Beta"_s, u"Gamma"_s }));
    EXPECT_EQ(store->items()[0]->status(), Status::update());
    EXPECT_EQ(store->items()[1]->status(), Status::upToDate());
    EXPECT_EQ(store->items()[2]->status().kind, Status::Kind::cantVerify);
    EXPECT_TRUE(store->items()[2]->status().text.startsWith(u"Mac App Store: Not found in the "_s));
    for (const AppItem* item : store->items())
        EXPECT_FALSE(item->checking());
    EXPECT_EQ(store->toCheck(), 3);
    EXPECT_EQ(store->checked(), 3);
    EXPECT_FALSE(store->scanning());
    EXPECT_TRUE(store->lastChecked().has_value());
    EXPECT_EQ(store->count(Filter::updates), 1);
    EXPECT_EQ(store->count(Filter::cantVerify), 1);
}

TEST_F(StoreTest, ARefreshAskedForWhileOneRunsIsDropped)
{
    install(u"Slow"_s, u"1.0"_s);
    const auto store = makeStore();
    auto first = store->refresh(false, false);
    EXPECT_TRUE(store->scanning());
    EXPECT_TRUE(store->refresh(false, false).isReady()); // returns at once
    await(std::move(first));
    EXPECT_EQ(server.count(u"/lookup"_s), 1);
}

TEST_F(StoreTest, ItemsKeepTheirIdentityAndUninstalledAppsDisappear)
{
    install(u"Keep"_s, u"1.0"_s);
    install(u"Gone"_s, u"1.0"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* kept = store->item(QDir(apps()).filePath(u"Keep.app"_s));
    ASSERT_NE(kept, nullptr);
    store->setSelection(QDir(apps()).filePath(u"Gone.app"_s));

    QDir(QDir(apps()).filePath(u"Gone.app"_s)).removeRecursively();
    await(store->refresh(false, false));
    EXPECT_EQ(names(store->items()), QStringList { u"Keep"_s });
    EXPECT_EQ(store->items()[0], kept);
}

TEST_F(StoreTest, TwoCopiesOfOneAppInTwoFoldersAreTwoItems)
{
    install(u"Twin"_s, u"1.0"_s);
    install(u"Twin"_s, u"1.0"_s, apps() + u"/Utilities"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    ASSERT_EQ(store->items().size(), 2);
    EXPECT_NE(store->items()[0]->id(), store->items()[1]->id());
}

TEST_F(StoreTest, AnInstallUnderWayIsLeftAloneAndFinishedOnesReturnToIdle)
{
    install(u"Busy"_s, u"1.0"_s);
    install(u"Done"_s, u"1.0"_s);
    install(u"Failed"_s, u"1.0"_s);
    const auto store = makeStore();
    await(store->refresh(false, false));
    AppItem* busy = store->items()[0];
    busy->setPhase(InstallPhase::downloading(0.5));
    busy->setStatus(Status::update());
    store->items()[1]->setPhase(InstallPhase::done());
    store->items()[2]->setPhase(InstallPhase::failed(u"Download failed."_s));
    server.clearRequests();

    await(store->refresh(false, false));
    EXPECT_EQ(busy->phase(), InstallPhase::downloading(0.5));
    EXPECT_EQ(busy->status(), Status::update());
    EXPECT_EQ(store->items()[1]->phase(), InstallPhase::idle());
    EXPECT_EQ(store->items()[2]->phase(), InstallPhase::idle());
    EXPECT_EQ(store->toCheck(), 2);
    for (const RecordedRequest& request : server.requests())
        EXPECT_NE(request.query.queryItemValue(u"bundleId"_s), u"com.example.busy"_s);
}

TEST_F(StoreTest, IgnoredAppsAreMarkedAtRefreshButNotChecked)
{
    install(u"Quiet"_s, u"1.0"_s);
    storeVersions = { { u"com.example.quiet"_s, u"2.0"_s } };
    prefs->setIgnoredApps({ u"com.example.quiet"_s });
    const auto store = makeStore();
    await(store->refresh(false, false));
    EXPECT_EQ(
        store->items()[0]->status(), Status::ignored(u"You're ignoring this app, so it isn't checked"_s));
    EXPECT_EQ(server.count(u"/lookup"_s), 0);
    EXPECT_EQ(store->toCheck(), 0);

    // A single check decides through the verdict, whose text differs.
    await(store->check(store->items()[0]));
    EXPECT_EQ(store->items()[0]->status(), Status::ignored(u"You're ignoring this app"_s));
    EXPECT_EQ(store->checked(), 0);
}

TEST_F(StoreTest, WithNoAppsTheRefreshStillRecordsItsTime)
{
    const auto store = makeStore();
    await(store->refresh(false, false));
    EXPECT_TRUE(store->items().isEmpty());
    EXPECT_EQ(store->toCheck(), 0);
    EXPECT_TRUE(store->lastChecked().has_value());
}

TEST_F(StoreTest, TheFirstListAppearsInSlicesOfEight)
{
    for (int i = 0; i < 20; ++i)
        install(u"App%1"_s.arg(i, 2, 10, QLatin1Char('0')), u"1.0"_s);
    const auto store = makeStore();
    QList<qsizetype> sizes;
    QObject::connect(store.get(), &Store::itemsChanged, store.get(), [&] { sizes << store->items().size(); });
    await(store->refresh(false, false));
    EXPECT_EQ(sizes, (QList<qsizetype> { 8, 16, 20 }));

    sizes.clear();
    await(store->refresh(false, false));
    EXPECT_EQ(sizes, QList<qsizetype> { 20 });
}

TEST_F(StoreTest, ResultsArriveAsTheyFinish)
{
    install(u"Fast"_s, u"1.0"_s);
    install(u"Slow"_s, u"1.0"_s);
    storeVersions = { { u"com.example.fast"_s, u"1.0"_s }, { u"com.example.slow"_s, u"1.0"_s } };
    const auto store = makeStore();
    bool released = false;
    holds[u"com.example.slow"_s] = [&] { return released; };
    auto running = store->refresh(false, false);
    ASSERT_TRUE(waitUntil([&] { return store->checked() == 1; }));
    EXPECT_EQ(store->item(QDir(apps()).filePath(u"Fast.app"_s))->status(), Status::upToDate());
    EXPECT_TRUE(store->item(QDir(apps()).filePath(u"Slow.app"_s))->checking());
    released = true;
    await(std::move(running));
    EXPECT_EQ(store->checked(), 2);
}

TEST_F(StoreTest, HiddenAppStoreAppsLeaveEveryFilterAndCount)
{
    install(u"Store"_s, u"1.0"_s);
    BundleBuilder(apps(), u"Direct"_s).bundleID(u"com.example.direct"_s).create();
    const auto store = makeStore();
    await(store->refresh(false, false));
    EXPECT_EQ(store->count(Filter::all), 2);
    prefs->setHideAppStore(true);
    EXPECT_EQ(names(store->visible()), QStringList { u"Direct"_s });
    EXPECT_EQ(store->count(Filter::cantVerify), 1);
    EXPECT_EQ(store->count(Filter::library), 0);
    EXPECT_TRUE(store->shown(Filter::library).isEmpty());
}

TEST_F(StoreTest, SearchLooksAtNameBundleIdAndSource)
{
    install(u"Alpha"_s, u"1.0"_s);
    install(u"Beta"_s, u"1.0"_s);
    storeVersions = { { u"com.example.alpha"_s, u"1.0"_s } };
    const auto store = makeStore();
    await(store->refresh(false, false));
    store->setQuery(u"  "_s);
    EXPECT_EQ(store->shown(Filter::all).size(), 2);
    store->setQuery(u" mac app STORE "_s);
    EXPECT_EQ(names(store->shown(Filter::all)), QStringList { u"Alpha"_s });
    store->setQuery(u"EXAMPLE.BETA"_s);
    EXPECT_EQ(names(store->shown(Filter::all)), QStringList { u"Beta"_s });
    EXPECT_EQ(store->count(Filter::all), 2); // the search never narrows counts
}

TEST(StoreMatches, Table)
{
    EXPECT_TRUE(Store::matches(u"\t "_s, {}));
    EXPECT_TRUE(Store::matches(u"homebrew"_s, { u"Foo"_s, std::nullopt, u"Homebrew cask"_s }));
    EXPECT_FALSE(Store::matches(u"brew"_s, { u"Foo"_s, std::nullopt, std::nullopt }));
    EXPECT_TRUE(Store::matches(u"ÉCLAIR"_s, { u"éclair"_s }));
}

} // namespace
