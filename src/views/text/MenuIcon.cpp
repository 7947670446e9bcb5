#include "views/text/MenuIcon.h"

#include <algorithm>
#include <cmath>

#include <QColor>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace corvanta::MenuIcon {

namespace {

// The system's red, as the menu bar draws it.
const QColor systemRed(255, 59, 48);

} // namespace

QString badgeText(int count)
{
    if (count < 1)
        return {};
    return count < 10 ? QString::number(count) : u"9+"_s;
}

qreal badgeWidth(qreal textWidth)
{
    return std::max(textWidth + badgePadding, badgeHeight);
}

QFont badgeFont(qreal ratio)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(std::max(1, int(std::lround(fontSize * ratio))));
    font.setWeight(QFont::ExtraBold);
    return font;
}

Layout layout(int count, qreal ratio)
{
    Layout result;
    result.text = badgeText(count);
    if (result.text.isEmpty()) {
        result.size = QSizeF(iconSize, iconSize);
        return result;
    }
    result.textWidth = QFontMetricsF(badgeFont(ratio)).horizontalAdvance(result.text) / ratio;
    result.badgeWidth = badgeWidth(result.textWidth);
    result.size = QSizeF(iconSize + badgeOverhang * result.badgeWidth, iconSize);
    result.badge = QRectF(result.size.width() - result.badgeWidth, 0, result.badgeWidth, badgeHeight);
    return result;
}

QImage image(int count, const QImage& icon, qreal ratio)
{
    const Layout where = layout(count, ratio);
    QImage result(int(std::ceil(where.size.width() * ratio)), int(std::ceil(where.size.height() * ratio)),
        QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    {
        QPainter painter(&result);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const qreal side = iconSize * ratio;
        if (!icon.isNull())
            painter.drawImage(QRectF(0, 0, side, side), icon);
        if (!where.text.isEmpty()) {
            const QRectF badge(where.badge.x() * ratio, where.badge.y() * ratio, where.badge.width() * ratio,
                where.badge.height() * ratio);
            QPainterPath pill;
            pill.addRoundedRect(badge, badge.height() / 2, badge.height() / 2);
            painter.fillPath(pill, systemRed);
            painter.setFont(badgeFont(ratio));
            painter.setPen(Qt::white);
            painter.drawText(badge, Qt::AlignCenter, where.text);
        }
    }
    result.setDevicePixelRatio(ratio);
    return result;
}

} // namespace corvanta::MenuIcon
