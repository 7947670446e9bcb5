#include "sources/Appcast.h"

#include "discovery/Version.h"
#include "sources/CheckError.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

const QUrl feed { u"https://example.com/updates/appcast.xml"_s };
const SystemVersion sequoia { 15, 0, 0 };

// An appcast with the usual preamble around `items`.
QByteArray appcast(const QByteArray& items)
{
    return QByteArray(R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Example</title>)")
        + items + "</channel></rss>";
}

QString errorOf(const QByteArray& xml, SystemVersion system = sequoia)
{
    try {
        Appcast::read(xml, feed, system);
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"(no error)"_s;
}

// ---- What one item reads as ----

TEST(AppcastParser, VersionsOnlyAsEnclosureAttributesAreRead)
{
    const auto items = AppcastParser::parse(appcast(R"(<item>
            <enclosure url="https://example.com/A-2.1.zip" length="1234"
                sparkle:version="210" sparkle:shortVersionString="2.1"
                sparkle:edSignature="c2ln" sparkle:os="macos" type="application/octet-stream"/>
        </item>)"));
    ASSERT_EQ(items.size(), 1u);
    AppcastItem expected;
    expected.build = u"210"_s;
    expected.shortVersion = u"2.1"_s;
    expected.enclosureURL = u"https://example.com/A-2.1.zip"_s;
    expected.length = 1234;
    expected.edSignature = u"c2ln"_s;
    expected.os = u"macos"_s;
    EXPECT_EQ(items[0], expected);
}

TEST(AppcastParser, ElementValuesWinOverEnclosureAttributesInEitherOrder)
{
    // Elements before and after the enclosure: both overwrite the attributes.
    const auto items = AppcastParser::parse(appcast(R"(
        <item><sparkle:version>300</sparkle:version>
            <enclosure url="a.zip" sparkle:version="299" sparkle:shortVersionString="2.9.9"/>
            <sparkle:shortVersionString>
                3.0
            </sparkle:shortVersionString></item>)"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].build, u"300"_s);
    EXPECT_EQ(items[0].shortVersion, u"3.0"_s); // trimmed
}

TEST(AppcastParser, DeltaEnclosuresNeverReplaceTheFullOne)
{
    const auto items = AppcastParser::parse(appcast(R"(<item>
            <enclosure url="full.zip" length="900" sparkle:version="5" sparkle:edSignature="full"/>
            <sparkle:deltas>
                <enclosure url="delta-4.delta" length="10" sparkle:version="5" sparkle:deltaFrom="4"
                    sparkle:edSignature="delta"/>
                <sparkle:version>999</sparkle:version>
            </sparkle:deltas>
        </item>)"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].enclosureURL, u"full.zip"_s);
    EXPECT_EQ(items[0].length, 900);
    EXPECT_EQ(items[0].edSignature, u"full"_s);
    EXPECT_EQ(items[0].build, u"5"_s);
}

TEST(AppcastParser, DeltasFirstThenFullEnclosure)
{
    const auto items = AppcastParser::parse(appcast(R"(<item>
            <sparkle:deltas><enclosure url="d.delta" sparkle:version="7"/></sparkle:deltas>
            <enclosure url="full.zip" sparkle:version="7"/></item>)"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].enclosureURL, u"full.zip"_s);
}

TEST(AppcastParser, LaterEnclosureOverwritesDownloadButNotVersions)
{
    const auto items = AppcastParser::parse(appcast(R"(<item>
            <enclosure url="first.zip" length="1" sparkle:version="1" sparkle:os="windows" sparkle:edSignature="a"/>
            <enclosure url="second.zip" sparkle:version="2"/></item>)"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].enclosureURL, u"second.zip"_s);
    EXPECT_EQ(items[0].length, std::nullopt);
    EXPECT_EQ(items[0].edSignature, std::nullopt);
    EXPECT_EQ(items[0].os, std::nullopt);
    EXPECT_EQ(items[0].build, u"1"_s); // only set while empty
}

TEST(AppcastParser, LengthAttribute)
{
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> rows {
        { "1234", 1234 },
        { "+42", 42 },
        { "-7", -7 },
        { "0", 0 },
        { "9223372036854775807", INT64_MAX },
        { "9223372036854775808", std::nullopt }, // overflow
        { "12 MB", std::nullopt },
        { "1.5", std::nullopt },
        { "", std::nullopt },
        { "+", std::nullopt },
        { " 12", std::nullopt },
    };
    for (const auto& [text, expected] : rows) {
        const QByteArray item = QByteArray(R"(<item><enclosure url="a.zip" sparkle:version="1" length=")")
            + text + R"("/></item>)";
        const QByteArray xml = appcast(item);
        const auto items = AppcastParser::parse(xml);
        ASSERT_EQ(items.size(), 1u) << text;
        EXPECT_EQ(items[0].length, expected) << text;
    }
}

TEST(AppcastParser, FieldsOutsideItemsAndEmptyValuesAreIgnored)
{
    const auto items = AppcastParser::parse(appcast(R"(
            <sparkle:version>88</sparkle:version><description>feed notes</description>
            <enclosure url="stray.zip" sparkle:version="77"/>
            <item><sparkle:channel>  </sparkle:channel><description><![CDATA[ <p>Fixed &amp; more</p> ]]></description>
            <sparkle:releaseNotesLink>notes/1.html</sparkle:releaseNotesLink>
            <sparkle:minimumSystemVersion>12.0</sparkle:minimumSystemVersion>
            <sparkle:maximumSystemVersion>14.9</sparkle:maximumSystemVersion>
            </item>)"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].channel, std::nullopt);
    EXPECT_EQ(items[0].build, std::nullopt);
    EXPECT_EQ(items[0].description, u"<p>Fixed &amp; more</p>"_s);
    EXPECT_EQ(items[0].notesLink, u"notes/1.html"_s);
    EXPECT_EQ(items[0].minOS, u"12.0"_s);
    EXPECT_EQ(items[0].maxOS, u"14.9"_s);
}

TEST(AppcastParser, PrefixesAreMatchedAsWrittenEvenWhenUndeclared)
{
    // No xmlns:sparkle at all: a namespace-aware reader would refuse this.
    const auto items = AppcastParser::parse(
        R"(<rss><channel><item><sparkle:version>4</sparkle:version></item></channel></rss>)");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].build, u"4"_s);
    // Another prefix bound to Sparkle's namespace is not Sparkle's name.
    const auto other = AppcastParser::parse(
        R"(<rss xmlns:s="http://www.andymatuschak.org/xml-namespaces/sparkle"><item><s:version>4</s:version></item></rss>)");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].build, std::nullopt);
}

TEST(AppcastParser, MalformedXmlGivesTheParserError)
{
    const std::vector<QByteArray> broken {
        appcast("<item><sparkle:version>1</item>"), // mismatched tag
        "<rss><channel>", // premature end
        "", // empty body
        "not xml at all",
        appcast("<item><title>&nbsp;</title></item>"), // entity never declared
    };
    for (const QByteArray& xml : broken) {
        const QString error = errorOf(xml);
        EXPECT_TRUE(error.startsWith(u"The appcast isn't valid XML ("_s)) << error.toStdString();
        EXPECT_TRUE(error.endsWith(u')')) << error.toStdString();
        EXPECT_GT(error.size(), QStringView(u"The appcast isn't valid XML ()").size()) << error.toStdString();
    }
}

// ---- Which item is offered ----

struct ChoiceRow {
    const char* name;
    const char* items;
    SystemVersion system;
    // Expected short version and build of the chosen item, or the error.
    std::optional<QString> version;
    std::optional<QString> build;
    QString error;
};

class AppcastChoice : public testing::TestWithParam<ChoiceRow> { };

TEST_P(AppcastChoice, OffersTheRightItem)
{
    const ChoiceRow& row = GetParam();
    const QByteArray xml = appcast(row.items);
    if (!row.error.isEmpty()) {
        EXPECT_EQ(errorOf(xml, row.system), row.error);
        return;
    }
    const Release release = Appcast::read(xml, feed, row.system);
    EXPECT_EQ(release.kind, SourceKind::sparkle);
    EXPECT_EQ(release.version, row.version);
    EXPECT_EQ(release.build, row.build);
}

INSTANTIATE_TEST_SUITE_P(Rows, AppcastChoice,
    testing::Values(
        ChoiceRow { "BetaChannelIgnoredEvenIfNewest",
            R"(<item><sparkle:version>200</sparkle:version><sparkle:channel>beta</sparkle:channel></item>
                   <item><sparkle:version>100</sparkle:version></item>)",
            sequoia, std::nullopt, u"100"_s, {} },
        ChoiceRow { "WindowsEnclosureIgnoredNoOsKept",
            R"(<item><enclosure url="w.exe" sparkle:os="windows" sparkle:version="9"/></item>
                   <item><enclosure url="m.zip" sparkle:version="8"/></item>)",
            sequoia, std::nullopt, u"8"_s, {} },
        ChoiceRow { "MacosOsKept",
            R"(<item><enclosure url="m.zip" sparkle:os="macos" sparkle:version="3"/></item>)", sequoia,
            std::nullopt, u"3"_s, {} },
        ChoiceRow { "OsIsCaseSensitive",
            R"(<item><enclosure url="m.zip" sparkle:os="macOS" sparkle:version="3"/></item>)", sequoia, {},
            {}, u"No release in the appcast runs on macOS 15.0.0"_s },
        ChoiceRow { "MinimumAboveThisMac",
            R"(<item><sparkle:version>5</sparkle:version><sparkle:minimumSystemVersion>15.1</sparkle:minimumSystemVersion></item>
                   <item><sparkle:version>4</sparkle:version><sparkle:minimumSystemVersion>15.0</sparkle:minimumSystemVersion></item>)",
            sequoia, std::nullopt, u"4"_s, {} },
        ChoiceRow { "MaximumBelowThisMac",
            R"(<item><sparkle:version>5</sparkle:version><sparkle:maximumSystemVersion>14.7.2</sparkle:maximumSystemVersion></item>
                   <item><sparkle:version>4</sparkle:version><sparkle:maximumSystemVersion>15</sparkle:maximumSystemVersion></item>)",
            sequoia, std::nullopt, u"4"_s, {} },
        ChoiceRow { "UnreadableLimitsIgnored",
            R"(<item><sparkle:version>6</sparkle:version><sparkle:minimumSystemVersion>sequoia</sparkle:minimumSystemVersion>
                   <sparkle:maximumSystemVersion>n/a</sparkle:maximumSystemVersion></item>)",
            sequoia, std::nullopt, u"6"_s, {} },
        ChoiceRow { "OlderMacFiltersDifferently",
            R"(<item><sparkle:version>5</sparkle:version><sparkle:minimumSystemVersion>14.0</sparkle:minimumSystemVersion></item>
                   <item><sparkle:version>4</sparkle:version></item>)",
            SystemVersion { 13, 6, 1 }, std::nullopt, u"4"_s, {} },
        ChoiceRow { "NothingRunsHere",
            R"(<item><sparkle:version>5</sparkle:version><sparkle:minimumSystemVersion>26.0</sparkle:minimumSystemVersion></item>)",
            SystemVersion { 14, 2, 0 }, {}, {}, u"No release in the appcast runs on macOS 14.2.0"_s },
        ChoiceRow { "ItemWithoutAnyVersionIsNoRelease",
            R"(<item><title>Teaser</title><enclosure url="x.zip"/></item>)", sequoia, {}, {},
            u"No release in the appcast runs on macOS 15.0.0"_s },
        ChoiceRow { "NoItems", "", sequoia, {}, {}, u"The appcast lists no releases"_s },
        ChoiceRow { "SameBuildHigherShortWins",
            R"(<item><sparkle:version>50</sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString></item>
                   <item><sparkle:version>50</sparkle:version><sparkle:shortVersionString>2.1</sparkle:shortVersionString></item>)",
            sequoia, u"2.1"_s, u"50"_s, {} },
        ChoiceRow { "FullTieFirstWins",
            R"(<item><sparkle:version>50</sparkle:version><sparkle:shortVersionString>2.1</sparkle:shortVersionString><title>first</title></item>
                   <item><sparkle:version>50.0</sparkle:version><sparkle:shortVersionString>2.1.0</sparkle:shortVersionString></item>)",
            sequoia, u"2.1"_s, u"50"_s, {} },
        ChoiceRow { "BuildDecidesBeforeShort",
            R"(<item><sparkle:version>900</sparkle:version><sparkle:shortVersionString>1.0</sparkle:shortVersionString></item>
                   <item><sparkle:version>1000</sparkle:version><sparkle:shortVersionString>0.9</sparkle:shortVersionString></item>)",
            sequoia, u"0.9"_s, u"1000"_s, {} },
        ChoiceRow { "NewestNeedNotBeFirst",
            R"(<item><sparkle:version>1</sparkle:version></item><item><sparkle:version>3</sparkle:version></item>
                   <item><sparkle:version>2</sparkle:version></item>)",
            sequoia, std::nullopt, u"3"_s, {} },
        ChoiceRow { "UnreadableBuildFallsBackToShort",
            R"(<item><sparkle:version>abc</sparkle:version><sparkle:shortVersionString>1.5</sparkle:shortVersionString></item>
                   <item><sparkle:version>7</sparkle:version><sparkle:shortVersionString>1.4</sparkle:shortVersionString></item>)",
            sequoia, u"1.5"_s, u"abc"_s, {} },
        ChoiceRow { "MissingShortCountsAsZero",
            R"(<item><sparkle:shortVersionString>0.1</sparkle:shortVersionString></item>
                   <item><sparkle:version>x</sparkle:version></item>)",
            sequoia, u"0.1"_s, std::nullopt, {} },
        ChoiceRow { "PreReleaseShortRanksBelowRelease",
            R"(<item><sparkle:shortVersionString>2.0</sparkle:shortVersionString></item>
                   <item><sparkle:shortVersionString>2.0-beta.3</sparkle:shortVersionString></item>)",
            sequoia, u"2.0"_s, std::nullopt, {} }),
    [](const testing::TestParamInfo<ChoiceRow>& row) { return std::string(row.param.name); });

