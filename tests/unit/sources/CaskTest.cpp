#include "sources/Cask.h"

#include "sources/CaskCatalog.h"
#include "sources/CheckError.h"

#include <QString>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

// ---- Variation keys ----

TEST(CaskVariationKey, Table)
{
    struct Row {
        bool arm;
        int macOS;
        std::optional<QString> key;
    };
    const std::vector<Row> rows {
        { true, 15, u"arm64_sequoia"_s },
        { false, 15, u"sequoia"_s },
        { true, 11, u"arm64_big_sur"_s },
        { false, 12, u"monterey"_s },
        { false, 13, u"ventura"_s },
        { true, 14, u"arm64_sonoma"_s },
        { true, 26, u"arm64_tahoe"_s },
        { false, 27, u"golden_gate"_s },
        { true, 28, u"arm64_golden_gate"_s }, // newer than the table: the newest known
        { false, 40, u"golden_gate"_s },
        { true, 16, std::nullopt }, // the gap between 15 and 26
        { true, 25, std::nullopt },
        { false, 10, std::nullopt },
        { true, 0, std::nullopt },
    };
    for (const Row& row : rows)
        EXPECT_EQ(Cask::variationKey(row.arm, row.macOS), row.key) << row.arm << " " << row.macOS;
}

// ---- GitHub repositories ----

TEST(CaskRepo, Table)
{
    const std::vector<std::pair<QString, std::optional<QString>>> rows {
        { u"https://github.com/owner/app"_s, u"owner/app"_s },
        { u"https://github.com/owner/app.git"_s, u"owner/app"_s },
        { u"https://github.com/owner/app/releases/download/v1/App.dmg"_s, u"owner/app"_s },
        { u"https://github.com/owner/app?tab=readme"_s, u"owner/app"_s },
        { u"https://github.com/owner/app#install"_s, u"owner/app"_s },
        { u"http://www.github.com/o/r"_s, u"o/r"_s },
        { u"https://github.com/owner"_s, std::nullopt }, // only an owner
        { u"https://github.com/owner/"_s, std::nullopt },
        { u"https://github.com/owner/.git"_s, std::nullopt }, // no name left
        { u"https://GitHub.com/owner/app"_s, std::nullopt }, // the pattern is case-sensitive
        { u"https://githubXcom/owner/app"_s, std::nullopt }, // the dot is literal
        { u"https://gitlab.com/owner/app"_s, std::nullopt },
        { u"https://example.com/see/github.com/a/b"_s, u"a/b"_s }, // anywhere in the text
        { u""_s, std::nullopt },
    };
    for (const auto& [text, repo] : rows)
        EXPECT_EQ(Cask::repo(text), repo) << text.toStdString();
}

TEST(CaskRepo, HomePageFirstThenDownload)
{
    Cask cask;
    cask.homepage = u"https://github.com/home/page"_s;
    cask.url = QUrl(u"https://github.com/down/load/releases/download/1/a.zip"_s);
    EXPECT_EQ(cask.githubRepo(), u"home/page"_s);
    cask.homepage = u"https://example.com/"_s;
    EXPECT_EQ(cask.githubRepo(), u"down/load"_s);
    cask.url.reset();
    EXPECT_EQ(cask.githubRepo(), std::nullopt);
    cask.homepage.reset();
    cask.url = QUrl(u"https://github.com/only/url/archive/v2.zip"_s);
    EXPECT_EQ(cask.githubRepo(), u"only/url"_s);
}

// ---- Releases ----

Cask sample()
{
    Cask cask;
    cask.token = u"example"_s;
    cask.version = u"2.4.1"_s;
    cask.url = QUrl(u"https://downloads.example.com/Example-2.4.1.dmg"_s);
    cask.sha256 = u"ab12"_s;
    cask.homepage = u"https://example.com/"_s;
    return cask;
}

TEST(CaskRelease, PlainCask)
{
    const Release release = sample().release();
    EXPECT_EQ(release.kind, SourceKind::homebrew);
    EXPECT_EQ(release.version, u"2.4.1"_s);
    EXPECT_EQ(release.build, std::nullopt);
    EXPECT_EQ(release.notes, std::nullopt);
    EXPECT_EQ(release.notesURL, QUrl(u"https://example.com/"_s));
    EXPECT_EQ(release.storeURL, std::nullopt);
    ASSERT_TRUE(release.download);
    Download expected;
    expected.url = QUrl(u"https://downloads.example.com/Example-2.4.1.dmg"_s);
    expected.sha256 = u"ab12"_s;
    EXPECT_EQ(*release.download, expected);
}

