// A whole refresh of 300 apps by the application model against update
// sources played on loopback, each answer delayed by 20 ms: the wall time,
// its ratio to the ideal (requests ÷ 8 × 20 ms), and the longest time the
// main thread went without turning its event loop (the interface's budget
// is one frame, 16 ms).

#include "model/Prefs.h"
#include "model/Store.h"
#include "platform/CodeSigning.h"
#include "platform/HostInfo.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/TestServer.h"
#include "support/Unsigned.h"

#include <cmath>
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int appCount = 300;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir root;
    const QString apps = root.filePath(u"Applications"_s);
    for (int i = 0; i < appCount; ++i) {
        BundleBuilder(apps, u"App %1"_s.arg(i))
            .bundleID(u"com.example.app%1"_s.arg(i))
            .version(u"1.0"_s)
            .binaryPlist(i % 2 == 0)
            .appStoreReceipt()
            .create();
    }

    TestServer server;
    server.setLatency(20ms);
    server.on(u"/api/cask.json"_s, Response::json("[]"));
    server.onPrefix(u"/lookup"_s, [](const RecordedRequest& request) {
        const QString id = request.query.queryItemValue(u"bundleId"_s);
        const QJsonObject result { { u"bundleId"_s, id }, { u"version"_s, u"1.1"_s } };
        return Response::json(
            QJsonDocument(QJsonObject { { u"results"_s, QJsonArray { result } } }).toJson());
    });

    Net net;
    Unsigned codeSigning;
    FixedHostInfo host({ 15, 0, 0 }, true);
    Prefs prefs(std::make_unique<QSettings>(root.filePath(u"prefs.ini"_s), QSettings::IniFormat), Launch());
    const Launch launch({ u"--sandbox"_s, apps, u"--mock"_s, server.url().toString() });

    double bestMs = 1e9;
    qint64 worstGapMs = 0;
    int requests = 0;
    for (int round = 0; round < 3; ++round) {
        // A fresh model each round, so every round is a first refresh with its reveal.
        Store store({ net, codeSigning, host, prefs }, launch);
        server.clearRequests();
        QElapsedTimer sinceTick;
        qint64 gap = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &tick, [&] { gap = std::max(gap, sinceTick.restart()); });
        tick.start(0);
        sinceTick.start();
        QElapsedTimer wall;
        wall.start();
        await(store.refresh(false, false), 120s);
        const double ms = double(wall.nsecsElapsed()) / 1e6;
        tick.stop();
        if (store.count(Filter::updates) != appCount) {
            std::fprintf(stderr, "expected %d updates, got %d\n", appCount, store.count(Filter::updates));
            return 1;
        }
        bestMs = std::min(bestMs, ms);
        worstGapMs = std::max(worstGapMs, gap);
        requests = int(server.requests().size());
    }
    // The first list appears in slices of 8 with a 35 ms pause after each
    // before any check starts: time the refresh spends by design.
    const double revealMs = std::ceil(appCount / 8.0) * 35.0;
    const double idealMs = revealMs + double(requests) / 8.0 * 20.0;
    std::printf("refresh of %d apps: %.0f ms (best of 3)\n", appCount, bestMs);
    std::printf("requests: %d; ideal (reveal %.0f ms + requests / 8 x 20 ms): %.0f ms; ratio %.2f\n",
        requests, revealMs, idealMs, bestMs / idealMs);
    std::printf(
        "longest main-thread gap between event-loop turns: %lld ms\n", static_cast<long long>(worstGapMs));
    return 0;
}
