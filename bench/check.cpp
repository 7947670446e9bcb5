// A whole check of many apps against update sources played on loopback,
// every answer delayed, at most 8 checks at once. The ideal is the number of
// requests made, divided by 8, times the delay: what perfect use of the 8
// slots would cost. Scenarios: 300 apps at 20 ms per answer with every source
// on one host (where the session's six connections per host cap the
// parallelism) and with the sources spread over eight hosts, as the real
// services and feeds are; and 1,000 apps at 50 ms on eight hosts, with the
// peak memory of the check.
//
//     bench_check [--apps N --latency MS --hosts H [--iterations I]]
//
// With options, one scenario runs and prints one line (bench/curves uses it).

#include "discovery/InstalledApp.h"
#include "platform/HostInfo.h"
#include "sources/BrewIndex.h"
#include "sources/Checker.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/TestServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

constexpr int limit = 8;

// Which source answers for app `i`: 20% App Store, 30% Sparkle, 30% a
// versioned cask, 10% GitHub behind an unversioned cask, 10% Electron.
enum class Kind { appStore, sparkle, cask, github, electron };

Kind kindOf(int i)
{
    switch (i % 10) {
    case 0:
    case 1:
        return Kind::appStore;
    case 2:
    case 3:
    case 4:
        return Kind::sparkle;
    case 5:
    case 6:
    case 7:
        return Kind::cask;
    case 8:
        return Kind::github;
    default:
        return Kind::electron;
    }
}

QByteArray caskIndex(int appCount)
{
    QJsonArray casks;
    for (int i = 0; i < appCount; ++i) {
        const Kind kind = kindOf(i);
        if (kind != Kind::cask && kind != Kind::github)
            continue;
        casks.append(QJsonObject {
            { u"token"_s, u"app%1"_s.arg(i) },
            { u"version"_s, kind == Kind::cask ? u"2.%1.0,100"_s.arg(i) : u"latest"_s },
            { u"url"_s, u"https://example.com/App%1.zip"_s.arg(i) },
            { u"sha256"_s, u"no_check"_s },
            { u"homepage"_s, u"https://github.com/owner/app%1"_s.arg(i) },
            { u"artifacts"_s,
                QJsonArray { QJsonObject { { u"app"_s, QJsonArray { u"App%1.app"_s.arg(i) } } } } },
        });
    }
    return QJsonDocument(casks).toJson(QJsonDocument::Compact);
}

// The update sources on `hosts` servers: the App Store, the cask index and
// GitHub on the first three, the apps' own feeds spread over all of them.
struct World {
    World(int hosts, int appCount, std::chrono::milliseconds latency)
    {
        const QByteArray index = caskIndex(appCount);
        for (int h = 0; h < hosts; ++h) {
            servers.push_back(std::make_unique<TestServer>());
            TestServer& server = *servers.back();
            server.setLatency(latency);
            server.onPrefix(u"/lookup"_s, [](const RecordedRequest& request) {
                const QString id = request.query.queryItemValue(u"bundleId"_s);
                return Response::json(
                    QJsonDocument(QJsonObject { { u"resultCount"_s, 1 },
                                      { u"results"_s,
                                          QJsonArray { QJsonObject { { u"bundleId"_s, id },
                                              { u"version"_s, u"9.0"_s }, { u"trackId"_s, 12345 } } } } })
                        .toJson(QJsonDocument::Compact));
            });
            server.on(u"/api/cask.json"_s, Response::json(index));
            server.onPrefix(u"/repos/"_s, [](const RecordedRequest&) {
                return Response::json(R"({"tag_name": "v3.0.0", "assets": [{"name": "App-universal-mac.zip",
                    "browser_download_url": "https://example.com/App.zip", "size": 1000}]})");
            });
            server.onPrefix(u"/feeds/"_s, [](const RecordedRequest& request) {
                if (request.path.endsWith(u".yml"))
                    return Response::text("version: 4.0.0\nfiles:\n  - url: App.zip\n    size: 1000\n");
                return Response::text(R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
<item><sparkle:version>500</sparkle:version><sparkle:shortVersionString>5.0</sparkle:shortVersionString>
<enclosure url="https://example.com/App.zip" length="1000" sparkle:edSignature="c2ln"/></item>
</channel></rss>)",
                    200, "application/rss+xml");
            });
        }
        endpoints.itunes = servers[0]->url(u"/"_s);
        endpoints.brew = servers[std::min(1, hosts - 1)]->url(u"/"_s);
        endpoints.github = servers[std::min(2, hosts - 1)]->url(u"/"_s);
        for (int i = 0; i < appCount; ++i) {
            InstalledApp app;
            app.name = u"App%1"_s.arg(i);
            app.url = QUrl::fromLocalFile(u"/Applications/App%1.app"_s.arg(i));
            app.bundleID = u"com.example.app%1"_s.arg(i);
            app.version = u"1.0"_s;
            const TestServer& feeds = *servers[std::size_t(i % hosts)];
            switch (kindOf(i)) {
            case Kind::appStore:
                app.isAppStore = true;
                break;
            case Kind::sparkle:
                app.feedURL = feeds.url(u"/feeds/%1/appcast.xml"_s.arg(i));
                break;
            case Kind::electron:
                app.electronFeed = feeds.url(u"/feeds/%1/latest-mac.yml"_s.arg(i));
                break;
            case Kind::cask:
            case Kind::github:
                break;
            }
            apps.push_back(app);
        }
    }

    int requests() const
    {
        int total = 0;
        for (const auto& server : servers)
            total += int(server->requests().size());
        return total;
    }
    void clear()
    {
        for (const auto& server : servers)
            server->clearRequests();
    }

    std::vector<std::unique_ptr<TestServer>> servers;
    Endpoints endpoints;
    std::vector<InstalledApp> apps;
};

