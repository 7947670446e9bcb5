#pragma once

#include "integration/demo/ServedWorld.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "support/Await.h"
#include "views/App.h"
#include "views/Look.h"

#include <memory>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvanta::test {

// The application over the demo world: its sample apps in a sandbox, every
// update source played by the demo server on loopback, its certificate
// authority as the trust anchor, and settings in a temporary file.
struct GuiWorld {
    GuiWorld()
    {
        // The Mac the world's expectations are written for.
        qputenv("CORVANTA_MACOS_VERSION", world.manifest.macOS.text().toUtf8());
        qputenv("CORVANTA_APPLE_SILICON", world.manifest.appleSilicon ? "1" : "0");
    }

    ServedWorld world;
    QTemporaryDir settings;
    // Launches as on a first run: the welcome not yet seen.
    bool firstRun = false;

    Launch launch(QStringList extra = {}) const
    {
        QStringList arguments { QStringLiteral("--sandbox"), world.layout.applications(),
            QStringLiteral("--mock"), world.server->base().toString(), QStringLiteral("--anchors"),
            world.layout.anchors(), QStringLiteral("--reduce-motion") };
        if (!firstRun)
            arguments << QStringLiteral("--skip-onboarding");
        return Launch(arguments + extra);
    }

    // Fresh settings for every application opened, so no test sees another's.
    std::unique_ptr<Prefs> prefs(QStringList extra = {})
    {
        const QString file = settings.filePath(QStringLiteral("prefs-%1.ini").arg(++opened));
        return std::make_unique<Prefs>(
            std::make_unique<QSettings>(file, QSettings::IniFormat), launch(extra));
    }
    int opened = 0;

    // Fresh settings that ignore every sample app but the ones named.
    std::unique_ptr<Prefs> prefsKeeping(const QStringList& kept)
    {
        auto fresh = prefs();
        QStringList ignored;
        for (const demo::SampleApp& sample : world.manifest.apps) {
            if (!kept.contains(sample.name))
                ignored << sample.bundleID;
        }
        fresh->setIgnoredApps(ignored);
        return fresh;
    }

    // A new application on the world, refreshed once.
    std::unique_ptr<App> open(Appearance appearance = Appearance::light, QStringList extra = {})
    {
        auto app = std::make_unique<App>(launch(extra), prefs());
        Look::apply(appearance);
        await(app->store().refresh(false, false), std::chrono::seconds(120));
        settle();
        return app;
    }

    // Lets queued redraws and coalesced model changes land.
    static void settle()
    {
        for (int round = 0; round < 3; ++round)
            QApplication::processEvents();
    }

    const demo::SampleApp& sample(const QString& name) const
    {
        for (const demo::SampleApp& app : world.manifest.apps) {
            if (app.name == name)
                return app;
        }
        throw std::runtime_error("no sample app of that name");
    }

    int expected(const QString& status) const
    {
        int count = 0;
        for (const demo::SampleApp& app : world.manifest.apps)
            count += app.check.status == status ? 1 : 0;
        return count;
    }
};

// A test suite whose tests share one demo world, made once for the suite.
class GuiWorldSuite : public testing::Test {
protected:
    static void SetUpTestSuite() { world = new GuiWorld; }
    static void TearDownTestSuite()
    {
        delete world;
        world = nullptr;
    }

    static inline GuiWorld* world = nullptr;
};

} // namespace corvanta::test