TEST(CaskRelease, Variants)
{
    struct Row {
        const char* name;
        std::function<void(Cask&)> change;
        std::optional<QString> version;
        bool hasDownload;
        std::optional<QString> sha256;
    };
    const std::vector<Row> rows {
        { "comma", [](Cask& c) { c.version = u"3.1,310:abc"_s; }, u"3.1"_s, true, u"ab12"_s },
        { "empty version", [](Cask& c) { c.version.clear(); }, std::nullopt, true, u"ab12"_s },
        { "no_check", [](Cask& c) { c.sha256 = u"no_check"_s; }, u"2.4.1"_s, true, std::nullopt },
        { "no sha256", [](Cask& c) { c.sha256.reset(); }, u"2.4.1"_s, true, std::nullopt },
        { "pkg artifact", [](Cask& c) { c.pkg = u"Example.pkg"_s; }, u"2.4.1"_s, false, std::nullopt },
        { "pkg url", [](Cask& c) { c.url = QUrl(u"https://e.com/Example.PKG?x=1"_s); }, u"2.4.1"_s, false,
            std::nullopt },
        { "no url", [](Cask& c) { c.url.reset(); }, u"2.4.1"_s, false, std::nullopt },
    };
    for (const Row& row : rows) {
        Cask cask = sample();
        row.change(cask);
        const Release release = cask.release();
        EXPECT_EQ(release.version, row.version) << row.name;
        EXPECT_EQ(release.download.has_value(), row.hasDownload) << row.name;
        if (release.download) {
            EXPECT_EQ(release.download->sha256, row.sha256) << row.name;
        }
    }
}

TEST(CaskRelease, UnversionedCaskFails)
{
    Cask cask = sample();
    cask.version = u"latest"_s;
    try {
        cask.release();
        FAIL() << "no error";
    } catch (const CheckError& error) {
        EXPECT_EQ(error.description(),
            u"The cask is unversioned (version :latest), so it can't say what's newest"_s);
    }
}

TEST(CaskRelease, HomePageMustBeAWebLink)
{
    Cask cask = sample();
    cask.homepage = u"file:///etc/passwd"_s;
    EXPECT_EQ(cask.release().notesURL, std::nullopt);
    cask.homepage.reset();
    EXPECT_EQ(cask.release().notesURL, std::nullopt);
}

// ---- Building casks from their objects ----

std::vector<Cask> parse(const char* json, std::optional<QString> key = std::nullopt)
{
    const std::optional<CaskCatalog> catalog = CaskCatalog::parse(QByteArray(json), key);
    EXPECT_TRUE(catalog) << json;
    std::vector<Cask> casks;
    for (std::size_t i = 0; catalog && i < catalog->casks.size(); ++i)
        casks.push_back(catalog->cask(i));
    return casks;
}

TEST(CaskBuilding, AppNamesFromStringsTargetsAndUninstallDeletes)
{
    const auto casks = parse(R"([{"token":"multi","artifacts":[
            {"app":["Alpha.app",{"target":"Beta Renamed.app"},"Vendor/Gamma.app",{"no_target":"x"},42]},
            {"uninstall":[{"delete":["/Applications/Delta.app","/Library/Thing.app","/Applications/Notes.txt"]}]},
            {"zap":[{"delete":"/Applications/Zapped.app"}]},
            {"app":["alpha.app"]}]}])");
    ASSERT_EQ(casks.size(), 1u);
    EXPECT_EQ(casks[0].apps,
        (QStringList { u"Alpha.app"_s, u"Beta Renamed.app"_s, u"Gamma.app"_s, u"Delta.app"_s }));
    EXPECT_TRUE(casks[0].bundleIDs.isEmpty());
}

