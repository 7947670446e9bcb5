#include "sources/GitHub.h"

#include "sources/CheckError.h"
#include "support/QtPrinters.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

QJsonArray assets(const QStringList& names)
{
    QJsonArray result;
    for (const QString& name : names)
        result.append(QJsonObject { { u"name"_s, name } });
    return result;
}

std::optional<QString> chosen(const QStringList& names, bool arm = true)
{
    const std::optional<QJsonObject> asset = GitHub::macAsset(assets(names), arm);
    return asset ? std::optional(asset->value("name"_L1).toString()) : std::nullopt;
}

struct AssetRow {
    const char* name;
    QStringList assets;
    std::optional<QString> arm; // chosen on Apple silicon
    std::optional<QString> intel; // chosen on an Intel Mac
};

std::ostream& operator<<(std::ostream& os, const AssetRow& row)
{
    return os << row.name;
}

class MacAsset : public testing::TestWithParam<AssetRow> { };

TEST_P(MacAsset, Chooses)
{
    const AssetRow& row = GetParam();
    EXPECT_EQ(chosen(row.assets, true), row.arm);
    EXPECT_EQ(chosen(row.assets, false), row.intel);
}

INSTANTIATE_TEST_SUITE_P(Table, MacAsset,
    testing::Values(AssetRow { "Empty", {}, std::nullopt, std::nullopt },
        // Only disk images and zip archives can be installed.
        AssetRow { "OnlyPkgAndTarball", { u"App.pkg"_s, u"App.tar.gz"_s, u"App.dmg.blockmap"_s },
            std::nullopt, std::nullopt },
        AssetRow { "OtherSystemsAndSources",
            { u"App-linux.zip"_s, u"App-Windows.zip"_s, u"app-win32.zip"_s, u"app-win64.zip"_s,
                u"App-win.zip"_s, u"App_win.zip"_s, u"App-win-x.zip"_s, u"src.zip"_s, u"Source code.zip"_s,
                u"App.dSYM.zip"_s, u"symbols.zip"_s },
            std::nullopt, std::nullopt },
        AssetRow { "IntelOnlyNeverOnArm",
            { u"App-x86_64.dmg"_s, u"App-x64.zip"_s, u"App-Intel.dmg"_s, u"App-amd64.zip"_s }, std::nullopt,
            u"App-x86_64.dmg"_s },
        AssetRow { "ArmOnlyNeverOnIntel", { u"App-arm64.dmg"_s, u"App-aarch64.zip"_s }, u"App-arm64.dmg"_s,
            std::nullopt },
        // 6 > 4 > 3 > 2 > 1 > 0 on Apple silicon; on Intel both universal Mac builds score 4.
        AssetRow { "Ladder",
            { u"App.zip"_s, u"App-mac.zip"_s, u"App-arm64.zip"_s, u"App-universal.dmg"_s,
                u"App-universal-arm64-mac.dmg"_s, u"App-universal-arm64-mac.dmg"_s },
            u"App-universal-arm64-mac.dmg"_s, u"App-universal-arm64-mac.dmg"_s },
        AssetRow { "UniversalMacBeatsArm",
            { u"App-arm64-mac.zip"_s, u"App-universal.zip"_s, u"App-darwin-universal.zip"_s },
            u"App-darwin-universal.zip"_s, u"App-darwin-universal.zip"_s },
        AssetRow { "ArmBeatsUnmarkedMac", { u"App-osx.zip"_s, u"App-apple-silicon.zip"_s },
            u"App-apple-silicon.zip"_s, u"App-osx.zip"_s },
        AssetRow { "ArmMacBeatsArm", { u"App-arm64.zip"_s, u"App-AppleSilicon-mac.zip"_s },
            u"App-AppleSilicon-mac.zip"_s, std::nullopt },
        // Equal scores keep the earlier asset; names are compared in lower case.
        AssetRow { "TieKeepsFirst", { u"First.ZIP"_s, u"Second.dmg"_s }, u"First.ZIP"_s, u"First.ZIP"_s },
        // A universal build may name both families and is still kept.
        AssetRow { "UniversalNamingIntel", { u"App-x86_64-arm64-universal.dmg"_s, u"App.dmg"_s },
            u"App-x86_64-arm64-universal.dmg"_s, u"App-x86_64-arm64-universal.dmg"_s }),
    [](const testing::TestParamInfo<AssetRow>& row) { return std::string(row.param.name); });

TEST(MacAsset, SkipsAssetsWithoutName)
{
    const QJsonArray list { QJsonObject {}, 5, QJsonObject { { u"name"_s, u"App.zip"_s } } };
    const std::optional<QJsonObject> asset = GitHub::macAsset(list, true);
    ASSERT_TRUE(asset);
    EXPECT_EQ(asset->value("name"_L1).toString(), u"App.zip"_s);
}

