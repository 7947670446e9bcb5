#include "views/Symbols.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Glyphs on a 24-point grid. "{c}" is the symbol's colour, "{k}" the
// knock-out drawn inside filled shapes.
const QHash<QString, QString>& glyphs()
{
    // A stroked outline in the symbol's colour, `width` points wide.
    const auto stroke = [](const char* width) -> QString {
        return u" fill=\"none\" stroke=\"{c}\" stroke-width=\""_s + QLatin1StringView(width)
            + u"\" stroke-linecap=\"round\" stroke-linejoin=\"round\""_s;
    };
    static const QString line = stroke("1.8");
    static const QString knock = u" fill=\"none\" stroke=\"{k}\" stroke-width=\"2\" stroke-linecap=\"round\" "
                                 u"stroke-linejoin=\"round\""_s;
    static const QString check = u"M7.5 12.3l3 3 6-6.3"_s;
    static const QString arrow = u"M12 7.5v9M8.2 12.8 12 16.6l3.8-3.8"_s;
    static const QString triangle = u"M10.3 3.9a2 2 0 0 1 3.4 0l8 13.7a2 2 0 0 1-1.7 3H4a2 2 0 0 1-1.7-3z"_s;
    static const QString eye = u"M2.5 12s3.5-6.5 9.5-6.5 9.5 6.5 9.5 6.5-3.5 6.5-9.5 6.5S2.5 12 2.5 12z"_s;
    static const QHash<QString, QString> table {
        { u"checkmark"_s, u"<path d=\"M5 12.5l4.5 4.5L19 7.5\""_s + stroke("2.3") + u"/>"_s },
        { u"clock"_s,
            u"<circle cx=\"12\" cy=\"12\" r=\"8.8\""_s + line + u"/><path d=\"M12 7.3V12l3.2 2.2\""_s + line
                + u"/>"_s },
        { u"xmark"_s, u"<path d=\"M6.5 6.5l11 11M17.5 6.5l-11 11\""_s + stroke("2") + u"/>"_s },
        { u"xmark.octagon.fill"_s,
            u"<path d=\"M8.4 2.6h7.2l5.8 5.8v7.2l-5.8 5.8H8.4l-5.8-5.8V8.4z\" fill=\"{c}\" stroke=\"{c}\" "
            u"stroke-linejoin=\"round\"/><path d=\"M9 9l6 6M15 9l-6 6\""_s
                + knock + u"/>"_s },
        { u"exclamationmark.triangle.fill"_s,
            u"<path d=\""_s + triangle + u"\" fill=\"{c}\"/><path d=\"M12 9v4.6\""_s + knock
                + u"/><circle cx=\"12\" cy=\"17.1\" r=\"1.25\" fill=\"{k}\"/>"_s },
        { u"exclamationmark.triangle"_s,
            u"<path d=\""_s + triangle + u"\""_s + line + u"/><path d=\"M12 9v4.6\""_s + line
                + u"/><circle cx=\"12\" cy=\"17.1\" r=\"1.15\" fill=\"{c}\"/>"_s },
        { u"eye.slash"_s,
            u"<path d=\""_s + eye + u"\""_s + line + u"/><circle cx=\"12\" cy=\"12\" r=\"3\""_s + line
                + u"/><path d=\"M4 4l16 16\""_s + line + u"/>"_s },
        { u"eye.slash.fill"_s,
            u"<path d=\""_s + eye
                + u"\" fill=\"{c}\"/><circle cx=\"12\" cy=\"12\" r=\"3.1\" fill=\"{k}\"/>"
                  u"<path d=\"M4 4l16 16\" stroke=\"{k}\" stroke-width=\"4.2\" stroke-linecap=\"round\"/>"
                  u"<path d=\"M4 4l16 16\""_s
                + stroke("2") + u"/>"_s },
        { u"arrow.down.circle"_s,
            u"<circle cx=\"12\" cy=\"12\" r=\"9\""_s + line + u"/><path d=\""_s + arrow + u"\""_s + line
                + u"/>"_s },
        { u"arrow.down.circle.fill"_s,
            u"<circle cx=\"12\" cy=\"12\" r=\"10\" fill=\"{c}\"/><path d=\""_s + arrow + u"\""_s + knock
                + u"/>"_s },
        { u"arrow.down.circle.dotted"_s,
            u"<circle cx=\"12\" cy=\"12\" r=\"9\""_s + line + u" stroke-dasharray=\"1.6 2.6\"/><path d=\""_s
                + arrow + u"\""_s + line + u"/>"_s },
        { u"lock.shield.fill"_s,
            u"<path d=\"M12 2.3l7.8 3.1v6.2c0 4.7-3.3 8.6-7.8 10.2-4.5-1.6-7.8-5.5-7.8-10.2V5.4z\" "
            u"fill=\"{c}\"/><rect x=\"8.9\" y=\"11\" width=\"6.2\" height=\"5.2\" rx=\"1.1\" fill=\"{k}\"/>"
            u"<path d=\"M10.1 11.2V9.7a1.9 1.9 0 0 1 3.8 0v1.5\" fill=\"none\" stroke=\"{k}\" "
            u"stroke-width=\"1.5\"/>"_s },
        { u"checkmark.circle.fill"_s,
            u"<circle cx=\"12\" cy=\"12\" r=\"10\" fill=\"{c}\"/><path d=\""_s + check + u"\""_s + knock
                + u"/>"_s },
        { u"checkmark.seal.fill"_s,
            u"<path d=\"M12.00 1.80 L14.25 3.60 L17.10 3.17 L18.15 5.85 L20.83 6.90 L20.40 9.75 L22.20 12.00 "
            u"L20.40 14.25 L20.83 17.10 L18.15 18.15 L17.10 20.83 L14.25 20.40 L12.00 22.20 L9.75 20.40 "
            u"L6.90 20.83 L5.85 18.15 L3.17 17.10 L3.60 14.25 L1.80 12.00 L3.60 9.75 L3.17 6.90 L5.85 5.85 "
            u"L6.90 3.17 L9.75 3.60Z\" fill=\"{c}\" stroke=\"{c}\" stroke-width=\"1.2\" "
            u"stroke-linejoin=\"round\"/><path d=\""_s
                + check + u"\""_s + knock + u"/>"_s },
        { u"square.grid.2x2"_s,
            u"<rect x=\"3.5\" y=\"3.5\" width=\"7\" height=\"7\" rx=\"2\""_s + line
                + u"/><rect x=\"13.5\" y=\"3.5\" width=\"7\" height=\"7\" rx=\"2\""_s + line
                + u"/><rect x=\"3.5\" y=\"13.5\" width=\"7\" height=\"7\" rx=\"2\""_s + line
                + u"/><rect x=\"13.5\" y=\"13.5\" width=\"7\" height=\"7\" rx=\"2\""_s + line + u"/>"_s },
        { u"envelope"_s,
            u"<rect x=\"3\" y=\"5.5\" width=\"18\" height=\"13\" rx=\"2.5\""_s + line
                + u"/><path d=\"M3.8 7l8.2 6 8.2-6\""_s + line + u"/>"_s },
        { u"icloud"_s,
            u"<path d=\"M7.2 18.5h10.3a4.1 4.1 0 0 0 .5-8.2 6 6 0 0 0-11.5-.6 4.4 4.4 0 0 0 .7 8.8z\""_s
                + line + u"/>"_s },
        { u"arrow.down.app"_s,
            u"<rect x=\"3.5\" y=\"3.5\" width=\"17\" height=\"17\" rx=\"4.5\""_s + line + u"/><path d=\""_s
                + arrow + u"\""_s + line + u"/>"_s },
        { u"magnifyingglass"_s,
            u"<circle cx=\"10.5\" cy=\"10.5\" r=\"6.2\""_s + stroke("2")
                + u"/>"
                  u"<path d=\"M15.2 15.2l5 5\""_s
                + stroke("2.2") + u"/>"_s },
        { u"arrow.clockwise"_s,
            u"<path d=\"M19 12a7 7 0 1 1 -2.1 -5\""_s + stroke("2") + u"/><path d=\"M17.6 3.3v4h-4\""_s
                + stroke("2") + u"/>"_s },
        { u"slider.horizontal.3"_s,
            u"<path d=\"M4 7h16M4 12h16M4 17h16\""_s + line
                + u"/><circle cx=\"9\" cy=\"7\" r=\"2.3\" fill=\"{c}\"/><circle cx=\"15.5\" cy=\"12\" "
                  u"r=\"2.3\" "
                  u"fill=\"{c}\"/><circle cx=\"7.5\" cy=\"17\" r=\"2.3\" fill=\"{c}\"/>"_s },
        { u"chevron.down"_s, u"<path d=\"M6.5 9.5 12 15l5.5-5.5\""_s + stroke("2") + u"/>"_s },
        { u"chevron.right"_s, u"<path d=\"M9.5 6.5 15 12l-5.5 5.5\""_s + stroke("2") + u"/>"_s },
        { u"ellipsis"_s,
            u"<circle cx=\"6\" cy=\"12\" r=\"1.7\" fill=\"{c}\"/><circle cx=\"12\" cy=\"12\" r=\"1.7\" "
            u"fill=\"{c}\"/><circle cx=\"18\" cy=\"12\" r=\"1.7\" fill=\"{c}\"/>"_s },
        { u"trash"_s,
            u"<path d=\"M4.5 6.5h15M9.5 6.5V4.9c0-.8.6-1.4 1.3-1.4h2.4c.7 0 1.3.6 1.3 1.4v1.6M6.6 6.5l.9 "
            u"12.2c.1 1 .9 1.8 1.9 1.8h5.2c1 0 1.8-.8 1.9-1.8l.9-12.2\""_s
                + line + u"/>"_s },
        { u"info.circle.fill"_s,
            u"<circle cx=\"12\" cy=\"12\" r=\"10\" fill=\"{c}\"/><path d=\"M12 11v5.5\""_s + knock
                + u"/><circle cx=\"12\" cy=\"7.6\" r=\"1.25\" fill=\"{k}\"/>"_s },
        { u"bell.badge"_s,
            u"<path d=\"M6 16.5V11a6 6 0 0 1 12 0v5.5l1.5 2h-15zM10 20.5a2 2 0 0 0 4 0\""_s + line
                + u"/>"_s },
    };
    return table;
}