TEST(CaskBuilding, StanzasGiveIdentifiersMentionsAndZap)
{
    const auto casks = parse(R"([{"token":"stanzas","artifacts":[
            {"uninstall":[{"quit":"com.Example.App","launchctl":["com.example.agent"],
                           "signal":[["TERM","com.example.Helper"]],"script":{"executable":"x"},
                           "trash":"~/Library/Preferences/com.example.fromuninstall.plist"}]},
            {"app":["Example.app"]},
            {"zap":[{"quit":["org.two.parts"],
                     "trash":["~/Library/Containers/com.example.sandboxed/Data",
                              "~/Library/Application Scripts/group.com.example.scripts",
                              "~/Library/Preferences/com.example.App.plist",
                              "~/Library/Preferences/two.parts.plist",
                              "~/Library/Containers/com.example.*",
                              "~/Library/Caches/com.example.cache*",
                              "/Library/Preferences/com.example.system.plist"],
                     "delete":["~/Library/Logs/Example","/tmp/x","~/Library/Old*"],
                     "rmdir":"~/Library/Application Support/Example"}]}]}])");
    ASSERT_EQ(casks.size(), 1u);
    const Cask& cask = casks[0];
    EXPECT_EQ(cask.bundleIDs,
        (QStringList { u"com.Example.App"_s, u"com.example.fromuninstall"_s, u"org.two.parts"_s,
            u"com.example.sandboxed"_s, u"group.com.example.scripts"_s, u"com.example.App"_s,
            u"com.example.system"_s }));
    // Only "~/Library/" paths without wildcards, trash first then delete.
    EXPECT_EQ(cask.zap,
        (QStringList { u"~/Library/Containers/com.example.sandboxed/Data"_s,
            u"~/Library/Application Scripts/group.com.example.scripts"_s,
            u"~/Library/Preferences/com.example.App.plist"_s, u"~/Library/Preferences/two.parts.plist"_s,
            u"~/Library/Logs/Example"_s }));
    const QStringList mentions = cask.mentions.split(u'\n');
    EXPECT_EQ(mentions.first(), u"com.example.app"_s);
    for (const QString& expected : { u"com.example.agent"_s, u"com.example.helper"_s, u"term"_s,
             u"~/library/application support/example"_s, u"/tmp/x"_s })
        EXPECT_TRUE(mentions.contains(expected)) << expected.toStdString();
    EXPECT_FALSE(cask.mentions.contains(u"executable"_s)); // strings inside objects are not stanza strings
    EXPECT_EQ(cask.mentions, cask.mentions.toLower());
}

TEST(CaskBuilding, PkgIsTheFirstStringOfTheFirstPkgArtifact)
{
    const auto casks
        = parse(R"([{"token":"p","artifacts":[{"pkg":[{"allow_untrusted":true},"First.pkg","Second.pkg"]},
            {"pkg":["Later.pkg"]},{"uninstall":[{"pkgutil":"com.p.pkg","quit":"com.p.app"}]}]}])");
    ASSERT_EQ(casks.size(), 1u);
    EXPECT_EQ(casks[0].pkg, u"First.pkg"_s);
    EXPECT_FALSE(casks[0].release().download);
}

TEST(CaskBuilding, VariationOverridesDownloadFields)
{
    const char* json = R"([{"token":"v","version":"1.0","url":"https://e.com/arm.zip","sha256":"top",
            "homepage":"https://e.com/","artifacts":[{"app":["V.app"]}],
            "variations":{"sequoia":{"url":"https://e.com/intel.zip","sha256":"intel","homepage":"https://ignored/"},
                          "arm64_sonoma":{"version":"0.9"},
                          "ventura":"not an object"}}])";
    struct Row {
        std::optional<QString> key;
        QString version;
        QString url;
        QString sha256;
    };
    const std::vector<Row> rows {
        { u"sequoia"_s, u"1.0"_s, u"https://e.com/intel.zip"_s, u"intel"_s },
        { u"arm64_sonoma"_s, u"0.9"_s, u"https://e.com/arm.zip"_s, u"top"_s },
        { u"arm64_sequoia"_s, u"1.0"_s, u"https://e.com/arm.zip"_s, u"top"_s },
        { u"ventura"_s, u"1.0"_s, u"https://e.com/arm.zip"_s, u"top"_s },
        { std::nullopt, u"1.0"_s, u"https://e.com/arm.zip"_s, u"top"_s },
    };
    for (const Row& row : rows) {
        const auto casks = parse(json, row.key);
        ASSERT_EQ(casks.size(), 1u);
        EXPECT_EQ(casks[0].version, row.version) << row.key.value_or(u"-"_s).toStdString();
        EXPECT_EQ(casks[0].url, QUrl(row.url)) << row.key.value_or(u"-"_s).toStdString();
        EXPECT_EQ(casks[0].sha256, row.sha256) << row.key.value_or(u"-"_s).toStdString();
        EXPECT_EQ(casks[0].homepage, u"https://e.com/"_s);
    }
}

