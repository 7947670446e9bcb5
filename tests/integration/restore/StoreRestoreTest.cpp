#include "model/Store.h"

#include "../package/PackageWorld.h"
#include "model/LibraryItem.h"
#include "model/Prefs.h"
#include "model/Restore.h"
#include "platform/HostInfo.h"
#include "support/QtPrinters.h"

#include <QSettings>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

class AnsweringPrompts : public Prompts {
public:
    QCoro::Task<bool> ask(Question question) override
    {
        asked << question;
        co_return answer;
    }
    void tell(Alert) override { }

    bool answer = true;
    QList<Question> asked;
};

// A new Mac in the install sandbox: a Store whose restores run through the
// test authority's Gatekeeper and this program's package tools.
class StoreRestore : public PackageWorld {
protected:
    StoreRestore()
    {
        prefs = std::make_unique<Prefs>(
            std::make_unique<QSettings>(m_sandbox.root() + u"/prefs.ini"_s, QSettings::IniFormat), Launch());
        m_server.on(u"/api/cask.json"_s, Response::json("[]"));
        m_server.on(u"/feed.xml"_s, [this](const RecordedRequest&) {
            ++feedReads;
            return Response::text("gone", 404);
        });
    }

    std::unique_ptr<Store> makeStore()
    {
        StoreServices services { m_services.net, *m_services.codeSigning, host, *prefs };
        services.ditto = m_services.ditto.get();
        services.rename = &m_services.rename;
        services.trash = &m_services.trash;
        services.workspace = m_services.workspace.get();
        services.diskImages = m_services.diskImages.get();
        services.gatekeeper = m_gatekeeper.get();
        services.packageTools = &m_tools;
        services.mayWrite = [this](const QString&) { return administrator; };
        auto store = std::make_unique<Store>(services,
            Launch({ u"--sandbox"_s, m_sandbox.applications(), u"--mock"_s, m_server.url().toString() }));
        store->setPrompts(&prompts);
        return store;
    }

    // A row of the library with its route already known.
    LibraryItem* row(Store& store, const QString& name, std::optional<Route> route)
    {
        LibraryApp app = library();
        app.id = u"com.example."_s + name.toLower();
        app.name = name;
        auto* item = new LibraryItem(app, &store);
        item->setRoute(std::move(route));
        return item;
    }
    static Route manual() { return Route { Route::Manual { QUrl(u"https://example.com"_s), u"why"_s } }; }
    Route fromZip()
    {
        const QString app = makeApp(m_sandbox.inputs(), { .team = u"TEAMAAAAAA"_s });
        return Route { Route::Install { { release(SourceKind::homebrew, serveZip(app)) } } };
    }
    Route broken()
    {
        Release missing = release(SourceKind::sparkle, "x");
        missing.download->url = m_server.url(u"/missing.zip"_s);
        return Route { Route::Install { { missing } } };
    }

    FixedHostInfo host { { 15, 0, 0 }, true };
    std::unique_ptr<Prefs> prefs;
    AnsweringPrompts prompts;
    bool administrator = true;
    int feedReads = 0;
};

const QString byHand = u" installing from the App Store or its website. See Get It Yourself."_s;

TEST_F(StoreRestore, RowsGoOneAtATimeAndAFailedOneDoesNotStopTheRun)
{
    const auto store = makeStore();
    LibraryItem* failing = row(*store, u"Bar"_s, broken());
    LibraryItem* foo = row(*store, u"Foo"_s, fromZip());
    LibraryItem* yours = row(*store, u"Baz"_s, manual());
    QList<InstallPhase::Kind> fooPhases;
    QObject::connect(foo, &LibraryItem::changed, foo, [&] {
        if (fooPhases.isEmpty() || fooPhases.last() != foo->phase().kind)
            fooPhases << foo->phase().kind;
        // Strictly one at a time: the failed row is over before this one starts.
        EXPECT_TRUE(failing->phase().kind == InstallPhase::Kind::failed
            || foo->phase().kind == InstallPhase::Kind::queued);
    });
    QList<bool> restoring;
    QObject::connect(
        store.get(), &Store::restoringChanged, store.get(), [&] { restoring << store->restoring(); });

    await(store->restore({ failing, foo, yours }), std::chrono::seconds(60));

    EXPECT_EQ(failing->phase().kind, InstallPhase::Kind::failed);
    EXPECT_EQ(failing->note(), failing->phase().reason);
    EXPECT_EQ(foo->phase(), InstallPhase::done());
    EXPECT_EQ(foo->team(), u"TEAMAAAAAA"_s);
    EXPECT_EQ(fooPhases.front(), InstallPhase::Kind::queued);
    EXPECT_TRUE(fooPhases.contains(InstallPhase::Kind::verifying));
    EXPECT_TRUE(QFileInfo(m_sandbox.applications() + u"/Foo.app/Contents/Info.plist"_s).isFile());
    EXPECT_EQ(yours->phase(), InstallPhase::idle());
    EXPECT_EQ(yours->note(), u"why"_s);
    EXPECT_EQ(store->notice(), u"1 app needs"_s + byHand);
    EXPECT_EQ(restoring, (QList<bool> { true, false }));
    // The closing refresh lists the restored app.
    ASSERT_EQ(store->items().size(), 1);
    EXPECT_EQ(store->items().front()->app().bundleID, u"com.example.foo"_s);
}

