#include "install/Leftovers.h"

#include "discovery/InstalledApp.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

using Match = Leftovers::Match;

// ---- the prefix rule ----------------------------------------------------------

struct PrefixRow {
    const char* entry;
    const char* dir;
    Match expected;
    QSet<QString> installed = {};
};

class PrefixRule : public testing::TestWithParam<PrefixRow> { };

TEST_P(PrefixRule, DecidesWhoOwnsAnEntry)
{
    const PrefixRow& row = GetParam();
    EXPECT_EQ(Leftovers::prefixed(
                  QString::fromUtf8(row.entry), u"com.foo.app"_s, QString::fromUtf8(row.dir), row.installed),
        row.expected)
        << row.entry << " in " << row.dir;
}

INSTANTIATE_TEST_SUITE_P(Leftovers, PrefixRule,
    testing::Values(
        // Launch agents: one piece naming a role is the app's own.
        PrefixRow { "com.foo.app.helper.plist", "LaunchAgents", Match::own },
        PrefixRow { "com.foo.app.LoginItem.plist", "LaunchAgents", Match::own },
        PrefixRow { "com.foo.app.beta.plist", "LaunchAgents", Match::ambiguous },
        PrefixRow { "com.foo.app.whatever.plist", "LaunchAgents", Match::ambiguous },
        PrefixRow { "com.foo.app.helper.extra.plist", "LaunchAgents", Match::ambiguous },
        PrefixRow { "com.foo.application.plist", "LaunchAgents", Match::unrelated },
        PrefixRow { "com.foo.app.plist", "LaunchAgents", Match::own },
        PrefixRow { "com.foo.app.helper", "LaunchAgents", Match::unrelated },
        PrefixRow { "com.foo.app..plist", "LaunchAgents", Match::unrelated },
        PrefixRow { "com.foo.app.plist.plist", "LaunchAgents", Match::ambiguous },
        PrefixRow { "COM.FOO.APP.helper.plist", "LaunchAgents", Match::unrelated },
        // ByHost: a host identifier is the app's own, anything else may not be.
        PrefixRow { "com.foo.app.0123456789AB.plist", "Preferences/ByHost", Match::own },
        PrefixRow {
            "com.foo.app.01234567-89ab-CDEF-0123-456789abcdef.plist", "Preferences/ByHost", Match::own },
        PrefixRow { "com.foo.app.0123456789A.plist", "Preferences/ByHost", Match::ambiguous },
        PrefixRow { "com.foo.app.settings.plist", "Preferences/ByHost", Match::ambiguous },
        PrefixRow { "com.foo.app.helper.plist", "Preferences/ByHost", Match::ambiguous },
        // A product suffix wins over a role word or a host identifier.
        PrefixRow { "com.foo.app.Nightly.plist", "LaunchAgents", Match::ambiguous },
        PrefixRow { "com.foo.app.pro.plist", "Preferences/ByHost", Match::ambiguous },
        // Another installed app whose identifier extends this one.
        PrefixRow { "com.foo.app.pro.plist", "LaunchAgents", Match::ambiguous, { u"com.foo.app.pro"_s } },
        PrefixRow {
            "com.foo.app.updater.plist", "LaunchAgents", Match::ambiguous, { u"com.foo.app.updater"_s } },
        PrefixRow { "com.foo.app.updater.plist", "LaunchAgents", Match::own, { u"com.foo.app.other"_s } },
        PrefixRow {
            "com.foo.app.Sync.agent.plist", "LaunchAgents", Match::ambiguous, { u"com.foo.app.sync"_s } },
        // Other folders only ever suggest.
        PrefixRow { "com.foo.app.helper.plist", "Preferences", Match::ambiguous }));

// ---- finding -----------------------------------------------------------------

struct Fixture {
    QTemporaryDir root;
    QString library() const { return root.filePath(u"Library"_s); }

    void file(const QString& relative, qint64 bytes = 100) const
    {
        const QString path = QDir(library()).filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly)) << relative.toStdString();
        out.write(QByteArray(bytes, 'x'));
    }
    void folder(const QString& relative) const { QDir().mkpath(QDir(library()).filePath(relative)); }
    void link(const QString& relative, const QString& target) const
    {
        const QString path = QDir(library()).filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        ASSERT_TRUE(QFile::link(target, path)) << relative.toStdString();
    }
};

struct FindRow {
    const char* title;
    const char* name;
    const char* id;
    std::function<void(const Fixture&)> setUp;
    // Relative paths in order; a trailing " ?" marks an ambiguous item.
    QStringList expected;
    QStringList zap = {};
    QSet<QString> installed = {};
};

