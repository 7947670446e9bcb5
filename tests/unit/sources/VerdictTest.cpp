#include "sources/Verdict.h"

#include "discovery/InstalledApp.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

InstalledApp app(
    QString bundleID, std::optional<QString> version, std::optional<QString> build = std::nullopt)
{
    InstalledApp result;
    result.bundleID = std::move(bundleID);
    result.version = std::move(version);
    result.build = std::move(build);
    return result;
}

Release release(std::optional<QString> version, std::optional<QString> build = std::nullopt,
    SourceKind kind = SourceKind::sparkle)
{
    Release result;
    result.kind = kind;
    result.version = std::move(version);
    result.build = std::move(build);
    return result;
}

Attempt attempt(SourceKind kind, Attempt::Outcome outcome)
{
    return { .kind = kind, .outcome = std::move(outcome) };
}

struct StatusRow {
    const char* name;
    InstalledApp app;
    std::optional<Release> release;
    QStringList ignoredApps;
    QMap<QString, QString> ignoredVersions;
    Status expected;
};

std::ostream& operator<<(std::ostream& os, const StatusRow& row)
{
    return os << row.name;
}

class VerdictStatus : public testing::TestWithParam<StatusRow> { };

TEST_P(VerdictStatus, Decides)
{
    const StatusRow& row = GetParam();
    const std::vector<Attempt> attempts {
        attempt(SourceKind::appStore, Attempt::Skipped { u"No App Store receipt"_s }),
        attempt(SourceKind::sparkle, Attempt::Fail { u"The server answered HTTP 500"_s }),
    };
    const Status status
        = Verdict::status(row.app, row.release, attempts, row.ignoredApps, row.ignoredVersions);
    EXPECT_EQ(status.name(), row.expected.name());
    EXPECT_EQ(status.text, row.expected.text);
}

const QString id = u"com.example.app"_s;

INSTANTIATE_TEST_SUITE_P(Table, VerdictStatus,
    testing::Values(
        // Ignoring wins over everything, even an update.
        StatusRow { "IgnoredApp", app(id, u"1.0"_s), release(u"2.0"_s), { id }, {},
            Status::ignored(u"You're ignoring this app"_s) },
        StatusRow { "NoReleaseQuotesLastFailure", app(id, u"1.0"_s), std::nullopt, {}, {},
            Status::cantVerify(u"Sparkle: The server answered HTTP 500"_s) },
        StatusRow { "Newer", app(id, u"1.0"_s), release(u"1.1"_s), {}, {}, Status::update() },
        StatusRow { "Same", app(id, u"1.1"_s), release(u"1.1.0"_s), {}, {}, Status::upToDate() },
        StatusRow { "Older", app(id, u"2.0"_s), release(u"1.9"_s), {}, {}, Status::upToDate() },
        StatusRow { "BuildDecidesEqualVersions", app(id, u"1.4"_s, u"140"_s), release(u"1.4"_s, u"141"_s), {},
            {}, Status::update() },
        StatusRow { "BuildCounterAgainstDotted", app(id, u"2023"_s),
            release(u"2.1"_s, std::nullopt, SourceKind::github), {}, {},
            Status::cantVerify(
                u"Couldn't compare the installed version 2023 with 2.1 from GitHub Releases"_s) },
        // Without a version the installed label is the build, else "unknown".
        StatusRow { "InstalledLabelIsBuild", app(id, std::nullopt, u"abc"_s), release(u"2.0"_s), {}, {},
            Status::cantVerify(u"Couldn't compare the installed version abc with 2.0 from Sparkle"_s) },
        StatusRow { "InstalledLabelUnknown", app(id, std::nullopt),
            release(u"2.0"_s, std::nullopt, SourceKind::electron), {}, {},
            Status::cantVerify(u"Couldn't compare the installed version unknown with 2.0 from Electron"_s) },
        StatusRow { "ReleaseWithoutVersionOrBuild", app(id, u"1.0"_s), release(std::nullopt), {}, {},
            Status::cantVerify(u"Couldn't compare the installed version 1.0 with ? from Sparkle"_s) },
        StatusRow { "SkippedVersionIsOffered", app(id, u"1.0"_s), release(u"1.2"_s), {}, { { id, u"1.2"_s } },
            Status::ignored(u"You're skipping version 1.2"_s) },
        // The skip is for the release label, so a release known only by build is skipped by its build.
        StatusRow { "SkippedBuildLabel", app(id, std::nullopt, u"88"_s), release(std::nullopt, u"90"_s), {},
            { { id, u"90"_s } }, Status::ignored(u"You're skipping version 90"_s) },
        StatusRow { "NewerThanSkipped", app(id, u"1.0"_s), release(u"1.3"_s), {}, { { id, u"1.2"_s } },
            Status::update() },
        StatusRow { "SkipOfAnotherApp", app(id, u"1.0"_s), release(u"1.2"_s), {},
            { { u"com.other"_s, u"1.2"_s } }, Status::update() },
        // A skipped version doesn't matter when nothing newer is offered.
        StatusRow { "SkippedButUpToDate", app(id, u"1.2"_s), release(u"1.2"_s), {}, { { id, u"1.2"_s } },
            Status::upToDate() }),
    [](const testing::TestParamInfo<StatusRow>& row) { return std::string(row.param.name); });