TEST(CaskBuilding, SkipsObjectsWithoutTokenOrWithoutAppAndIdentifier)
{
    const auto casks = parse(R"([{"artifacts":[{"app":["NoToken.app"]}]},
            {"token":7,"artifacts":[{"app":["NumberToken.app"]}]},
            {"token":"binary-only","artifacts":[{"binary":["tool"]}]},
            {"token":"no-artifacts"},
            {"token":"kept","version":2,"url":"not a url with spaces ::","artifacts":[{"app":["Kept.app"]}]},
            {}])");
    ASSERT_EQ(casks.size(), 1u);
    EXPECT_EQ(casks[0].token, u"kept"_s);
    EXPECT_EQ(casks[0].version, QString()); // not a string
}

TEST(CaskBuilding, DocumentsThatAreNotArraysOfObjectsAreRefused)
{
    const std::vector<QByteArray> refused {
        "",
        "{}",
        R"({"token":"x"})",
        "[1,2]",
        R"([{"token":"a"},"b"])",
        R"([{"token":"a"}] trailing)",
        R"([{"token":"a"})", // truncated
        R"([{"token":"a",}])", // trailing comma
        R"([{"token":"a" "b":1}])",
        "<html><body>Service Unavailable</body></html>",
        R"([{"token":"\x"}])", // bad escape
        "[{\"token\":\"a\xff\"}]", // not UTF-8
        "[{\"token\":\"tab\there\"}]", // raw control character
        R"([{"n":01}])",
        R"([{"n":1.}])",
        R"([{"n":-}])",
        R"([{"n":tru}])",
        R"([{"n":NaN}])",
        QByteArray(600, '[') + QByteArray(600, ']'), // deeper than anything real
        // Between elements, where each cask is cut out before it is parsed.
        R"([{"token":"a"},])",
        R"([{"token":"a"},,{}])",
        R"([{"token":"a"}{}])",
        R"([{"token":"a"}]])",
        R"([{"token":"a"]}])",
        R"([{"token":"a\"}])", // the string never ends
        R"([{"token":"a"}, {"x":[}]])",
    };
    for (const QByteArray& body : refused)
        EXPECT_FALSE(CaskCatalog::parse(body, std::nullopt)) << body.left(80).toStdString();

    const std::vector<QByteArray> accepted {
        "[]",
        " \n[ ]\r\n",
        "\xEF\xBB\xBF[]",
        R"([{"s":"}]{[,\"\\"} ,{"t":"]"}])", // brackets, quotes and backslashes in strings
        R"([{"token":"a","n":-0.5e+10,"t":true,"f":false,"z":null,"o":{"k":[1,{"x":[]}]},"s":"\u00e9\ud83d\ude00\/"}])",
    };
    for (const QByteArray& body : accepted)
        EXPECT_TRUE(CaskCatalog::parse(body, std::nullopt)) << body.toStdString();
}

TEST(CaskBuilding, EscapesAreDecoded)
{
    const auto casks
        = parse(R"([{"token":"caf\u00e9\ud83d\ude00\/x","artifacts":[{"app":["Tab\tQuote\"Back\\.app"]}]}])");
    ASSERT_EQ(casks.size(), 1u);
    EXPECT_EQ(casks[0].token, u"caf\u00e9\U0001F600/x"_s);
    EXPECT_EQ(casks[0].apps, QStringList { u"Tab\tQuote\"Back\\.app"_s });
}

// ---- Finding the cask of an app ----

// Casks with the fields the lookup reads; app names and identifiers as given.
Cask cask(const char* token, QStringList apps, QStringList ids, QString extraMentions = {})
{
    Cask c;
    c.token = QString::fromUtf8(token);
    c.apps = std::move(apps);
    c.bundleIDs = std::move(ids);
    c.mentions = (c.bundleIDs.join(u'\n') + u'\n' + extraMentions).toLower();
    return c;
}

struct LookupRow {
    const char* name;
    std::vector<Cask> casks;
    QString bundleID;
    QString fileName;
    std::optional<QString> token;
};

class CaskLookup : public testing::TestWithParam<LookupRow> { };

TEST_P(CaskLookup, ChoosesTheBestCask)
{
    const LookupRow& row = GetParam();
    CaskCatalog catalog;
    for (const Cask& c : row.casks)
        catalog.add(c);
    const std::optional<Cask> found = catalog.find(row.bundleID, row.fileName);
    EXPECT_EQ(found ? std::optional<QString>(found->token) : std::nullopt, row.token);
}

