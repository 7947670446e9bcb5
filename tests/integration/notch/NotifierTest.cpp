#include "integration/notch/NotificationServer.h"
#include "integration/notch/PrivateBus.h"
#include "platform/linux/DbusNotifier.h"
#include "support/Await.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

class NotifierTest : public testing::Test {
protected:
    PrivateBus bus;
    NotificationServer server;

    void serve() { ASSERT_TRUE(server.registerOn(bus.connect())); }

    static void post(DbusNotifier& notifier, const QString& identifier, const QString& title)
    {
        Notifier::Request request { identifier, title, u"Open Corvanta to install it."_s };
        await(notifier.add(std::move(request)));
    }
};

TEST_F(NotifierTest, AServerThatAnswersIsLeaveToNotify)
{
    serve();
    DbusNotifier notifier(bus.connect());
    EXPECT_EQ(await(notifier.requestAuthorization()), Permissions::Notifications::authorized);
    EXPECT_EQ(server.pings, 1);
}

TEST_F(NotifierTest, NoServerIsNotDeterminedAndPostsGoNowhere)
{
    DbusNotifier notifier(bus.connect());
    EXPECT_EQ(await(notifier.requestAuthorization()), Permissions::Notifications::notDetermined);
    EXPECT_NO_THROW(post(notifier, u"updates"_s, u"Alpha has an update"_s));

    // Nor with no bus at all.
    DbusNotifier nowhere(QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_s, u"nowhere"_s));
    EXPECT_EQ(await(nowhere.requestAuthorization()), Permissions::Notifications::notDetermined);
    EXPECT_NO_THROW(post(nowhere, u"updates"_s, u"Alpha has an update"_s));
    QDBusConnection::disconnectFromBus(u"nowhere"_s);
}

TEST_F(NotifierTest, TheSameIdentifierReplacesTheEarlierNotification)
{
    serve();
    DbusNotifier notifier(bus.connect());
    post(notifier, u"updates"_s, u"Alpha has an update"_s);
    post(notifier, u"updates"_s, u"2 app updates available"_s);
    post(notifier, u"other"_s, u"Something else"_s);
    ASSERT_EQ(server.received.size(), 3);
    EXPECT_EQ(server.received[0].appName, u"Corvanta"_s);
    EXPECT_EQ(server.received[0].summary, u"Alpha has an update"_s);
    EXPECT_EQ(server.received[0].body, u"Open Corvanta to install it."_s);
    EXPECT_EQ(server.received[0].replacesId, 0u);
    EXPECT_EQ(server.received[1].replacesId, server.received[0].id);
    EXPECT_EQ(server.received[1].summary, u"2 app updates available"_s);
    EXPECT_EQ(server.received[2].replacesId, 0u);
}

TEST_F(NotifierTest, ARefusalIsDroppedSilently)
{
    serve();
    server.refuse = true;
    DbusNotifier notifier(bus.connect());
    post(notifier, u"updates"_s, u"Alpha has an update"_s);
    EXPECT_TRUE(server.received.isEmpty());
    // A refused post leaves nothing to replace: the next starts afresh.
    server.refuse = false;
    post(notifier, u"updates"_s, u"Beta has an update"_s);
    ASSERT_EQ(server.received.size(), 1);
    EXPECT_EQ(server.received[0].replacesId, 0u);
}

} // namespace
