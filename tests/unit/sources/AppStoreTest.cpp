#include "sources/AppStore.h"

#include "sources/CheckError.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

QByteArray realWorld(const QString& name)
{
    QFile file(QStringLiteral(CORVANTA_REALWORLD "/itunes/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

QString failure(const QByteArray& body, const QString& bundleID, const QString& region = u"US"_s)
{
    try {
        AppStore::parse(body, bundleID, region);
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"<no error>"_s;
}

struct LookupRow {
    const char* file;
    const char* bundleID;
    const char* version;
    const char* storeURL;
    const char* notesStart;
    // Put the app's iOS twin (a universal purchase: same bundle identifier,
    // another version) before its Mac record in the answer.
    bool iosTwinFirst = false;
};

QByteArray withIosTwinFirst(const QByteArray& body, const QString& bundleID)
{
    QJsonObject answer = QJsonDocument::fromJson(body).object();
    QJsonArray results = answer.value("results"_L1).toArray();
    for (const QJsonValue& result : std::as_const(results)) {
        QJsonObject twin = result.toObject();
        if (twin.value("bundleId"_L1).toString() != bundleID)
            continue;
        twin.insert("kind"_L1, u"software"_s);
        twin.insert("version"_L1, u"99.0"_s);
        twin.insert("trackId"_L1, 1);
        results.prepend(twin);
        break;
    }
    answer.insert("results"_L1, results);
    return QJsonDocument(answer).toJson();
}

std::ostream& operator<<(std::ostream& os, const LookupRow& row)
{
    return os << row.file;
}

class RealLookup : public testing::TestWithParam<LookupRow> { };

TEST_P(RealLookup, ReadsVersionStoreLinkAndNotes)
{
    const LookupRow& row = GetParam();
    const QString bundleID = QString::fromUtf8(row.bundleID);
    QByteArray body = realWorld(QString::fromUtf8(row.file));
    if (row.iosTwinFirst)
        body = withIosTwinFirst(body, bundleID);
    const Release release = AppStore::parse(body, bundleID, u"US"_s);
    EXPECT_EQ(release.kind, SourceKind::appStore);
    EXPECT_EQ(release.version, QString::fromUtf8(row.version));
    EXPECT_FALSE(release.build);
    ASSERT_TRUE(release.storeURL);
    EXPECT_EQ(release.storeURL->toString(), QString::fromUtf8(row.storeURL));
    ASSERT_TRUE(release.notes);
    EXPECT_TRUE(release.notes->startsWith(QString::fromUtf8(row.notesStart))) << release.notes->toStdString();
    EXPECT_FALSE(release.download);
    EXPECT_FALSE(release.notesURL);
    EXPECT_FALSE(release.ref);
}

INSTANTIATE_TEST_SUITE_P(Answers, RealLookup,
    testing::Values(LookupRow { "mas-lookup-fantastical.json", "com.flexibits.fantastical2.mac", "2.5.6",
                        "macappstore://apps.apple.com/app/id975937182", "- Added support for Tabloid" },
        LookupRow { "mas-lookup-notability.json", "com.gingerlabs.NotabilityMac", "3.1",
            "macappstore://apps.apple.com/app/id736189492", "*** What's new in 3.1 ***\n" },
        LookupRow { "mas-lookup-slack.json", "com.tinyspeck.slackmacgap", "3.3.3",
            "macappstore://apps.apple.com/app/id803453959", "All updates are important" },
        LookupRow { "mas-lookup-things.json", "com.culturedcode.ThingsMac", "3.8",
            "macappstore://apps.apple.com/app/id904280696", "This update accompanies" },
        // A search answer mixing Mac and iOS results: only the exact bundle identifier counts.
        LookupRow { "mas-search-things.json", "com.culturedcode.ThingsMac", "3.12.6",
            "macappstore://apps.apple.com/app/id904280696", "\u2022 Moved the database" },
        LookupRow { "mas-search-things.json", "com.macpomodoro", "6.3",
            "macappstore://apps.apple.com/app/id1258530160", "1.Support new languages" },
        LookupRow { "mas-lookup-things.json", "com.culturedcode.ThingsMac", "3.8",
            "macappstore://apps.apple.com/app/id904280696", "This update accompanies", true }));

TEST(AppStore, NotFoundNamesTheRegionAsked)
{
    EXPECT_EQ(failure(realWorld(u"mas-search-nonexistent.json"_s), u"com.example.none"_s),
        u"Not found in the US App Store"_s);
    EXPECT_EQ(failure(realWorld(u"mas-lookup-fantastical.json"_s), u"com.example.none"_s, u"DE"_s),
        u"Not found in the DE App Store"_s);
    // The bundle identifier must match exactly, case included.
    EXPECT_EQ(failure(realWorld(u"mas-lookup-fantastical.json"_s), u"com.flexibits.Fantastical2.mac"_s),
        u"Not found in the US App Store"_s);
    // A bare result object, without the "results" wrapper, holds no results.
    EXPECT_EQ(
        failure(realWorld(u"mas-single-result-things.json"_s), u"uikitformac.com.tinybop.thingamabops"_s),
        u"Not found in the US App Store"_s);
}

TEST(AppStore, MalformedAnswers)
{
    EXPECT_EQ(failure(R"({"results": "nope"})", u"a.b"_s), u"Not found in the US App Store"_s);
    EXPECT_EQ(failure(R"([1, 2])", u"a.b"_s), u"Not found in the US App Store"_s);
    // A match without a string version is no match.
    EXPECT_EQ(failure(R"({"results": [{"bundleId": "a.b", "version": 3}]})", u"a.b"_s),
        u"Not found in the US App Store"_s);
    // Once results say their kind, an iOS record alone is no match.
    EXPECT_EQ(failure(R"({"results": [{"bundleId": "a.b", "version": "1", "kind": "software"}]})", u"a.b"_s),
        u"Not found in the US App Store"_s);
    EXPECT_TRUE(failure("{\"results\": [", u"a.b"_s).startsWith(u"The answer isn't valid JSON ("_s));
}

TEST(AppStore, SecondResultWhenTheFirstIsAnotherApp)
{
    const Release release = AppStore::parse(R"({"results": [
        {"bundleId": "com.other", "version": "9.9", "trackId": 1},
        {"bundleId": "com.example", "version": "1.2", "trackId": 2}]})",
        u"com.example"_s, u"US"_s);
    EXPECT_EQ(release.version, u"1.2"_s);
    EXPECT_EQ(release.storeURL, QUrl(u"macappstore://apps.apple.com/app/id2"_s));
    EXPECT_FALSE(release.notes);
}

TEST(AppStore, StoreLinkFallsBackToTrackViewUrl)
{
    const auto storeURL = [](const char* extra) {
        const QByteArray body
            = QByteArray(R"({"results": [{"bundleId": "a.b", "version": "1")") + extra + "}]}";
        return AppStore::parse(body, u"a.b"_s, u"US"_s).storeURL;
    };
    EXPECT_EQ(storeURL(R"(, "trackViewUrl": "https://apps.apple.com/us/app/x/id5?mt=12")"),
        QUrl(u"https://apps.apple.com/us/app/x/id5?mt=12"_s));
    // A track identifier that isn't a whole number doesn't make a link.
    EXPECT_EQ(
        storeURL(R"(, "trackId": "5", "trackViewUrl": "itms-apps://x/id5")"), QUrl(u"itms-apps://x/id5"_s));
    EXPECT_EQ(storeURL(R"(, "trackId": 5.5)"), std::nullopt);
    EXPECT_EQ(storeURL(R"j(, "trackViewUrl": "javascript:alert(1)")j"), std::nullopt);
    EXPECT_EQ(storeURL(""), std::nullopt);
}

} // namespace
