#include "views/text/MenuIcon.h"

#include <QColor>

#include <gtest/gtest.h>

namespace corvanta::test {
extern bool needsGuiApplication;
} // namespace corvanta::test

namespace {

// The badge's digits are drawn in the system font.
const bool paints = (corvanta::test::needsGuiApplication = true);

using namespace corvanta;
using namespace Qt::StringLiterals;

constexpr qreal ratio = 2;

QImage blueIcon()
{
    QImage icon(64, 64, QImage::Format_ARGB32_Premultiplied);
    icon.fill(QColor(0, 0, 255));
    return icon;
}

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 120 && qBlue(pixel) < 120;
}
bool isWhite(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
}

// What the rendered image shows, in points: its size and the red badge's extent.
struct Measured {
    qreal width = 0;
    qreal height = 0;
    qreal badgeLeft = 0;
    qreal badgeWidth = 0;
    int whitePixels = 0;
};

Measured measure(const QImage& image)
{
    Measured result;
    result.width = image.width() / image.devicePixelRatio();
    result.height = image.height() / image.devicePixelRatio();
    int first = -1;
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb pixel = image.pixel(x, y);
            if (isRed(pixel)) {
                if (first < 0)
                    first = x;
                last = x;
            }
            if (isWhite(pixel))
                ++result.whitePixels;
        }
    }
    if (first >= 0) {
        result.badgeLeft = first / image.devicePixelRatio();
        result.badgeWidth = (last - first + 1) / image.devicePixelRatio();
    }
    return result;
}

TEST(MenuIcon, BadgeTexts)
{
    EXPECT_EQ(MenuIcon::badgeText(0), QString());
    EXPECT_EQ(MenuIcon::badgeText(-3), QString());
    EXPECT_EQ(MenuIcon::badgeText(1), u"1"_s);
    EXPECT_EQ(MenuIcon::badgeText(9), u"9"_s);
    EXPECT_EQ(MenuIcon::badgeText(10), u"9+"_s);
    EXPECT_EQ(MenuIcon::badgeText(120), u"9+"_s);
    EXPECT_EQ(MenuIcon::badgeWidth(3), 11);
    EXPECT_EQ(MenuIcon::badgeWidth(6), 11);
    EXPECT_EQ(MenuIcon::badgeWidth(9.5), 14.5);
}

TEST(MenuIcon, NoUpdatesIsTheIconAlone)
{
    ASSERT_TRUE(paints);
    const QImage image = MenuIcon::image(0, blueIcon(), ratio);
    const Measured seen = measure(image);
    EXPECT_EQ(seen.width, 18);
    EXPECT_EQ(seen.height, 18);
    EXPECT_EQ(seen.badgeWidth, 0);
    EXPECT_EQ(QColor(image.pixel(18, 18)), QColor(0, 0, 255));
}

TEST(MenuIcon, RenderedBadgeAndImageWidths)
{
    std::map<int, Measured> seen;
    for (int count : { 1, 9, 10, 120 }) {
        SCOPED_TRACE(count);
        const QImage image = MenuIcon::image(count, blueIcon(), ratio);
        const Measured measured = measure(image);
        const MenuIcon::Layout layout = MenuIcon::layout(count, ratio);
        // The badge is the text's width plus 5 points, at least 11.
        EXPECT_GE(measured.badgeWidth, 11 - 0.75);
        EXPECT_NEAR(measured.badgeWidth, std::max(layout.textWidth + 5, 11.0), 0.75); // antialiased ends
        // The image is 18 points plus 0.55 of the badge, 18 high, the badge at its right edge.
        EXPECT_NEAR(measured.width, 18 + 0.55 * measured.badgeWidth, 0.75);
        EXPECT_EQ(measured.height, 18);
        EXPECT_NEAR(measured.badgeLeft + measured.badgeWidth, measured.width, 0.5);
        // The count is written on it, in white.
        EXPECT_GT(measured.whitePixels, 10);
        seen[count] = measured;
        RecordProperty("widths" + std::to_string(count),
            std::to_string(measured.badgeWidth) + " badge, " + std::to_string(measured.width) + " image");
    }
    // One digit fits the round badge; "9+" is wider, and the same for 10 and 120.
    EXPECT_EQ(seen[1].badgeWidth, seen[9].badgeWidth);
    EXPECT_NEAR(seen[1].badgeWidth, 11, 0.75);
    EXPECT_GT(seen[10].badgeWidth, seen[9].badgeWidth);
    EXPECT_EQ(seen[10].badgeWidth, seen[120].badgeWidth);
    EXPECT_EQ(seen[10].width, seen[120].width);
    EXPECT_GT(seen[10].width, seen[9].width);
}

} // namespace