InstalledApp app(const QString& name, const QString& id)
{
    InstalledApp result;
    result.name = name;
    result.bundleID = id;
    result.url = QUrl::fromLocalFile(u"/Applications/"_s + name + u".app"_s);
    return result;
}

QStringList describe(const std::vector<Leftover>& found, const QString& library)
{
    QStringList lines;
    for (const Leftover& leftover : found) {
        QString line = leftover.url.toLocalFile().mid(library.size() + 1);
        if (leftover.ambiguous)
            line += u" ?"_s;
        lines << line;
    }
    return lines;
}

class FindLeftovers : public testing::TestWithParam<FindRow> { };

TEST_P(FindLeftovers, OffersOnlyWhatTheRulesTieToTheApp)
{
    const FindRow& row = GetParam();
    Fixture world;
    world.folder(u""_s);
    row.setUp(world);
    const std::vector<Leftover> found = Leftovers::find(
        app(QString::fromUtf8(row.name), QString::fromUtf8(row.id)), world.library(), row.zap, row.installed);
    EXPECT_EQ(describe(found, world.library()), row.expected) << row.title;
}

INSTANTIATE_TEST_SUITE_P(Leftovers, FindLeftovers,
    testing::Values(
        FindRow { "a vendor word inside a longer name still gets the name fallbacks", "Google Chrome",
            "com.google.Chrome",
            [](const Fixture& w) {
                w.file(u"Application Support/Google Chrome/Default/History"_s);
                w.folder(u"Caches/Google Chrome"_s);
                w.folder(u"Logs/com.google.Chrome"_s);
                w.folder(u"Logs/Google Chrome"_s); // the identifier's folder exists, so the name isn't used
            },
            { u"Application Support/Google Chrome"_s, u"Caches/Google Chrome"_s,
                u"Logs/com.google.Chrome"_s } },
        FindRow { "an app named after a vendor, in any case, gets no name fallbacks", "GOOGLE",
            "com.google.app",
            [](const Fixture& w) {
                w.folder(u"Application Support/GOOGLE"_s);
                w.folder(u"Caches/GOOGLE"_s);
            },
            {} },
        FindRow { "the eleven fixed paths, containers unmeasured", "", "com.foo.app",
            [](const Fixture& w) {
                w.folder(u"Application Support/com.foo.app"_s);
                w.folder(u"Caches/com.foo.app"_s);
                w.file(u"Preferences/com.foo.app.plist"_s);
                w.folder(u"Containers/com.foo.app"_s);
                w.folder(u"Application Scripts/com.foo.app"_s);
                w.folder(u"Saved Application State/com.foo.app.savedState"_s);
                w.folder(u"HTTPStorages/com.foo.app"_s);
                w.file(u"HTTPStorages/com.foo.app.binarycookies"_s);
                w.folder(u"WebKit/com.foo.app"_s);
                w.file(u"Cookies/com.foo.app.binarycookies"_s);
                w.folder(u"Logs/com.foo.app"_s);
                w.folder(u"Caches/com.foo.app.other"_s); // exact names only
            },
            { u"Application Scripts/com.foo.app"_s, u"Application Support/com.foo.app"_s,
                u"Caches/com.foo.app"_s, u"Containers/com.foo.app"_s, u"Cookies/com.foo.app.binarycookies"_s,
                u"HTTPStorages/com.foo.app"_s, u"HTTPStorages/com.foo.app.binarycookies"_s,
                u"Logs/com.foo.app"_s, u"Preferences/com.foo.app.plist"_s,
                u"Saved Application State/com.foo.app.savedState"_s, u"WebKit/com.foo.app"_s } },
        FindRow { "launch agents and per-host preferences by the prefix rule", "", "com.foo.app",
            [](const Fixture& w) {
                w.file(u"LaunchAgents/com.foo.app.helper.plist"_s);
                w.file(u"LaunchAgents/com.foo.app.beta.plist"_s);
                w.file(u"LaunchAgents/com.foo.application.plist"_s);
                w.file(u"LaunchAgents/com.foo.app.pro.plist"_s);
                w.file(u"Preferences/ByHost/com.foo.app.0123456789AB.plist"_s);
                w.file(u"Preferences/ByHost/com.foo.app.settings.plist"_s);
                w.file(u"Preferences/ByHost/com.other.app.0123456789AB.plist"_s);
            },
            { u"LaunchAgents/com.foo.app.beta.plist ?"_s, u"LaunchAgents/com.foo.app.helper.plist"_s,
                u"LaunchAgents/com.foo.app.pro.plist ?"_s,
                u"Preferences/ByHost/com.foo.app.0123456789AB.plist"_s,
                u"Preferences/ByHost/com.foo.app.settings.plist ?"_s },
            {}, { u"com.foo.app"_s, u"com.foo.app.pro"_s } },
        FindRow { "group containers end in the identifier", "", "com.foo.app",
            [](const Fixture& w) {
                w.folder(u"Group Containers/ABCDE12345.com.foo.app"_s);
                w.folder(u"Group Containers/com.foo.app"_s);
                w.folder(u"Group Containers/group.com.foo.apple"_s);
                w.folder(u"Group Containers/com.foo.app.shared"_s);
            },
            { u"Group Containers/ABCDE12345.com.foo.app"_s, u"Group Containers/com.foo.app"_s } },
        FindRow { "zap paths: a top-level folder, a climb and a missing item are dropped", "", "com.foo.app",
            [](const Fixture& w) {
                w.folder(u"Caches/com.foo.app.ShipIt"_s);
                w.file(u"Preferences/com.foo.app.extra.plist"_s);
                w.file(u"Secret"_s);
            },
            { u"Caches/com.foo.app.ShipIt"_s, u"Preferences/com.foo.app.extra.plist"_s },
            { u"~/Library/Caches"_s, u"~/Library/Caches/"_s, u"~/Library/Caches/com.foo.app.ShipIt"_s,
                u"~/Library/Preferences/com.foo.app.extra.plist"_s, u"~/Library/Caches/../Secret"_s,
                u"~/Library/Missing/thing"_s, u"~/Library/"_s, u"/etc/passwd"_s } },
        FindRow { "a link resolving outside the Library is dropped", "", "com.foo.app",
            [](const Fixture& w) {
                const QString outside = w.root.filePath(u"outside"_s);
                QDir().mkpath(outside);
                w.link(u"Application Support/com.foo.app"_s, outside);
                w.link(u"Caches/com.foo.app"_s, u"/tmp"_s);
                w.link(u"Logs/com.foo.app"_s, w.root.filePath(u"nowhere"_s)); // dangling
            },
            {} },
        FindRow { "two candidates resolving to one item give one leftover, the first", "", "com.foo.app",
            [](const Fixture& w) {
                w.folder(u"Application Support/com.foo.app"_s);
                w.link(u"Caches/com.foo.app"_s, w.library() + u"/Application Support/com.foo.app"_s);
                // Resolves to the Library's own top level: never offered.
                w.link(u"Logs/com.foo.app"_s, w.library() + u"/Caches"_s);
            },
            { u"Application Support/com.foo.app"_s } }));