QByteArray document(const QString& name, const QColor& color)
{
    QString body = glyphs().value(name);
    body.replace(u"{c}"_s, color.name(QColor::HexRgb));
    body.replace(u"{k}"_s, u"#ffffff"_s);
    const QString opacity = color.alpha() == 255 ? QString() : u" opacity=\"%1\""_s.arg(color.alphaF());
    return (u"<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\"><g"_s + opacity + u">"_s + body
        + u"</g></svg>"_s)
        .toUtf8();
}

} // namespace

bool Symbols::has(const QString& name)
{
    return glyphs().contains(name);
}

void Symbols::paint(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color)
{
    if (!has(name))
        return;
    QSvgRenderer renderer(document(name, color));
    renderer.render(&painter, rect);
}

QPixmap Symbols::pixmap(const QString& name, int size, const QColor& color, qreal ratio)
{
    static QHash<QString, QPixmap> cache;
    const QString key = name + u'|' + color.name(QColor::HexArgb) + u'|' + QString::number(size) + u'|'
        + QString::number(ratio);
    if (const auto found = cache.constFind(key); found != cache.constEnd())
        return *found;
    QPixmap result(QSize(size, size) * ratio);
    result.setDevicePixelRatio(ratio);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, name, QRectF(0, 0, size, size), color);
    painter.end();
    cache.insert(key, result);
    return result;
}

SymbolView::SymbolView(int size, QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SymbolView::setSymbol(const QString& symbol)
{
    if (m_symbol == symbol)
        return;
    m_symbol = symbol;
    update();
}

void SymbolView::setColor(std::function<QColor()> color)
{
    m_color = std::move(color);
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    if (m_symbol.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = m_color ? m_color() : palette().color(QPalette::WindowText);
    painter.drawPixmap(rect(), Symbols::pixmap(m_symbol, width(), color, devicePixelRatioF()));
}

} // namespace corvanta