struct ReasonRow {
    const char* name;
    QString bundleID;
    std::vector<Attempt> attempts;
    QString expected;
};

std::ostream& operator<<(std::ostream& os, const ReasonRow& row)
{
    return os << row.name;
}

class VerdictReason : public testing::TestWithParam<ReasonRow> { };

TEST_P(VerdictReason, Explains)
{
    const ReasonRow& row = GetParam();
    EXPECT_EQ(Verdict::reason(app(row.bundleID, u"1.0"_s), row.attempts), row.expected);
}

const QString noSource
    = u"No update source: no App Store receipt, Sparkle feed, Homebrew cask, GitHub repository or Electron feed"_s;
const QString appleApp = u"Apple app with no App Store receipt; macOS Software Update keeps it current"_s;

std::vector<Attempt> allSkipped()
{
    std::vector<Attempt> attempts;
    for (SourceKind kind : allSourceKinds)
        attempts.push_back(attempt(kind, Attempt::Skipped { u"why"_s }));
    return attempts;
}

INSTANTIATE_TEST_SUITE_P(Table, VerdictReason,
    testing::Values(ReasonRow { "NoSource", id, allSkipped(), noSource },
        ReasonRow { "AppleApp", u"com.apple.Safari"_s, allSkipped(), appleApp },
        // Only the "com.apple." prefix with its dot marks Apple's own apps.
        ReasonRow { "NotQuiteApple", u"com.applesauce.app"_s, allSkipped(), noSource },
        ReasonRow { "NoAttempts", id, {}, noSource },
        // The last failure speaks, even with skipped attempts after it and
        // for an Apple app.
        ReasonRow { "LastFailure", u"com.apple.Pages"_s,
            { attempt(SourceKind::appStore, Attempt::Fail { u"Not found in the US App Store"_s }),
                attempt(SourceKind::sparkle, Attempt::Skipped { u"No SUFeedURL in Info.plist"_s }),
                attempt(SourceKind::homebrew, Attempt::Fail { u"The cask index has an unexpected format"_s }),
                attempt(SourceKind::github, Attempt::Skipped { u"No GitHub repository known"_s }),
                attempt(SourceKind::electron, Attempt::Skipped { u"x"_s }) },
            u"Homebrew cask: The cask index has an unexpected format"_s }),
    [](const testing::TestParamInfo<ReasonRow>& row) { return std::string(row.param.name); });

TEST(Status, EqualityIncludesTheText)
{
    EXPECT_EQ(Status::cantVerify(u"a"_s), Status::cantVerify(u"a"_s));
    EXPECT_NE(Status::cantVerify(u"a"_s), Status::cantVerify(u"b"_s));
    EXPECT_NE(Status::cantVerify(u"a"_s), Status::ignored(u"a"_s));
    EXPECT_EQ(Status::update(), Status::update());
    EXPECT_NE(Status::update(), Status::upToDate());
}

} // namespace