TEST(Leftovers, ContainersAreNotMeasuredAndOtherItemsAre)
{
    Fixture world;
    world.file(u"Containers/com.foo.app/Data/big"_s, 50000);
    world.file(u"Group Containers/T.com.foo.app/data"_s, 50000);
    world.file(u"Caches/com.foo.app/a"_s, 10000);
    world.file(u"Caches/com.foo.app/nested/b"_s, 5000);
    const std::vector<Leftover> found
        = Leftovers::find(app(u""_s, u"com.foo.app"_s), world.library(), {}, { u"com.foo.app"_s });
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].url.fileName(), u"com.foo.app"_s);
    ASSERT_TRUE(found[0].size.has_value());
    EXPECT_GE(*found[0].size, 15000);
    EXPECT_FALSE(found[1].size.has_value()) << found[1].url.toLocalFile().toStdString();
    EXPECT_FALSE(found[2].size.has_value()) << found[2].url.toLocalFile().toStdString();
}

TEST(Leftovers, SizeCountsAllocatedBytesOfRegularFilesAndFollowsNoLinkInside)
{
    Fixture world;
    world.file(u"Caches/x/a"_s, 10000);
    world.file(u"Caches/x/deep/er/b"_s, 5000);
    world.file(u"big"_s, 1 << 20);
    world.link(u"Caches/x/link"_s, world.library() + u"/big"_s);
    const auto allocated = [&](const QString& relative) {
        struct stat st { };
        ::lstat(QFile::encodeName(world.library() + u'/' + relative).constData(), &st);
        return std::int64_t(st.st_blocks) * 512;
    };
    EXPECT_EQ(Leftovers::size(world.library() + u"/Caches/x"_s),
        allocated(u"Caches/x/a"_s) + allocated(u"Caches/x/deep/er/b"_s));
    EXPECT_EQ(Leftovers::size(world.library() + u"/Caches/x/a"_s), allocated(u"Caches/x/a"_s));
    EXPECT_EQ(Leftovers::size(world.library() + u"/missing"_s), 0);
}

TEST(Leftovers, AMissingLibraryOffersNothing)
{
    QTemporaryDir root;
    EXPECT_TRUE(
        Leftovers::find(app(u"Foo"_s, u"com.foo.app"_s), root.filePath(u"Library"_s), {}, {}).empty());
}

} // namespace
