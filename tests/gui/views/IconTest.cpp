#include "discovery/InstalledApp.h"
#include "platform/Ditto.h"
#include "support/Await.h"
#include "views/AppIcon.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// Real bundles from the wild, unpacked as the installer unpacks them.
class IconTest : public testing::Test {
protected:
    QTemporaryDir folder;

    QString unpack(const QString& zip)
    {
        const QString into = folder.filePath(QFileInfo(zip).completeBaseName());
        Ditto::create()->extractZip(QStringLiteral(CORVANTA_REALWORLD) + u"/zip/"_s + zip, into);
        return into;
    }

    static InstalledApp app(const QString& path)
    {
        InstalledApp result;
        result.url = QUrl::fromLocalFile(path);
        result.name = QFileInfo(path).completeBaseName();
        result.bundleID = u"org.example."_s + result.name;
        return result;
    }
};

TEST_F(IconTest, TheIcnsTheInfoPlistNamesIsRead)
{
    const QString bundle = unpack(u"sparkle-SparkleTestCodeSignApp.zip"_s) + u"/SparkleTestCodeSignApp.app"_s;
    const std::optional<QImage> image = AppIcon::read(bundle);
    ASSERT_TRUE(image.has_value());
    EXPECT_GE(image->width(), 128);
    EXPECT_EQ(image->width(), image->height());

    // Through the loader: the placeholder first, the bundle's own icon once read.
    AppIcon& icons = AppIcon::shared();
    const InstalledApp installed = app(bundle);
    const QImage first = icons.of(installed, 64).toImage();
    EXPECT_EQ(first, AppIcon::placeholder(installed.name, installed.bundleID, 64).toImage());
    EXPECT_TRUE(waitUntil([&] { return !icons.loading(); }));
    const QImage loaded = icons.of(installed, 64).toImage();
    EXPECT_NE(loaded, first);
    EXPECT_EQ(loaded.size(), QSize(128, 128)); // 64 points at twice the pixels
}

TEST_F(IconTest, AnEmptyIconFileFallsBackToThePlaceholder)
{
    // This cask's bundle ships a zero-byte .icns.
    const QString bundle = unpack(u"homebrew-caffeine-with-plist.zip"_s) + u"/Caffeine.app"_s;
    ASSERT_TRUE(QFileInfo::exists(bundle + u"/Contents/Resources/Caffeine.icns"_s));
    EXPECT_FALSE(AppIcon::read(bundle).has_value());
}

TEST_F(IconTest, AnIconNameCannotLeaveTheBundle)
{
    // CFBundleIconFile naming a path outside Resources reads only Resources/<name>.
    const QString bundle = folder.filePath(u"Sly.app"_s);
    QDir().mkpath(bundle + u"/Contents/Resources"_s);
    const QString outside = folder.filePath(u"stolen.icns"_s);
    QFile::copy(unpack(u"sparkle-SparkleTestCodeSignApp.zip"_s)
            + u"/SparkleTestCodeSignApp.app/Contents/Resources/AppIcon.icns"_s,
        outside);
    QFile info(bundle + u"/Contents/Info.plist"_s);
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIconFile</key>"
               "<string>../../../stolen.icns</string></dict></plist>");
    info.close();
    EXPECT_FALSE(AppIcon::read(bundle).has_value());
}

TEST(Placeholder, IsStableAndDiffersBetweenApps)
{
    const QImage one = AppIcon::placeholder(u"Alpha"_s, u"com.example.alpha"_s, 40).toImage();
    EXPECT_EQ(one, AppIcon::placeholder(u"Alpha"_s, u"com.example.alpha"_s, 40).toImage());
    EXPECT_NE(one, AppIcon::placeholder(u"Beta"_s, u"com.example.beta"_s, 40).toImage());
    EXPECT_EQ(one.size(), QSize(80, 80));
}

} // namespace