TEST_F(StoreRestore, AStandardUserRestoresIntoTheHomeApplicationsFolder)
{
    administrator = false;
    const auto store = makeStore();
    LibraryItem* foo = row(*store, u"Foo"_s, fromZip());
    const Route inStore { Route::Store { QUrl(u"macappstore://apps.apple.com/app/id1"_s) } };
    const QList<LibraryItem*> items { foo, row(*store, u"A"_s, inStore), row(*store, u"B"_s, manual()),
        row(*store, u"C"_s, manual()) };

    await(store->restore(items), std::chrono::seconds(60));

    const QString home = m_sandbox.root() + u"/HomeApplications"_s;
    EXPECT_EQ(foo->phase(), InstallPhase::done());
    EXPECT_TRUE(QFileInfo(home + u"/Foo.app/Contents/Info.plist"_s).isFile());
    EXPECT_FALSE(QFileInfo::exists(m_sandbox.applications() + u"/Foo.app"_s));
    EXPECT_EQ(store->notice(),
        u"This account can't add apps to /Applications (it isn't an administrator), so Corvanta installs "
        u"them "
        u"in your own Applications folder ("_s
            + home + u"). 3 apps need"_s + byHand);
}

TEST_F(StoreRestore, DecliningAPackageStopsOnlyItsRow)
{
    const QString package = makePackage(m_sandbox.inputs(), m_authority.installerId(u"TEAMAAAAAA"_s));
    notarize(package);
    Release viaPackage = release(SourceKind::homebrew, readAll(package));
    viaPackage.download->url = m_server.url(u"/Foo.pkg"_s);
    m_server.on(u"/Foo.pkg"_s, Response { .body = readAll(package) });
    prompts.answer = false;
    const auto store = makeStore();
    LibraryItem* declined = row(*store, u"Foo"_s, Route { Route::Install { { viaPackage } } });
    LibraryItem* next = row(*store, u"Bar"_s, broken());

    await(store->restore({ declined, next }), std::chrono::seconds(60));

    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_EQ(declined->phase().kind, InstallPhase::Kind::failed);
    EXPECT_FALSE(QFileInfo::exists(m_sandbox.applications() + u"/Foo.app"_s));
    EXPECT_EQ(next->phase().kind, InstallPhase::Kind::failed);
    EXPECT_NE(next->phase().reason, declined->phase().reason);
    EXPECT_EQ(store->notice(), std::nullopt);
}

TEST_F(StoreRestore, ARouteIsLookedUpOnceAndKeptAcrossReloads)
{
    const auto store = makeStore();
    LibraryItem* item = row(*store, u"Feedy"_s, std::nullopt);
    LibraryApp app = item->app();
    app.feedURL = m_server.url(u"/feed.xml"_s).toString();
    item->setApp(app);

    await(store->restore({ item }), std::chrono::seconds(60));
    ASSERT_TRUE(item->route() && item->route()->manual());
    EXPECT_EQ(item->note(), Restore::nothingFoundReason);
    EXPECT_EQ(store->notice(), u"1 app needs"_s + byHand);

    // A reload hands the row a new record; its route stays.
    app.name = u"Feedy 2"_s;
    item->setApp(app);
    await(store->restore({ item }), std::chrono::seconds(60));
    EXPECT_EQ(feedReads, 1);
    ASSERT_TRUE(item->route()->manual());
}

} // namespace