// A memory figure of this process from /proc/self/status, in bytes.
double statusBytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + std::strlen(field)) * 1024.0;
    }
    return 0;
}

// Starts the peak resident size over from the current one.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Figures {
    double wall = 0; // ms, mean over the iterations
    double ideal = 0; // ms
    double peak = 0; // bytes resident at the peak of the check
    double growth = 0; // the most a check's peak rose above the resident size before it
};
using Scenario = std::tuple<int, int, int>; // hosts, apps, latency ms
std::map<Scenario, Figures> measured;

void checkAll(benchmark::State& state)
{
    const int hosts = int(state.range(0));
    const int appCount = int(state.range(1));
    const std::chrono::milliseconds latency(state.range(2));
    World world(hosts, appCount, latency);
    Figures figures;
    const FixedHostInfo host({ 15, 0, 0 }, true);
    double wall = 0; // summed over the iterations
    double ideal = 0;
    int iterations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        world.clear();
        Net net;
        // A fresh index each time: the first refresh after launch downloads it.
        BrewIndex brew(net, appendPath(world.endpoints.brew, u"api/cask.json"_s), std::nullopt, host);
        const Checker checker(net, world.endpoints, brew, MacFacts { true, { 15, 0, 0 }, u"US"_s });
        const double before = statusBytes("VmRSS:");
        resetPeak();
        state.ResumeTiming();
        const auto started = std::chrono::steady_clock::now();
        const std::vector<CheckedApp> results = await(checker.checkAll(world.apps, limit), 600s);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
        state.PauseTiming();
        const double peak = statusBytes("VmHWM:");
        figures.peak = std::max(figures.peak, peak);
        figures.growth = std::max(figures.growth, peak - before);
        for (const CheckedApp& result : results) {
            if (!result.release)
                qFatal("%s found no release", qPrintable(result.app.name));
        }
        wall += took.count();
        ++iterations;
        ideal = world.requests() / double(limit) * double(latency.count());
        state.ResumeTiming();
    }
    state.counters["requests"] = world.requests();
    state.counters["ideal_ms"] = ideal;
    wall /= std::max(iterations, 1);
    state.counters["ratio"] = wall / ideal;
    figures.wall = wall;
    figures.ideal = ideal;
    measured[{ hosts, appCount, int(latency.count()) }] = figures;
}

// The value of `--name N` or `--name=N`, removed from the arguments; none without it.
std::optional<int> option(int& argc, char** argv, const char* name)
{
    const std::size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        int used = 1;
        if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=')
            value = argv[i] + length + 1;
        else if (std::strcmp(argv[i], name) == 0 && i + 1 < argc)
            value = argv[i + 1], used = 2;
        if (!value)
            continue;
        const int number = std::atoi(value);
        std::copy(argv + i + used, argv + argc + 1, argv + i);
        argc -= used;
        return number;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    const auto apps = option(argc, argv, "--apps");
    const auto latency = option(argc, argv, "--latency");
    const auto hosts = option(argc, argv, "--hosts");
    const auto iterations = option(argc, argv, "--iterations");
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (apps || latency || hosts) {
        benchmark::RegisterBenchmark("checkAll", checkAll)
            ->Args({ hosts.value_or(8), apps.value_or(300), latency.value_or(50) })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations.value_or(1))
            ->UseRealTime();
    } else {
        for (const Scenario& scenario :
            { Scenario { 1, 300, 20 }, Scenario { 8, 300, 20 }, Scenario { 8, 1000, 50 } }) {
            const auto& [h, n, ms] = scenario;
            benchmark::RegisterBenchmark("checkAll", checkAll)
                ->Args({ h, n, ms })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3)
                ->UseRealTime();
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [scenario, figures] : measured) {
        const auto& [h, n, ms] = scenario;
        std::printf("check of %d apps, %d at once, %d ms per answer, sources on %d host%s: %.0f ms wall, "
                    "ideal %.0f ms, ratio %.2f (goal <= 1.15)\n",
            n, limit, ms, h, h == 1 ? "" : "s", figures.wall, figures.ideal, figures.wall / figures.ideal);
        std::printf(
            "check of %d apps, %d ms per answer, %d host%s: peak memory %.1f MB resident, %.1f MB above "
            "the start of the check\n",
            n, ms, h, h == 1 ? "" : "s", figures.peak / 1e6, figures.growth / 1e6);
    }
    benchmark::Shutdown();
    return 0;
}
