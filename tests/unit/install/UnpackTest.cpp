#include "demo/Files.h"
#include "install/Updater.h"
#include "support/InstallFixtures.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using demo::makeLink;

std::optional<QString> confineError(const QString& root)
{
    try {
        Updater::confine(root);
        return std::nullopt;
    } catch (const UpdateError& error) {
        return error.description();
    }
}

QString outside(const QString& link, const QString& destination)
{
    return u"The download contains a link to a location outside the app (%1 \u2192 %2). Refusing to install."_s
        .arg(link, destination);
}

TEST(Confine, AcceptsLinksThatStayInsideTheTree)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(u"extracted"_s);
    test::makeApp(root, {});
    const QString framework = root + u"/Foo.app/Contents/Frameworks/Kit.framework"_s;
    makeLink(u"../../../Resources/en.lproj"_s, framework + u"/Versions/A/Strings"_s);
    makeLink(u"./Versions/./A/../A"_s, framework + u"/Dotted"_s);
    makeLink(u"missing/file"_s, framework + u"/Dangling"_s);
    makeLink(u"."_s, framework + u"/Self"_s);
    makeLink(root + u"/Foo.app/Contents/Info.plist"_s, root + u"/Absolute inside"_s);
    EXPECT_EQ(confineError(root), std::nullopt);
}

TEST(Confine, RefusesEveryWayOut)
{
    struct Row {
        const char* name;
        QString linkPath; // relative to the root
        QString destination; // %ROOT% stands for the root's real path
        QString shownDestination;
    };
    const std::vector<Row> rows {
        { "climbs out with ..", u"Foo.app/Contents/Frameworks/Kit"_s, u"../../../../../../../../etc"_s, {} },
        { "climbs one above the root", u"Foo.app/up"_s, u"../.."_s, {} },
        { "absolute elsewhere", u"Foo.app/Contents/passwd"_s, u"/etc/passwd"_s, {} },
        { "absolute, a sibling sharing the root's prefix", u"Foo.app/sibling"_s, u"%ROOT%-other/x"_s, {} },
        { "the root's parent", u"parent"_s, u".."_s, {} },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString root = dir.filePath(u"extracted"_s);
        test::makeApp(root, {});
        const QString real = QFileInfo(root).canonicalFilePath();
        QString destination = row.destination;
        destination.replace(u"%ROOT%"_s, real);
        makeLink(destination, root + u'/' + row.linkPath);
        EXPECT_EQ(confineError(root), outside(QFileInfo(row.linkPath).fileName(), destination));
    }
}

TEST(Confine, ResolvesLinksThroughOtherLinks)
{
    // Both links read as inside the tree, but "t" is the root itself, so
    // "t/.." is the root's parent once resolved on disk.
    QTemporaryDir dir;
    const QString root = dir.filePath(u"extracted"_s);
    test::makeApp(root, {});
    makeLink(u"."_s, root + u"/t"_s);
    makeLink(u"t/.."_s, root + u"/s"_s);
    EXPECT_EQ(confineError(root), outside(u"s"_s, u"t/.."_s));
}

TEST(Confine, RefusesAMissingRoot)
{
    QTemporaryDir dir;
    EXPECT_EQ(confineError(dir.filePath(u"nothing"_s)), u"The download couldn't be unpacked."_s);
}

TEST(FindApp, PrefersTheExpectedIdentifierOneLevelDeepAtMost)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    test::makeApp(root, { .name = u"Helper"_s, .bundleID = u"com.example.helper"_s });
    QDir().mkpath(root + u"/Payload"_s);
    const QString wanted = test::makeApp(root + u"/Payload"_s, { .name = u"Foo"_s });
    test::makeApp(root + u"/Deep/er"_s, { .name = u"Deep"_s, .bundleID = u"com.example.deep"_s });

    EXPECT_EQ(Updater::findApp(root, u"com.example.foo"_s), wanted);
    // No match: the first candidate, top level before one level down.
    EXPECT_EQ(Updater::findApp(root, u"com.example.other"_s), root + u"/Helper.app"_s);
    EXPECT_EQ(Updater::findApp(root, u"com.example.deep"_s), root + u"/Helper.app"_s);
}

TEST(FindApp, SkipsLinksAndFailsWithoutAnApp)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QDir().mkpath(root + u"/box/one/two"_s);
    test::makeApp(root + u"/box/one/two"_s, {});
    try {
        Updater::findApp(root + u"/box"_s, u"com.example.foo"_s);
        FAIL() << "an app two levels down was found";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), u"The download doesn't contain an app."_s);
    }
    // A link named like an app (a disk image's "Applications" shortcut, say) is no candidate.
    test::makeApp(dir.filePath(u"real"_s), {});
    makeLink(dir.filePath(u"real/Foo.app"_s), root + u"/box/Foo.app"_s);
    EXPECT_THROW(Updater::findApp(root + u"/box"_s, u"com.example.foo"_s), UpdateError);
}

} // namespace
} // namespace corvanta
