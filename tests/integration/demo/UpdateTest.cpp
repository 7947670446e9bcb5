#include "ServedWorld.h"
#include "codesign/MachO.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"
#include "install/UpdateError.h"
#include "install/Updater.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/Workspace.h"
#include "sources/BrewIndex.h"
#include "sources/Checker.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/QtPrinters.h"
#include "support/Snapshot.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::demo;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The world's updates through the real installer, on the Mac the manifest is
// written for: each good one installs with the log lines the manifest lists,
// each bad one is refused with its exact text and leaves its app untouched.
// What the end-to-end demo will show, checked here against the world alone.
TEST(DemoUpdate, EveryUpdateEndsAsTheManifestSays)
{
    ServedWorld world;
    const Manifest& manifest = world.manifest;
    const std::uint32_t cpu = manifest.appleSilicon ? codesign::cpu::arm64 : codesign::cpu::x86_64;
    const codesign::PortableCodeSigning codeSigning(
        codesign::TrustAnchors::fromFolder(world.layout.anchors()), cpu);

    Net net;
    const FixedHostInfo host(manifest.macOS, manifest.appleSilicon);
    BrewIndex brew(net, BrewIndex::indexURL(Endpoints::mock(manifest.base)), std::nullopt, host);
    MacFacts facts;
    facts.appleSilicon = manifest.appleSilicon;
    facts.system = manifest.macOS;
    const Checker checker(net, Endpoints::mock(manifest.base), brew, facts);
    const std::vector<InstalledApp> apps
        = Scanner::scan({ QUrl::fromLocalFile(world.layout.applications()) }, codeSigning, manifest.base);
    const std::vector<CheckedApp> results = await(checker.checkAll(apps, 8), std::chrono::seconds(120));
    ASSERT_EQ(results.size(), manifest.apps.size());

    const std::unique_ptr<Ditto> ditto = Ditto::create();
    const std::unique_ptr<Rename> rename = Rename::create();
    const std::unique_ptr<Trash> trash = Trash::create();
    const std::unique_ptr<Workspace> workspace = Workspace::create();
    const std::unique_ptr<DiskImages> diskImages = DiskImages::create();
    const QString trashFolder = world.layout.root + u"/Trash"_s;
    const Updater updater({ net, *ditto, *rename, *trash, *workspace, *diskImages, codeSigning },
        world.layout.applications(), trashFolder);

    int installs = 0;
    int refusals = 0;
    for (const CheckedApp& checked : results) {
        const SampleApp* sample = manifest.app(checked.app.bundleID);
        ASSERT_NE(sample, nullptr);
        if (!sample->update)
            continue;
        SCOPED_TRACE(sample->name.toStdString());
        const ExpectedUpdate& expected = *sample->update;
        ASSERT_TRUE(checked.release.has_value());
        EXPECT_EQ(
            checked.app.canInstall(checked.release), expected.outcome != ExpectedUpdate::Outcome::notOffered);
        if (expected.outcome == ExpectedUpdate::Outcome::notOffered)
            continue;

        const QString bundle = checked.app.url.toLocalFile();
        const Snapshot before = snapshot(bundle);
        QStringList log;
        std::optional<QString> refusal;
        try {
            log = await(updater.install(checked.app, *checked.release, [](const InstallPhase&) {}),
                std::chrono::seconds(120));
        } catch (const UpdateError& error) {
            refusal = error.description();
        }

        if (expected.outcome == ExpectedUpdate::Outcome::refused) {
            ++refusals;
            EXPECT_EQ(refusal, expected.text);
            EXPECT_EQ(snapshot(bundle), before) << "the app was left untouched";
            continue;
        }
        ++installs;
        ASSERT_FALSE(refusal.has_value()) << refusal->toStdString();
        // The manifest's lines, in order, among the log's.
        qsizetype at = 0;
        for (const QString& line : expected.log) {
            const qsizetype found = log.indexOf(line, at);
            EXPECT_GE(found, 0) << line.toStdString() << "\nin\n" << log.join(u'\n').toStdString();
            at = found < 0 ? at : found + 1;
        }
        const std::optional<InstalledApp> now
            = Scanner::read(checked.app.url, checked.app.folder, codeSigning);
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->version, expected.version);
        EXPECT_EQ(now->team, sample->team);
        EXPECT_TRUE(QFileInfo(trashFolder + u'/' + QFileInfo(bundle).fileName()).isDir())
            << "the old version went to the Trash folder";
    }
    const auto expected = [&](ExpectedUpdate::Outcome outcome) {
        return std::count_if(manifest.apps.begin(), manifest.apps.end(),
            [outcome](const SampleApp& app) { return app.update && app.update->outcome == outcome; });
    };
    EXPECT_EQ(installs, expected(ExpectedUpdate::Outcome::installed));
    EXPECT_EQ(refusals, expected(ExpectedUpdate::Outcome::refused));
}

} // namespace
