#include "discovery/InstalledApp.h"

#include "Printers.h"
#include "sources/Release.h"

#include <QJsonObject>

#include <gtest/gtest.h>

using corvanta::Download;
using corvanta::InstalledApp;
using corvanta::Release;
using corvanta::SourceKind;
using namespace Qt::StringLiterals;

namespace {

InstalledApp app(const QString& bundleID, std::optional<QString> team, std::optional<QString> edKey)
{
    InstalledApp result;
    result.url = QUrl::fromLocalFile(u"/Applications/Tool.app"_s);
    result.folder = QUrl::fromLocalFile(u"/Applications"_s);
    result.name = u"Tool"_s;
    result.bundleID = bundleID;
    result.team = std::move(team);
    result.edKey = std::move(edKey);
    return result;
}

Release release(SourceKind kind, bool download, bool edSignature)
{
    Release result;
    result.kind = kind;
    result.version = u"2.0"_s;
    if (download) {
        result.download = Download { QUrl(u"https://acme.com/Tool.zip"_s) };
        if (edSignature)
            result.download->edSignature = u"c2lnbmF0dXJl"_s;
    }
    return result;
}

struct CanInstallRow {
    const char* name;
    InstalledApp app;
    std::optional<Release> release;
    bool expected;
};

std::ostream& operator<<(std::ostream& os, const CanInstallRow& row)
{
    return os << row.name;
}

class CanInstall : public testing::TestWithParam<CanInstallRow> { };

TEST_P(CanInstall, FollowsTheRulesInOrder)
{
    const CanInstallRow& row = GetParam();
    EXPECT_EQ(row.app.canInstall(row.release), row.expected);
}

const QString team = u"ZCK58M894E"_s;
const QString key = u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s;

INSTANTIATE_TEST_SUITE_P(Table, CanInstall,
    testing::Values(CanInstallRow { "no release", app(u"com.acme.tool"_s, team, key), std::nullopt, false },
        CanInstallRow { "App Store release", app(u"com.acme.tool"_s, team, key),
            release(SourceKind::appStore, true, true), false },
        CanInstallRow { "Electron release", app(u"com.acme.tool"_s, team, key),
            release(SourceKind::electron, true, true), false },
        CanInstallRow { "no download", app(u"com.acme.tool"_s, team, key),
            release(SourceKind::sparkle, false, false), false },
        CanInstallRow { "this program", app(u"com.brenmoral.corvanta"_s, team, key),
            release(SourceKind::sparkle, true, true), false },
        CanInstallRow { "signed, Sparkle", app(u"com.acme.tool"_s, team, std::nullopt),
            release(SourceKind::sparkle, true, false), true },
        CanInstallRow { "signed, Homebrew", app(u"com.acme.tool"_s, team, std::nullopt),
            release(SourceKind::homebrew, true, false), true },
        CanInstallRow { "signed, GitHub", app(u"com.acme.tool"_s, team, std::nullopt),
            release(SourceKind::github, true, false), true },
        CanInstallRow { "unsigned, key, signature", app(u"com.acme.tool"_s, std::nullopt, key),
            release(SourceKind::sparkle, true, true), true },
        CanInstallRow { "unsigned, key, no signature", app(u"com.acme.tool"_s, std::nullopt, key),
            release(SourceKind::sparkle, true, false), false },
        CanInstallRow { "unsigned, signature, no key", app(u"com.acme.tool"_s, std::nullopt, std::nullopt),
            release(SourceKind::sparkle, true, true), false },
        CanInstallRow { "unsigned, nothing", app(u"com.acme.tool"_s, std::nullopt, std::nullopt),
            release(SourceKind::homebrew, true, false), false }));

TEST(InstalledApp, IsCorvantaFollowsTheRunningProgramsIdentifier)
{
    const QString saved = InstalledApp::ownBundleID;
    InstalledApp::ownBundleID.clear();
    EXPECT_TRUE(app(u"com.brenmoral.corvanta"_s, team, std::nullopt).isCorvanta());
    EXPECT_FALSE(app(u"com.brenmoral.Corvanta"_s, team, std::nullopt).isCorvanta());

    InstalledApp::ownBundleID = u"com.brenmoral.corvanta.beta"_s;
    EXPECT_TRUE(app(u"com.brenmoral.corvanta.beta"_s, team, std::nullopt).isCorvanta());
    EXPECT_FALSE(app(u"com.brenmoral.corvanta"_s, team, std::nullopt).isCorvanta());
    EXPECT_TRUE(app(u"com.brenmoral.corvanta"_s, team, std::nullopt)
                    .canInstall(release(SourceKind::sparkle, true, true)));
    InstalledApp::ownBundleID = saved;
}

TEST(InstalledApp, JsonCarriesEveryFieldWithNullForNone)
{
    InstalledApp tool = app(u"com.acme.tool"_s, team, std::nullopt);
    tool.version = u"1.2"_s;
    tool.isAppStore = true;
    tool.feedURL = QUrl(u"https://acme.com/appcast.xml"_s);
    const QJsonObject json = tool.toJson();
    EXPECT_EQ(json[u"path"_s].toString(), u"/Applications/Tool.app"_s);
    EXPECT_EQ(json[u"folder"_s].toString(), u"/Applications"_s);
    EXPECT_EQ(json[u"version"_s].toString(), u"1.2"_s);
    EXPECT_TRUE(json[u"build"_s].isNull());
    EXPECT_EQ(json[u"team"_s].toString(), team);
    EXPECT_TRUE(json[u"isAppStore"_s].toBool());
    EXPECT_EQ(json[u"feedURL"_s].toString(), u"https://acme.com/appcast.xml"_s);
    EXPECT_TRUE(json[u"edKey"_s].isNull());
    EXPECT_TRUE(json[u"electronFeed"_s].isNull());
    EXPECT_EQ(json.size(), 11);
}

} // namespace