QString failure(const QByteArray& body)
{
    try {
        GitHub::parse(body, true);
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"<no error>"_s;
}

TEST(GitHubRelease, RealAnswerWithoutMacAsset)
{
    QFile file(
        QStringLiteral(CORVANTA_REALWORLD "/github/adoptopenjdk-openjdk8-binaries-latest_release.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const Release release = GitHub::parse(file.readAll(), true);
    EXPECT_EQ(release.kind, SourceKind::github);
    // Letters before the first digit are dropped; the rest stays as written.
    EXPECT_EQ(release.version, u"8u192-b98"_s);
    EXPECT_EQ(release.notes, u"Official Release of jdk8u192-b98"_s);
    EXPECT_EQ(release.notesURL,
        QUrl(u"https://github.com/AdoptOpenJDK/openjdk8-binaries/releases/tag/jdk8u192-b98"_s));
    // Its only zip archives are Windows builds.
    EXPECT_FALSE(release.download);
    EXPECT_FALSE(release.storeURL);
    EXPECT_FALSE(release.ref);
}

TEST(GitHubRelease, DownloadFromTheChosenAsset)
{
    const Release release = GitHub::parse(R"({"tag_name": "v2.1.0", "body": "**Fixed**",
        "html_url": "https://github.com/o/r/releases/tag/v2.1.0",
        "assets": [
          {"name": "r-2.1.0-x64.zip", "browser_download_url": "https://github.com/o/r/x64.zip", "size": 10},
          {"name": "r-2.1.0-universal.dmg", "browser_download_url": "https://github.com/o/r/u.dmg",
           "size": 123456789012, "digest": "sha256:abc123"}]})",
        true);
    EXPECT_EQ(release.version, u"2.1.0"_s);
    EXPECT_EQ(release.notes, u"**Fixed**"_s);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->url, QUrl(u"https://github.com/o/r/u.dmg"_s));
    EXPECT_EQ(release.download->size, 123456789012);
    EXPECT_EQ(release.download->sha256, u"abc123"_s);
    EXPECT_FALSE(release.download->edSignature);
    EXPECT_FALSE(release.download->package);
}

TEST(GitHubRelease, OptionalFieldsOnlyLeaveGaps)
{
    const auto download = [](const char* asset) {
        const QByteArray body
            = QByteArray(R"({"tag_name": "1.0", "html_url": "javascript:x", "assets": [)") + asset + "]}";
        const Release release = GitHub::parse(body, true);
        EXPECT_FALSE(release.notesURL);
        EXPECT_FALSE(release.notes);
        return release.download;
    };
    // Another digest algorithm leaves the checksum empty.
    auto d
        = download(R"({"name": "a.zip", "browser_download_url": "https://h/a.zip", "digest": "sha512:ff"})");
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->sha256);
    EXPECT_FALSE(d->size);
    d = download(
        R"({"name": "a.zip", "browser_download_url": "https://h/a.zip", "size": "12", "digest": "sha256:"})");
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->sha256);
    EXPECT_FALSE(d->size);
    EXPECT_FALSE(download(R"({"name": "a.zip"})"));
    EXPECT_FALSE(download(R"({"name": "a.zip", "browser_download_url": "a.zip"})"));
    EXPECT_FALSE(download(R"({"name": "a.pkg", "browser_download_url": "https://h/a.pkg"})"));
}

TEST(GitHubRelease, Failures)
{
    EXPECT_EQ(failure("[]"), u"The repository has no published release"_s);
    EXPECT_EQ(failure(R"({"message": "Not Found"})"), u"The repository has no published release"_s);
    EXPECT_EQ(failure(R"({"tag_name": 12})"), u"The repository has no published release"_s);
    EXPECT_EQ(failure(R"({"tag_name": "nightly"})"), u"The release tag \"nightly\" has no version number"_s);
    EXPECT_EQ(failure(R"({"tag_name": ""})"), u"The release tag \"\" has no version number"_s);
    EXPECT_TRUE(failure("<html>").startsWith(u"The answer isn't valid JSON ("_s));
}

TEST(GitHubRelease, VersionStartsAtAnyNumericCharacter)
{
    EXPECT_EQ(GitHub::parse(R"({"tag_name": "release-\u0663.1"})", true).version, u"\u0663.1"_s);
    // U+1D7CE MATHEMATICAL BOLD DIGIT ZERO lies outside the basic plane.
    EXPECT_EQ(GitHub::parse(R"({"tag_name": "x\ud835\udfce9"})", true).version, u"\U0001D7CE9"_s);
}

} // namespace
