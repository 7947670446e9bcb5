#include "LibraryWorld.h"
#include "support/QtPrinters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

const QDateTime eleven(QDate(2026, 3, 10), QTime(11, 0), QTimeZone::utc());

TEST(CloudValue, ReadsTimestampsWithOrWithoutFractions)
{
    const struct {
        QJsonValue text;
        std::optional<QDateTime> time;
    } rows[] = {
        { u"2026-03-10T11:00:00Z"_s, eleven },
        { u"2026-03-10T11:00:00.123456789Z"_s, eleven.addMSecs(123) },
        { u"2026-03-10T11:00:00.5Z"_s, eleven.addMSecs(500) },
        { u"2026-03-10T12:00:00+01:00"_s, eleven },
        { u"2026-03-10"_s, std::nullopt },
        { u"2026-13-10T11:00:00Z"_s, std::nullopt },
        { 1773140400, std::nullopt },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QJsonDocument(QJsonArray { row.text }).toJson().toStdString());
        EXPECT_EQ(CloudValue::parseTimestamp(row.text), row.time);
    }
}

TEST(CloudWrite, NestsPathsMasksExactlyTheKeysGivenAndWritesWholeSecondsInUtc)
{
    const Cloud cloud { .config = { .projectId = u"p"_s }, .session = { .uid = u"u"_s } };
    const QJsonObject write = cloud.write(u"users/u/apps/com.x"_s,
        { { { u"name"_s }, CloudValue::string(u"X"_s) },
            { { u"devices"_s, u"d1"_s, u"installed"_s }, CloudValue::boolean(false) },
            { { u"devices"_s, u"d1"_s, u"seen"_s },
                CloudValue::date(
                    QDateTime(QDate(2026, 3, 10), QTime(12, 0, 0, 999), QTimeZone("Europe/Berlin"))) },
            { { u"devices"_s, u"mac-2.home"_s }, CloudValue::map({}) } });
    EXPECT_EQ(write, json(R"({
        "update": {"name": "projects/p/databases/(default)/documents/users/u/apps/com.x", "fields": {
            "name": {"stringValue": "X"},
            "devices": {"mapValue": {"fields": {
                "d1": {"mapValue": {"fields": {"installed": {"booleanValue": false},
                                               "seen": {"timestampValue": "2026-03-10T11:00:00Z"}}}},
                "mac-2.home": {"mapValue": {"fields": {}}}}}}}},
        "updateMask": {"fieldPaths": ["name", "devices.d1.installed", "devices.d1.seen", "devices.`mac-2.home`"]}
    })"));
}

TEST(CloudDocuments, FillInWhatIsMissingAndDropWhatHasNoPath)
{
    const std::optional<LibraryApp> app = Cloud::app(json(R"({
        "name": "projects/p/databases/(default)/documents/users/u/apps/com.x",
        "fields": {"team": {"stringValue": "T1"}, "homepage": {"booleanValue": true},
                   "devices": {"mapValue": {"fields": {"d1": {"mapValue": {"fields": {}}},
                       "d2": {"mapValue": {"fields": {"version": {"stringValue": "2"},
                           "installed": {"booleanValue": true}, "seen": {"timestampValue": "2026-03-10T11:00:00Z"}}}}}}}}})"));
    ASSERT_TRUE(app);
    EXPECT_EQ(app->id, u"com.x"_s);
    EXPECT_EQ(app->name, u"com.x"_s);
    EXPECT_EQ(app->team, u"T1"_s);
    EXPECT_EQ(app->homepage, std::nullopt);
    EXPECT_EQ(app->devices.at(u"d1"_s), (LibraryApp::OnDevice { u""_s, false, Cloud::distantPast }));
    EXPECT_EQ(app->devices.at(u"d2"_s), (LibraryApp::OnDevice { u"2"_s, true, eleven }));

    EXPECT_EQ(
        Cloud::device(json(R"({"name": "projects/p/databases/(default)/documents/users/u/devices/d1"})")),
        (Device { u"d1"_s, u"Mac"_s, u""_s, Cloud::distantPast, std::nullopt }));
    EXPECT_EQ(Cloud::app(json(R"({"fields": {"name": {"stringValue": "X"}}})")), std::nullopt);
    EXPECT_EQ(Cloud::device(json(R"({"name": 7})")), std::nullopt);
}

} // namespace
