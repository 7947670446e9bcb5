#include "discovery/InstalledApp.h"
#include "platform/HostInfo.h"
#include "sources/BrewIndex.h"
#include "sources/Checker.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QCoro/QCoroTimer>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

// Apps known only by their Electron feed, one feed path per app, so each
// check makes exactly one request once the (empty) cask index is loaded.
class CheckAll : public testing::Test {
protected:
    CheckAll()
    {
        server.on(u"/api/cask.json"_s, Response::json("[]"));
        // The index loads once, before the timed part of each test.
        await(brew.load());
        server.clearRequests();
    }

    InstalledApp app(int index) const
    {
        InstalledApp result;
        result.url = QUrl::fromLocalFile(u"/Applications/App%1.app"_s.arg(index));
        result.name = u"App%1"_s.arg(index);
        result.bundleID = u"com.example.app%1"_s.arg(index);
        result.electronFeed = server.url(u"/feed/%1/latest-mac.yml"_s.arg(index));
        return result;
    }

    void serveFeed(int index, std::chrono::milliseconds delay = 0ms)
    {
        Response response = Response::text(u"version: %1.0\n"_s.arg(index).toUtf8());
        response.delay = delay;
        server.on(u"/feed/%1/latest-mac.yml"_s.arg(index), response);
    }

    static QStringList names(const std::vector<CheckedApp>& results)
    {
        QStringList list;
        for (const CheckedApp& result : results)
            list << result.app.name;
        return list;
    }

    TestServer server;
    Net net;
    FixedHostInfo host { { 15, 0, 0 }, true };
    Endpoints endpoints = Endpoints::mock(server.url(u"/"_s));
    BrewIndex brew { net, appendPath(endpoints.brew, u"api/cask.json"_s), std::nullopt, host };
    Checker checker { net, endpoints, brew };
};

TEST_F(CheckAll, NeverMoreThanTheLimitInFlight)
{
    // One host: the session's pool, not spread host names, lets eight run at once.
    std::vector<InstalledApp> apps;
    for (int i = 0; i < 20; ++i)
        apps.push_back(app(i));
    for (int limit : { 1, 3, 8 }) {
        SCOPED_TRACE(limit);
        // Each answer waits until `limit` requests are open at once, so the
        // limit is reached whatever the machine's speed; past it, nothing waits.
        bool reached = false;
        server.onPrefix(u"/feed/"_s, [&](const RecordedRequest& request) {
            Response answer
                = Response::text(u"version: %1.0\n"_s.arg(request.path.section(u'/', 2, 2)).toUtf8());
            answer.heldUntil = [&] { return reached = reached || server.activeRequests() >= limit; };
            return answer;
        });
        server.clearRequests();
        const std::vector<CheckedApp> results = await(checker.checkAll(apps, limit));
        ASSERT_EQ(results.size(), apps.size());
        EXPECT_EQ(server.requests().size(), 20);
        EXPECT_EQ(server.maxConcurrent(), limit);
        for (const CheckedApp& result : results) {
            ASSERT_TRUE(result.release);
            EXPECT_EQ(result.release->version, result.app.name.mid(3) + u".0"_s);
        }
    }
}

TEST_F(CheckAll, ResultsInCompletionOrder)
{
    // App0 answers only once the others have been checked, which they are
    // in list order while it waits.
    const std::vector<InstalledApp> apps { app(0), app(1), app(2), app(3) };
    for (int i = 1; i < 4; ++i)
        serveFeed(i);
    QStringList seen;
    server.on(u"/feed/0/latest-mac.yml"_s, [&](const RecordedRequest&) {
        Response answer = Response::text("version: 0.0\n");
        answer.heldUntil = [&] { return seen.size() == 3; };
        return answer;
    });
    const std::vector<CheckedApp> results = await(checker.checkAll(apps, 2,
        [&](const InstalledApp& each, const std::vector<Attempt>& attempts,
            const std::optional<Release>& release) -> QCoro::Task<> {
            seen << each.name;
            EXPECT_EQ(attempts.size(), 5u);
            EXPECT_TRUE(release);
            co_return;
        }));
    EXPECT_EQ(names(results), (QStringList { u"App1"_s, u"App2"_s, u"App3"_s, u"App0"_s }));
    EXPECT_EQ(seen, names(results));
}

TEST_F(CheckAll, EachIsAwaitedOneAtATime)
{
    std::vector<InstalledApp> apps;
    for (int i = 0; i < 6; ++i) {
        serveFeed(i, std::chrono::milliseconds(10 * i));
        apps.push_back(app(i));
    }
    int inside = 0;
    int most = 0;
    int calls = 0;
    const std::vector<CheckedApp> results = await(checker.checkAll(apps, 4,
        [&](const InstalledApp&, const std::vector<Attempt>&,
            const std::optional<Release>&) -> QCoro::Task<> {
            most = std::max(most, ++inside);
            ++calls;
            // Long enough for other checks to finish meanwhile.
            co_await QCoro::sleepFor(60ms);
            --inside;
        }));
    EXPECT_EQ(results.size(), 6u);
    EXPECT_EQ(calls, 6);
    EXPECT_EQ(most, 1);
}

TEST_F(CheckAll, NothingToDo)
{
    serveFeed(0);
    int calls = 0;
    const Checker::Each each = [&](const InstalledApp&, const std::vector<Attempt>&,
                                   const std::optional<Release>&) -> QCoro::Task<> {
        ++calls;
        co_return;
    };
    const std::vector<InstalledApp> one { app(0) };
    EXPECT_TRUE(await(checker.checkAll(one, 0, each)).empty());
    EXPECT_TRUE(await(checker.checkAll(one, -3, each)).empty());
    EXPECT_TRUE(await(checker.checkAll(std::vector<InstalledApp>(), 8, each)).empty());
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(CheckAll, OutlivesTheCheckerThatStartedIt)
{
    serveFeed(0, 50ms);
    serveFeed(1, 50ms);
    QCoro::Task<std::vector<CheckedApp>> running = [&] {
        const Checker temporary(net, endpoints, brew);
        std::vector<InstalledApp> apps { app(0), app(1) };
        return temporary.checkAll(std::move(apps), 1);
    }();
    EXPECT_EQ(await(std::move(running)).size(), 2u);
}

} // namespace