// ---- The release built from the chosen item ----

TEST(AppcastRelease, RelativeLinksResolveAgainstTheFeed)
{
    const Release release = Appcast::read(appcast(R"(<item>
            <sparkle:releaseNotesLink>../notes/2.0.html</sparkle:releaseNotesLink>
            <enclosure url="files/App%202.0.zip" length="5000" sparkle:version="20" sparkle:shortVersionString="2.0"
                sparkle:edSignature="EIawm2Yk"/></item>)"),
        feed, sequoia);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->url, QUrl(u"https://example.com/updates/files/App%202.0.zip"_s));
    EXPECT_EQ(release.download->size, 5000);
    EXPECT_EQ(release.download->edSignature, u"EIawm2Yk"_s);
    EXPECT_EQ(release.download->sha256, std::nullopt);
    EXPECT_EQ(release.download->package, std::nullopt);
    EXPECT_EQ(release.notesURL, QUrl(u"https://example.com/notes/2.0.html"_s));
    EXPECT_EQ(release.notes, std::nullopt);
    EXPECT_EQ(release.storeURL, std::nullopt);
    EXPECT_EQ(release.ref, std::nullopt);
}

TEST(AppcastRelease, NonNumericLengthLeavesSizeEmpty)
{
    const Release release = Appcast::read(
        appcast(R"(<item><enclosure url="a.zip" length="unknown" sparkle:version="2"/></item>)"), feed,
        sequoia);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->size, std::nullopt);
}

