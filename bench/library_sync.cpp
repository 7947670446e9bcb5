// The library sync of 300 apps against the real Authentication and Firestore
// emulators on loopback: the HTTP requests and wall time of a first sync and
// of an unchanged re-sync (each a read of the library, then the sync), and
// their ratio to one bare commit of one write, the smallest exchange there is.

#include "account/Account.h"
#include "account/Cloud.h"
#include "sources/Net.h"
#include "support/AuthEmulator.h"
#include "support/Await.h"
#include "support/FirestoreEmulator.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTimeZone>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int appCount = 300;
constexpr int rounds = 5;

struct Figures {
    std::map<QByteArray, int> requests; // by method
    int writes = 0;
    double ms = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    AuthEmulator auth;
    FirestoreEmulator firestore;
    if (!auth.running() || !firestore.running())
        return 1;
    QProcessEnvironment environment;
    environment.insert(u"FIREBASE_AUTH_EMULATOR_HOST"_s, auth.host());
    environment.insert(u"FIRESTORE_EMULATOR_HOST"_s, firestore.host());
    CloudConfig config { .apiKey = u"demo-key"_s, .projectId = u"demo-test"_s };
    config.applyEmulator(environment);

    Net net;
    std::map<QByteArray, int> requests;
    QObject counter;
    QObject::connect(&net.session(), &QNetworkAccessManager::finished, &counter, [&](QNetworkReply* reply) {
        ++requests[reply->request().attribute(QNetworkRequest::CustomVerbAttribute).toByteArray()];
    });

    std::vector<Cloud::Installed> apps;
    for (int i = 0; i < appCount; ++i) {
        const QString id = u"com.example.app%1"_s.arg(i);
        Release release {
            .kind = SourceKind::homebrew, .notesURL = QUrl(u"https://example.com/"_s + id), .ref = id
        };
        apps.push_back(
            { { .name = u"App %1"_s.arg(i), .bundleID = id, .version = u"1.0"_s, .team = u"TEAM1"_s },
                release });
    }
    const Cloud cloud { config, await(Auth::signUp(net, u"bench@example.com"_s, u"secret1"_s, config)) };
    const Device mac { .id = u"d1"_s,
        .name = u"Studio"_s,
        .model = u"Mac15,3"_s,
        .lastSeen = QDateTime::currentDateTimeUtc(),
        .hardware = u"hash"_s };

    // A read of the library, then the sync against it, as the model runs them.
    const auto sync = [&] {
        requests.clear();
        QElapsedTimer wall;
        wall.start();
        const std::vector<LibraryApp> library = await(cloud.apps(net), 60s);
        const int writes = await(cloud.sync(net, mac, apps, library), 60s);
        return Figures { requests, writes, double(wall.nsecsElapsed()) / 1e6 };
    };
    std::vector<double> first, again, bare;
    Figures firstFigures, againFigures;
    for (int round = 0; round < rounds; ++round) {
        firestore.clear();
        QElapsedTimer wall;
        wall.start();
        await(cloud.commit(
            net, { cloud.write(cloud.userPath(), { { { u"email"_s }, CloudValue::string(u"x"_s) } }) }));
        bare.push_back(double(wall.nsecsElapsed()) / 1e6);
        firstFigures = sync();
        first.push_back(firstFigures.ms);
        againFigures = sync();
        again.push_back(againFigures.ms);
    }

    const double baseline = median(bare);
    const auto report = [&](const char* what, const Figures& figures, double ms) {
        std::printf("%s: %d GET + %d POST, %d writes; %.0f ms (median of %d), %.1f x one commit\n", what,
            figures.requests.count("GET") ? figures.requests.at("GET") : 0,
            figures.requests.count("POST") ? figures.requests.at("POST") : 0, figures.writes, ms, rounds,
            ms / baseline);
    };
    std::printf("one commit of one write: %.1f ms (median of %d)\n", baseline, rounds);
    report("first sync of 300 apps", firstFigures, median(first));
    report("unchanged re-sync", againFigures, median(again));
    return againFigures.writes == 1 && againFigures.requests.at("POST") == 1 ? 0 : 1;
}
