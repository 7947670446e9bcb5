#pragma once

#include <functional>

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QPainter;

namespace corvanta {

// The small line and filled glyphs the interface names by symbol
// ("checkmark", "xmark.octagon.fill", …), drawn from vector paths in any colour.
namespace Symbols {
// Whether `name` is one of the drawn symbols.
bool has(const QString& name);
// Draws `name` into `rect`; unknown names draw nothing.
void paint(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color);
// The symbol as a pixmap of `size` logical pixels at `ratio`.
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal ratio = 2);
} // namespace Symbols

// A symbol as a widget, in a colour chosen at paint time so that it follows the look.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    explicit SymbolView(int size, QWidget* parent = nullptr);

    const QString& symbol() const { return m_symbol; }
    void setSymbol(const QString& symbol);
    // A fixed colour; without one the palette's text colour is used.
    void setColor(std::function<QColor()> color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    std::function<QColor()> m_color;
};

} // namespace corvanta