TEST(AppcastRelease, ItemWithoutUsableEnclosureStillGivesARelease)
{
    for (const char* item : { R"(<item><sparkle:version>2</sparkle:version></item>)",
             R"(<item><enclosure url="" sparkle:version="2"/></item>)",
             R"(<item><enclosure sparkle:version="2"/></item>)" }) {
        const Release release = Appcast::read(appcast(item), feed, sequoia);
        EXPECT_EQ(release.build, u"2"_s) << item;
        EXPECT_EQ(release.download, std::nullopt) << item;
    }
}

TEST(AppcastRelease, NotesLinkOnlyForWebSchemes)
{
    const Release release = Appcast::read(appcast(R"(<item><sparkle:version>2</sparkle:version>
            <sparkle:releaseNotesLink>javascript:alert(1)</sparkle:releaseNotesLink></item>)"),
        feed, sequoia);
    EXPECT_EQ(release.notesURL, std::nullopt);
}

TEST(AppcastRelease, HtmlNotesBecomePlainText)
{
    const Release release = Appcast::read(appcast(R"(<item><sparkle:version>2</sparkle:version>
            <description><![CDATA[<p>Faster sync &amp; search.</p><ul><li>Fixed a crash</li><li class="x">Smaller &lt;downloads&gt;</li></ul>]]></description>
            </item>)"),
        feed, sequoia);
    EXPECT_EQ(release.notes, u"Faster sync & search.\n\u2022 Fixed a crash\n\u2022 Smaller <downloads>"_s);
}

