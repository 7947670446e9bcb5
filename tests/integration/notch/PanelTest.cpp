#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "notch/UpdateIsland.h"
#include "platform/HostInfo.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/EdKey.h"
#include "support/MachOWriter.h"
#include "support/TestServer.h"
#include "support/ZipWriter.h"
#include "unit/notch/ManualClock.h"
#include "unit/notch/NotchFakes.h"

#include <QCoro/QCoroTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QCoro::Task<> briefly()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(1);
    co_await timer;
}

// Sparkle apps on a loopback server, installed by the real installer from
// the notch panel: the panel's title and subtitle follow the real phases.
class PanelTest : public testing::Test {
protected:
    QTemporaryDir root;
    TestServer server;
    Net net;
    codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors() };
    FixedHostInfo host { { 15, 0, 0 }, true };
    std::unique_ptr<Prefs> prefs;
    EdKey key;
    ManualClock clock { QDateTime(QDate(2026, 3, 10), QTime(12, 0)) };
    FakeDesktop desktop;

    QString apps() const { return root.filePath(u"Applications"_s); }

    void SetUp() override
    {
        QDir().mkpath(apps());
        prefs = std::make_unique<Prefs>(
            std::make_unique<QSettings>(root.filePath(u"prefs.ini"_s), QSettings::IniFormat), Launch());
        prefs->setQuietHours(false);
        server.on(u"/api/cask.json"_s, Response::json("[]"));
        server.onPrefix(
            u"/lookup"_s, [](const RecordedRequest&) { return Response::json(R"({"results":[]})"); });
    }

    QString bundle(const QString& folder, const QString& name, const QString& version, const QString& build,
        const QUrl& feed) const
    {
        const QString path
            = BundleBuilder(folder, name)
                  .bundleID(u"com.example."_s + name.toLower())
                  .version(version)
                  .build(build)
                  .edKey(key.publicKey())
                  .feedURL(feed.toString())
                  .executable(name, MachOWriter::executable(CpuType::ofThisBuild(), 20000, build.toUInt()))
                  .create();
        codesign::CodeSigner(codesign::SigningOptions {}).sign(path);
        return path;
    }

    // Installs `name` 1.0 and serves 2.0, its signature made over other bytes when `forged`.
    void offer(const QString& name, bool forged = false)
    {
        const QUrl feed = server.url(u"/"_s + name + u"/appcast.xml"_s);
        bundle(apps(), name, u"1.0"_s, u"1"_s, feed);
        const QString newer = bundle(root.filePath(u"new"_s), name, u"2.0"_s, u"2"_s, feed);
        const QString zip = root.filePath(name + u".zip"_s);
        {
            ZipWriter writer(zip);
            writer.tree(newer, name + u".app"_s);
        }
        QFile file(zip);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString download = u"/"_s + name + u"/"_s + name + u"-2.0.zip"_s;
        server.on(download, Response { .body = bytes });
        const QString signature = key.sign(forged ? bytes + "!" : bytes);
        const QString appcast = uR"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>
<sparkle:version>2</sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString>
<enclosure url="%1" length="%2" sparkle:edSignature="%3"/>
</item></channel></rss>)"_s.arg(download, QString::number(bytes.size()), signature);
        server.on(
            u"/"_s + name + u"/appcast.xml"_s, Response::text(appcast.toUtf8(), 200, "application/xml"));
    }

    std::unique_ptr<Store> makeStore()
    {
        StoreServices services { net, codeSigning, host, *prefs };
        services.time = &clock;
        services.desktop = &desktop;
        services.revealInSlices = false;
        services.sleep = [](std::chrono::milliseconds) { return briefly(); };
        return std::make_unique<Store>(
            services, Launch({ u"--sandbox"_s, apps(), u"--mock"_s, server.url().toString() }));
    }
};

TEST_F(PanelTest, UpdateAllFromThePanelWithOneFailureAmongThree)
{
    offer(u"Alpha"_s);
    offer(u"Beta"_s, true);
    offer(u"Gamma"_s);
    const auto store = makeStore();
    await(store->refresh(true, true));
    clock.advance(2min);
    UpdateIsland& island = store->island();
    IslandState* panel = island.state();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->title(), u"3 updates ready"_s);
    EXPECT_EQ(panel->subtitle(), u"Found in the background. Update now, or later from Corvanta."_s);

    QStringList titles;
    QObject::connect(panel, &IslandState::rowsChanged, panel, [&] {
        if (titles.isEmpty() || titles.last() != panel->title())
            titles << panel->title();
    });
    island.updateAll();
    ASSERT_TRUE(waitUntil([&] { return !store->updatingAll(); }, 60s));
    EXPECT_EQ(island.state(), panel); // the panel stayed and followed
    EXPECT_EQ(panel->title(), u"2 updated \u00B7 1 failed"_s);
    EXPECT_EQ(panel->subtitle(), u"Failed updates left the app untouched. Open Corvanta to see why."_s);
    ASSERT_FALSE(titles.isEmpty());
    EXPECT_EQ(titles.front(), u"3 left"_s);
    EXPECT_TRUE(titles.contains(u"1 updated \u00B7 2 left"_s)) << titles.join(u" | "_s).toStdString();
    EXPECT_TRUE(titles.contains(u"1 updated \u00B7 1 failed \u00B7 1 left"_s))
        << titles.join(u" | "_s).toStdString();

    // Done and left alone, it folds away.
    clock.advance(32s);
    EXPECT_EQ(island.state(), nullptr);
}

TEST_F(PanelTest, SkipTheseVersionsStopsThemCounting)
{
    offer(u"Alpha"_s);
    const auto store = makeStore();
    await(store->refresh(true, true));
    clock.advance(2min);
    ASSERT_NE(store->island().state(), nullptr);
    store->island().hold(UpdateIsland::HoldEntry::skipTheseVersions);
    EXPECT_EQ(store->island().state(), nullptr);
    EXPECT_EQ(prefs->ignoredVersions().value(u"com.example.alpha"_s), u"2.0"_s);
    EXPECT_EQ(store->count(Filter::updates), 0);
}

} // namespace
