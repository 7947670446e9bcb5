#include "notch/NotchMemory.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

QStringList keysOf(const QByteArray& json)
{
    QStringList keys = QJsonDocument::fromJson(json).object().keys();
    keys.sort();
    return keys;
}

TEST(NotchMemory, AnEmptyMemoryWritesOnlyTheFourAlwaysPresentKeys)
{
    EXPECT_EQ(keysOf(NotchMemory().encode()),
        (QStringList { u"askedToStop"_s, u"dismissals"_s, u"dismissedKeys"_s, u"lastShownKeys"_s }));
}

TEST(NotchMemory, DatesAreSecondsSinceTheStartOf2001)
{
    NotchMemory memory;
    memory.lastShown = QDateTime(QDate(2001, 1, 2), QTime(0, 0, 30), Qt::UTC);
    memory.snoozedUntil = QDateTime(QDate(2000, 12, 31), QTime(23, 59, 0), Qt::UTC);
    const QJsonObject object = QJsonDocument::fromJson(memory.encode()).object();
    EXPECT_EQ(object.keys().size(), 6);
    EXPECT_DOUBLE_EQ(object[u"lastShown"_s].toDouble(), 86430.0);
    EXPECT_DOUBLE_EQ(object[u"snoozedUntil"_s].toDouble(), -60.0);
    EXPECT_EQ(NotchMemory::decode(memory.encode()), memory);
}

TEST(NotchMemory, ReadsWhatAnotherWriterStored)
{
    const auto memory = NotchMemory::decode(R"({"lastShown": 757382400.5, "lastShownKeys": ["a@1"],
        "dismissedKeys": [], "dismissals": 1, "askedToStop": true})");
    ASSERT_TRUE(memory.has_value());
    EXPECT_EQ(memory->lastShown, QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0, 500), Qt::UTC));
    EXPECT_EQ(memory->lastShownKeys, QStringList { u"a@1"_s });
    EXPECT_TRUE(memory->askedToStop);
    EXPECT_FALSE(memory->snoozedUntil.has_value());
}

TEST(NotchMemory, RejectsDataOfAnotherShape)
{
    for (const char* data : { "", "[]", "{}", R"({"lastShownKeys": [1], "dismissedKeys": [], "dismissals": 0,
            "askedToStop": false})",
             R"({"lastShownKeys": [], "dismissedKeys": [], "dismissals": 0, "askedToStop": false,
            "lastShown": "today"})" })
        EXPECT_FALSE(NotchMemory::decode(data).has_value()) << data;
}

} // namespace