TEST(AppcastPlainText, Rules)
{
    const std::vector<std::pair<QString, QString>> rows {
        { u"<p>One</p><p>Two</p>"_s, u"One\nTwo"_s },
        { u"a<br>b<BR/>c<br />d"_s, u"a\nb\nc\nd"_s },
        { u"<h2>New</h2>text<div>block</div>end"_s, u"New\ntextblock\nend"_s },
        { u"<ul><LI>x</LI><li id=\"2\">y</li></ul>"_s, u"\u2022 x\n\u2022 y"_s },
        { u"<b>bold</b> and <a href=\"u\">link</a>"_s, u"bold and link"_s },
        { u"a&nbsp;b &quot;q&quot; it&#39;s"_s, u"a b \"q\" it's"_s },
        // &amp; is decoded last, so an escaped entity stays literal text.
        { u"&amp;lt;tag&amp;gt; &amp;amp;"_s, u"&lt;tag&gt; &amp;"_s },
        { u"<p>x</p>\n\n\n<p>y</p>"_s, u"x\ny"_s },
        { u"<p>x</p> \t\n<p>y</p>"_s, u"x\ny"_s },
        // One blank run at a time: spaces after a collapsed pair stay.
        { u"<p>x</p>\n \t\n\n<p>y</p>"_s, u"x\n \t\ny"_s },
        { u"  \n<p>  padded  </p>\n "_s, u"padded"_s },
        { u""_s, u""_s },
    };
    for (const auto& [html, text] : rows)
        EXPECT_EQ(Appcast::plainText(html), text) << html.toStdString();
}

} // namespace
} // namespace corvanta
