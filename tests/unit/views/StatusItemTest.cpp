#include "views/text/StatusItem.h"

#include "model/Prefs.h"
#include "model/Store.h"
#include "platform/CodeSigning.h"
#include "platform/HostInfo.h"
#include "sources/Net.h"
#include "support/Unsigned.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

// An empty sandboxed store: enough for the status item's own bookkeeping.
class StatusItemTest : public testing::Test {
protected:
    QTemporaryDir root;
    Net net;
    test::Unsigned codeSigning;
    FixedHostInfo host { { 15, 0, 0 }, true };
    std::unique_ptr<Prefs> prefs = std::make_unique<Prefs>(
        std::make_unique<QSettings>(root.filePath(u"prefs.ini"_s), QSettings::IniFormat), Launch());
    Store store { StoreServices { net, codeSigning, host, *prefs }, Launch({ u"--sandbox"_s, root.path() }) };
    StatusItem item { store };
};

using Change = StatusItem::Change;

TEST_F(StatusItemTest, SyncCreatesUpdatesAndRemovesTheIcon)
{
    struct Step {
        bool show;
        int count;
        Change expected;
        int shown;
    };
    const std::vector<Step> steps {
        { true, 0, { true, false, 0 }, 0 }, { true, 0, {}, 0 }, { true, 3, { false, false, 3 }, 3 },
        { false, 3, { false, true, std::nullopt }, -1 }, { false, 3, {}, -1 },
        { true, 3, { true, false, 3 }, 3 }, // back with the current count
    };
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(index++);
        EXPECT_EQ(item.sync(step.show, step.count), step.expected);
        EXPECT_EQ(item.shownCount(), step.shown);
        EXPECT_EQ(item.exists(), step.show);
    }
}

TEST_F(StatusItemTest, MakingTheIconWritesItsPositionOnceIfAbsent)
{
    EXPECT_FALSE(prefs->settings().contains(StatusItem::positionKey));
    item.sync(true, 0);
    EXPECT_EQ(prefs->settings().value(StatusItem::positionKey).toInt(), 0);
    prefs->settings().setValue(StatusItem::positionKey, 412);
    item.sync(false, 0);
    item.sync(true, 0);
    EXPECT_EQ(prefs->settings().value(StatusItem::positionKey).toInt(), 412);
}

TEST_F(StatusItemTest, StartFollowsThePreference)
{
    QList<Change> changes;
    item.start([&](const Change& change) { changes << change; });
    EXPECT_EQ(changes, (QList<Change> { Change { true, false, 0 } }));
    prefs->setShowMenuBar(false);
    prefs->setShowMenuBar(true);
    prefs->setShowMenuBar(false); // three changes in one turn: one sync
    QCoreApplication::processEvents();
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes[1], (Change { false, true, std::nullopt }));
    prefs->setShowMenuBar(true);
    QCoreApplication::processEvents();
    ASSERT_EQ(changes.size(), 3);
    EXPECT_EQ(changes[2], (Change { true, false, 0 }));
}

TEST(StatusItemTexts, LabelsAndTooltips)
{
    EXPECT_EQ(StatusItem::toolTip(0), u"Corvanta"_s);
    EXPECT_EQ(StatusItem::toolTip(1), u"Corvanta: 1 update"_s);
    EXPECT_EQ(StatusItem::toolTip(12), u"Corvanta: 12 updates"_s);
    EXPECT_EQ(StatusItem::accessibilityLabel(0), u"Corvanta, 0 updates"_s);
    EXPECT_EQ(StatusItem::accessibilityLabel(1), u"Corvanta, 1 update"_s);
    EXPECT_EQ(StatusItem::accessibilityLabel(2), u"Corvanta, 2 updates"_s);
}

TEST(StatusItemTexts, TheMenu)
{
    QStringList titles;
    for (const StatusItem::MenuEntry& entry : StatusItem::menu())
        titles << entry.title;
    EXPECT_EQ(titles,
        (QStringList {
            u"Open Corvanta"_s, u"Check Now"_s, u"Settings\u2026"_s, QString(), u"Quit Corvanta"_s }));
    EXPECT_EQ(StatusItem::menu()[3].command, StatusItem::Command::separator);
    EXPECT_EQ(StatusItem::menu()[4].key, u"q"_s);
}

TEST(StatusItemTexts, Clicks)
{
    using B = StatusItem::Button;
    using C = StatusItem::Click;
    struct Row {
        B button;
        bool panel;
        int pending;
        C expected;
    };
    const std::vector<Row> rows {
        { B::right, true, 3, C::menu },
        { B::right, false, 0, C::menu },
        { B::left, true, 3, C::closedPanel },
        { B::left, true, 0, C::closedPanel },
        { B::left, false, 2, C::openedPanel },
        { B::left, false, 0, C::openMainWindow },
    };
    for (const Row& row : rows)
        EXPECT_EQ(StatusItem::decide(row.button, row.panel, row.pending), row.expected)
            << int(row.button) << row.panel << row.pending;
}

} // namespace
