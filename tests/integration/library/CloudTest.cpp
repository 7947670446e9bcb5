#include "LibraryWorld.h"
#include "sources/CheckError.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QJsonArray>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const bool registered = (registerEmulators(), true);

const QString documents = u"/v1/projects/demo-test/databases/(default)/documents"_s;

// The sentence `task` throws, or "" when it succeeds.
template<typename T> QString failure(QCoro::Task<T> task)
{
    try {
        await(std::move(task));
        return {};
    } catch (const Error& error) {
        return error.description();
    }
}

class CloudTest : public EmulatedLibrary { };

TEST_F(CloudTest, AnswersBecomeTheirSentences)
{
    TestServer server;
    const Cloud cloud { .config = { .projectId = u"demo-test"_s, .firestoreHost = server.url().toString() },
        .session = { .uid = u"u"_s, .idToken = u"token-1"_s } };
    const struct {
        const char* name;
        Response answer;
        QString text;
    } rows[] = {
        { "refused with a reason", Response::json(R"({"error":{"message":"Denied."}})", 403),
            u"Your library isn't accessible with this account (Denied.)"_s },
        { "refused without one", Response::text("", 403),
            u"Your library isn't accessible with this account (HTTP 403)"_s },
        { "unavailable without a body", Response::text("", 503), u"Library sync failed: HTTP 503"_s },
        { "bad request", Response::json(R"({"error":{"message":"Bad path"}})", 400),
            u"Library sync failed: Bad path"_s },
        { "not JSON reads as no documents", Response::text("<html>"), u""_s },
        { "cut short", Response { .body = R"({"documents":[)", .contentLength = 100 }, Net::connectionLost },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.on(documents + u"/users/u/apps"_s, row.answer);
        EXPECT_EQ(failure(cloud.apps(net)), row.text);
    }
    const RecordedRequest sent = server.requests().last();
    EXPECT_EQ(sent.header("Authorization"), "Bearer token-1");
    EXPECT_EQ(sent.query.toString(), u"pageSize=300"_s);

    // A profile that can't be read isn't written, so its creation date is never lost.
    server.on(documents + u"/users/u"_s, Response::text("", 503));
    EXPECT_EQ(failure(cloud.saveProfile(net, std::nullopt, u"ada@example.com"_s, fixedNow)),
        u"Library sync failed: HTTP 503"_s);
    EXPECT_EQ(server.count(documents + u":commit"_s), 0);
}

TEST_F(CloudTest, CommitsGoOutInBatchesOf400AndAFailedOneStopsTheRest)
{
    TestServer server;
    const Cloud cloud { .config = { .projectId = u"demo-test"_s, .firestoreHost = server.url().toString() },
        .session = { .uid = u"u"_s } };
    QStringList ids;
    for (int i = 0; i < 950; ++i)
        ids << u"com.example.app%1"_s.arg(i);
    const auto batches = [&] {
        QList<qsizetype> sizes;
        for (const RecordedRequest& request : server.requests(documents + u":commit"_s))
            sizes << QJsonDocument::fromJson(request.body).object().value(u"writes"_s).toArray().size();
        server.clearRequests();
        return sizes;
    };

    server.on(documents + u":commit"_s, Response::json("{}"));
    await(cloud.remove(net, ids));
    EXPECT_EQ(batches(), (QList<qsizetype> { 400, 400, 150 }));

    server.on(documents + u":commit"_s, [&](const RecordedRequest&) {
        return server.count(documents + u":commit"_s) == 2 ? Response::text("", 503) : Response::json("{}");
    });
    EXPECT_EQ(failure(cloud.remove(net, ids)), u"Library sync failed: HTTP 503"_s);
    EXPECT_EQ(batches(), (QList<qsizetype> { 400, 400 }));

    await(cloud.remove(net, {}));
    EXPECT_EQ(batches(), QList<qsizetype>());
}

TEST_F(CloudTest, RulesRefuseAnotherAccountsLibrary)
{
    const Cloud ada = signUp(u"ada@example.com"_s);
    const Cloud bob = signUp(u"bob@example.com"_s);
    Cloud intruder = ada;
    intruder.session.uid = bob.session.uid;

    const FirestoreAnswer refused
        = firestore().send("GET", u'/' + bob.userPath() + u"/apps?pageSize=300"_s, ada.session.idToken);
    ASSERT_EQ(refused.status, 403);
    const QString reason = refused.body.value(u"error"_s).toObject().value(u"message"_s).toString();
    EXPECT_EQ(
        failure(intruder.apps(net)), u"Your library isn't accessible with this account ("_s + reason + u')');
}

TEST_F(CloudTest, ListsPageByPageAndWritesBatchByBatch)
{
    const Cloud cloud = signUp(u"ada@example.com"_s);
    std::vector<Cloud::Installed> apps;
    for (int i = 0; i < 700; ++i)
        apps.push_back({ { .name = u"App"_s, .bundleID = u"com.example.app%1"_s.arg(i) }, std::nullopt });
    const Device mac { .id = u"d1"_s, .name = u"Studio"_s, .lastSeen = fixedNow };
    EXPECT_EQ(await(cloud.sync(net, mac, apps, {})), 701);
    // The emulator pages at 150 documents whatever the size asked: five pages, four Base64 tokens.
    EXPECT_EQ(await(cloud.apps(net)).size(), 700u);
}

TEST_F(CloudTest, ProfileKeepsTheMomentItWasCreated)
{
    const Cloud ada = signUp(u"ada@example.com"_s);
    await(ada.saveProfile(net, std::nullopt, ada.session.email, fixedNow));
    EXPECT_EQ(stored(ada, {}),
        QJsonObject({ { u"email"_s, ada.session.email }, { u"createdAt"_s, u"2027-01-15T08:00:00Z"_s } }));
    await(ada.saveProfile(net, u"Ada"_s, u"ada@example.org"_s, fixedNow.addDays(1)));
    EXPECT_EQ(stored(ada, {}),
        QJsonObject({ { u"email"_s, u"ada@example.org"_s }, { u"name"_s, u"Ada"_s },
            { u"createdAt"_s, u"2027-01-15T08:00:00Z"_s } }));
}

} // namespace
