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

QImage blueIcon()
{
    QImage icon(64, 64, QImage::Format_ARGB32_Premultiplied);
    icon.fill(QColor(0, 0, 255));
    return icon;
}

// Red badge pixels and white digit pixels in the rendered icon.
std::pair<int, int> badgeAndDigits(const QImage& image)
{
    int red = 0;
    int white = 0;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb pixel = image.pixel(x, y);
            red += qRed(pixel) > 200 && qGreen(pixel) < 120 && qBlue(pixel) < 120;
            white += qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
        }
    }
    return { red, white };
}

// The badge counts up to nine and says "9+" past that; no updates, no badge,
// and the icon alone. Its geometry is for the eye, not for a test.
TEST(MenuIcon, BadgeCountsUpdates)
{
    ASSERT_TRUE(paints);
    const std::vector<std::pair<int, QString>> rows { { -3, {} }, { 0, {} }, { 1, u"1"_s }, { 9, u"9"_s },
        { 10, u"9+"_s }, { 120, u"9+"_s } };
    for (const auto& [count, text] : rows) {
        SCOPED_TRACE(count);
        EXPECT_EQ(MenuIcon::badgeText(count), text);
        const QImage image = MenuIcon::image(count, blueIcon(), 2);
        const auto [red, white] = badgeAndDigits(image);
        EXPECT_EQ(red > 0, !text.isEmpty());
        EXPECT_EQ(white > 10, !text.isEmpty());
        if (text.isEmpty()) {
            EXPECT_EQ(QColor(image.pixel(18, 18)), QColor(0, 0, 255));
        }
    }
    // "9+" needs a wider badge than one digit.
    EXPECT_GT(MenuIcon::image(10, blueIcon(), 2).width(), MenuIcon::image(9, blueIcon(), 2).width());
}

} // namespace
