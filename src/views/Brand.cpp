#include "views/Brand.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace corvanta {

QImage Brand::icon(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = pixels;
    const qreal inset = s * 0.06;
    const QRectF tile(inset, inset, s - 2 * inset, s - 2 * inset);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, QColor(0x3D, 0x9B, 0xFF));
    fill.setColorAt(1, QColor(0x1A, 0x4F, 0xD6));
    QPainterPath shape;
    shape.addRoundedRect(tile, tile.width() * 0.24, tile.width() * 0.24);
    painter.fillPath(shape, fill);

    QPen pen(Qt::white, std::max(1.5, s * 0.085), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal cx = s / 2;
    // The arrow.
    painter.drawLine(QPointF(cx, s * 0.24), QPointF(cx, s * 0.56));
    QPainterPath head;
    head.moveTo(cx - s * 0.14, s * 0.43);
    head.lineTo(cx, s * 0.57);
    head.lineTo(cx + s * 0.14, s * 0.43);
    painter.drawPath(head);
    // The tray it lands in.
    QPainterPath tray;
    tray.moveTo(s * 0.26, s * 0.60);
    tray.lineTo(s * 0.26, s * 0.72);
    tray.lineTo(s * 0.74, s * 0.72);
    tray.lineTo(s * 0.74, s * 0.60);
    painter.drawPath(tray);
    return image;
}

QIcon Brand::windowIcon()
{
    QIcon result;
    for (int size : { 16, 32, 64, 128, 256 })
        result.addPixmap(QPixmap::fromImage(icon(size)));
    return result;
}

} // namespace corvanta
