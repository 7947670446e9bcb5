#pragma once

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>

namespace corvanta {

// The menu-bar icon: the program's own icon at 18 × 18 points, and with
// updates a red badge with their count ("9+" above 9) over its right side.
// Painting text needs a running QGuiApplication (the font database).
namespace MenuIcon {

constexpr qreal iconSize = 18; // points
constexpr qreal fontSize = 8.5; // points, heavy
constexpr qreal badgeHeight = 11; // points: a circle for one digit
constexpr qreal badgePadding = 5; // points added to the text's width
constexpr qreal badgeOverhang = 0.55; // of the badge's width, beyond the icon

// "" below 1, the count below 10, else "9+".
QString badgeText(int count);
// The badge for text `textWidth` points wide: the text plus 5, at least 11.
qreal badgeWidth(qreal textWidth);

// Where things go, in points, for `count` drawn at `ratio` device pixels per point.
struct Layout {
    QString text; // empty: no badge
    qreal textWidth = 0;
    qreal badgeWidth = 0;
    QSizeF size; // the whole image
    QRectF badge;
};
Layout layout(int count, qreal ratio = 2);

// The badge's font at `ratio`: the system font, 8.5 points, heavy; sized in
// device pixels, so that 8.5 points are exact at twice the resolution.
QFont badgeFont(qreal ratio);

// The image for `count`, `icon` scaled to 18 × 18 points under the badge,
// at `ratio` device pixels per point (its devicePixelRatio says so).
QImage image(int count, const QImage& icon, qreal ratio = 2);

} // namespace MenuIcon

} // namespace corvanta