INSTANTIATE_TEST_SUITE_P(Rows, CaskLookup,
    testing::Values(
        LookupRow { "OnlyOneListsTheIdentifier",
            { cask("other", { u"Notes.app"_s }, { u"com.other.notes"_s, u"com.example.notes.helper"_s }),
                cask("mine", { u"Notes.app"_s }, { u"com.example.notes"_s }) },
            u"com.example.notes"_s, u"Notes.app"_s, u"mine"_s },
        LookupRow { "BothListItPlainEditionWins",
            { cask("notes@beta", { u"Notes.app"_s }, { u"com.example.notes"_s }),
                cask("notes", { u"Notes.app"_s }, { u"com.example.notes"_s }) },
            u"com.example.notes"_s, u"Notes.app"_s, u"notes"_s },
        LookupRow { "EqualPenaltiesFirstInIndexWins",
            { cask("first", { u"Notes.app"_s }, {}), cask("second", { u"Notes.app"_s }, {}) },
            u"com.example.notes"_s, u"Notes.app"_s, u"first"_s },
        LookupRow { "EditionWithIdentifierBeatsPlainWithout",
            // penalties: plain without id 1, edition with id 2 → plain wins
            { cask("notes@nightly", { u"Notes.app"_s }, { u"com.example.notes"_s }),
                cask("notes", { u"Notes.app"_s }, {}) },
            u"com.example.notes"_s, u"Notes.app"_s, u"notes"_s },
        LookupRow { "FileNameIsCaseInsensitive", { cask("n", { u"NOTES.APP"_s }, {}) },
            u"com.example.notes"_s, u"notes.app"_s, u"n"_s },
        LookupRow { "NonAsciiFileNameIsCaseInsensitive", { cask("u", { u"ÜBER.app"_s }, {}) },
            u"com.example.uber"_s, u"über.APP"_s, u"u"_s },
        LookupRow { "MentionedOnlyInStanzasStillMatchesByName",
            { cask("mentioned", { u"Notes.app"_s }, { u"com.vendor.helper"_s },
                u"~/Library/Caches/com.Example.Notes"_s) },
            u"com.example.notes"_s, u"Notes.app"_s, u"mentioned"_s },
        LookupRow { "NamesakeNotMatchedFallsBackToIdentifier",
            { cask("namesake", { u"Notes.app"_s }, { u"org.someone.else"_s }),
                cask("renamed", { u"Notes Pro.app"_s }, { u"com.example.notes"_s }) },
            u"com.example.notes"_s, u"Notes.app"_s, u"renamed"_s },
        LookupRow { "IdentifierLookupIsExactSpelling",
            { cask("upper", { u"Other.app"_s }, { u"com.Example.Notes"_s }) }, u"com.example.notes"_s,
            u"Notes.app"_s, std::nullopt },
        LookupRow { "IdentifierFallbackPrefersPlainEdition",
            { cask("x@beta", { u"X Beta.app"_s }, { u"com.example.x"_s }),
                cask("x", { u"X.app"_s }, { u"com.example.x"_s }) },
            u"com.example.x"_s, u"Renamed X.app"_s, u"x"_s },
        LookupRow { "NothingFits", { cask("a", { u"A.app"_s }, { u"com.a"_s }) }, u"com.b"_s, u"B.app"_s,
            std::nullopt }),
    [](const testing::TestParamInfo<LookupRow>& row) { return std::string(row.param.name); });

TEST(CaskCatalogIndices, EachCaskIndexedOncePerDistinctKey)
{
    CaskCatalog catalog;
    catalog.add(cask("dup", { u"A.app"_s, u"a.APP"_s }, { u"com.a"_s }));
    catalog.add(cask("two", { u"A.app"_s }, { u"com.a"_s, u"com.b"_s }));
    EXPECT_EQ(catalog.withApp(u"a.app"_s), (std::vector<std::size_t> { 0, 1 }));
    EXPECT_EQ(catalog.withBundle(u"com.a"_s), (std::vector<std::size_t> { 0, 1 }));
    EXPECT_EQ(catalog.withBundle(u"com.b"_s), (std::vector<std::size_t> { 1 }));
    ASSERT_TRUE(catalog.token(u"two"_s));
    EXPECT_EQ(catalog.token(u"two"_s)->token, u"two"_s);
    EXPECT_EQ(catalog.token(u"three"_s), std::nullopt);
}

} // namespace
} // namespace corvanta
