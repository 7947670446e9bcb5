#include "views/Look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Colors& current()
{
    static Colors colors = Colors::light();
    return colors;
}

// Inter reads calmly at small sizes; the desktop's own face otherwise.
QString family()
{
    static const QString chosen = [] {
        const QStringList families = QFontDatabase::families();
        for (const QString& wanted : { u"Inter"_s, u"SF Pro Text"_s, u"Cantarell"_s }) {
            if (families.contains(wanted))
                return wanted;
        }
        return QApplication::font().family();
    }();
    return chosen;
}

// Fusion with our check boxes: a rounded square, filled with the accent and
// a white tick when checked.
class LookStyle : public QProxyStyle {
public:
    LookStyle()
        : QProxyStyle(QStyleFactory::create(u"Fusion"_s))
    {
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override
    {
        if (element == PE_FrameFocusRect)
            return; // focus shows as the accent border the style sheet draws
        if (element != PE_IndicatorCheckBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const Colors& c = Look::colors();
        const bool on = option->state & State_On;
        const bool focused = option->state & State_HasFocus;
        const QRectF box = QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(focused ? c.accent : (on ? c.accent : c.tertiary), focused ? 2 : 1));
        painter->setBrush(on ? c.accent : c.card);
        painter->drawRoundedRect(box, 4, 4);
        if (on) {
            QPainterPath tick;
            tick.moveTo(box.left() + box.width() * 0.24, box.top() + box.height() * 0.52);
            tick.lineTo(box.left() + box.width() * 0.43, box.top() + box.height() * 0.70);
            tick.lineTo(box.left() + box.width() * 0.77, box.top() + box.height() * 0.32);
            painter->setPen(QPen(c.onAccent, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(tick);
        }
        painter->restore();
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight)
            return 18;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// The desktop's palette as the application started, before ours replaced it.
bool startedDark()
{
    static const bool dark = QApplication::palette().color(QPalette::Window).lightness() < 128;
    return dark;
}

QString css(const QColor& color)
{
    if (color.alpha() == 255)
        return color.name(QColor::HexRgb);
    return u"rgba(%1, %2, %3, %4)"_s.arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}

} // namespace

Colors Colors::light()
{
    Colors c;
    c.dark = false;
    c.window = QColor(0xF4, 0xF4, 0xF6);
    c.card = QColor(0xFF, 0xFF, 0xFF);
    c.cardHover = QColor(0xFA, 0xFA, 0xFC);
    c.border = QColor(0xE3, 0xE3, 0xE8);
    c.text = QColor(0x1D, 0x1D, 0x1F);
    c.secondary = QColor(0x6E, 0x6E, 0x73);
    c.tertiary = QColor(0xA1, 0xA1, 0xA6);
    c.accent = QColor(0x00, 0x71, 0xE3);
    c.onAccent = QColor(0xFF, 0xFF, 0xFF);
    c.green = QColor(0x28, 0xA7, 0x45);
    c.orange = QColor(0xE8, 0x86, 0x00);
    c.red = QColor(0xE5, 0x3A, 0x30);
    c.control = QColor(0xEC, 0xEC, 0xF0);
    c.controlHover = QColor(0xE2, 0xE2, 0xE7);
    c.track = QColor(0xE6, 0xE6, 0xEB);
    return c;
}

Colors Colors::darkColors()
{
    Colors c;
    c.dark = true;
    c.window = QColor(0x16, 0x16, 0x18);
    c.card = QColor(0x23, 0x23, 0x26);
    c.cardHover = QColor(0x29, 0x29, 0x2C);
    c.border = QColor(0x33, 0x33, 0x37);
    c.text = QColor(0xF2, 0xF2, 0xF5);
    c.secondary = QColor(0x9B, 0x9B, 0xA1);
    c.tertiary = QColor(0x6A, 0x6A, 0x70);
    c.accent = QColor(0x2F, 0x8C, 0xFF);
    c.onAccent = QColor(0xFF, 0xFF, 0xFF);
    c.green = QColor(0x32, 0xD1, 0x5D);
    c.orange = QColor(0xFF, 0xA4, 0x1F);
    c.red = QColor(0xFF, 0x5A, 0x4F);
    c.control = QColor(0x32, 0x32, 0x36);
    c.controlHover = QColor(0x3C, 0x3C, 0x41);
    c.track = QColor(0x38, 0x38, 0x3D);
    return c;
}

const Colors& Look::colors()
{
    return current();
}

QColor Look::tint(Tint tint)
{
    const Colors& c = current();
    switch (tint) {
    case Tint::accent:
        return c.accent;
    case Tint::orange:
        return c.orange;
    case Tint::red:
        return c.red;
    case Tint::green:
        return c.green;
    case Tint::secondary:
        return c.secondary;
    }
    return c.secondary;
}

QFont Look::font(qreal points, QFont::Weight weight)
{
    QFont font(family());
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QColor Look::mix(const QColor& under, const QColor& over, qreal amount)
{
    const auto blend = [amount](int a, int b) { return int(a + (b - a) * amount + 0.5); };
    return QColor(
        blend(under.red(), over.red()), blend(under.green(), over.green()), blend(under.blue(), over.blue()));
}

bool Look::systemIsDark()
{
    return startedDark();
}

Look& Look::notifier()
{
    static Look look;
    return look;
}

QString Look::styleSheet(const Colors& c)
{
    QString sheet = uR"(
QWidget { color: @text; }
QMainWindow, QDialog, QWidget#Window { background: @window; }
QLabel { background: transparent; }
QLabel[role="secondary"] { color: @secondary; }
QToolTip { background: @card; color: @text; border: 1px solid @border; border-radius: 6px; padding: 5px 8px; }

QPushButton { background: @control; color: @text; border: 2px solid transparent; border-radius: 8px;
  padding: 4px 12px; min-height: 20px; font-weight: 500; }
QPushButton:hover { background: @controlHover; }
QPushButton:focus { border-color: @focus; }
QPushButton:disabled { color: @tertiary; }
QPushButton[role="primary"] { background: @accent; color: @onAccent; font-weight: 600; }
QPushButton[role="primary"]:hover { background: @accentHover; }
QPushButton[role="primary"]:disabled { background: @accentDisabled; color: @onAccentDisabled; }
QPushButton[role="link"] { background: transparent; color: @accent; padding: 2px 4px; }
QPushButton[role="link"]:hover { text-decoration: underline; }
QPushButton[role="chip"] { border-radius: 15px; padding: 4px 12px 4px 10px; background: @card;
  border: 1px solid @border; }
QPushButton[role="chip"]:hover { background: @cardHover; }
QPushButton[role="chip"]:checked { background: @accent; color: @onAccent; border-color: @accent; }
QPushButton[role="chip"]:focus { border: 2px solid @focus; }
QPushButton[role="danger"] { background: @red; color: @onAccent; font-weight: 600; }

QLineEdit { background: @card; color: @text; border: 1px solid @border; border-radius: 9px;
  padding: 6px 10px; selection-background-color: @accent; selection-color: @onAccent; }
QLineEdit:focus { border: 2px solid @focus; padding: 5px 9px; }
QLineEdit#search { padding-left: 32px; }
QLineEdit#search:focus { padding-left: 31px; }

QFrame#card { background: @card; border: 1px solid @border; border-radius: 14px; }
QFrame#card[selected="true"] { border: 2px solid @focus; }
QFrame#hero { background: @card; border: 1px solid @border; border-radius: 18px; }
QFrame#banner { background: @bannerFill; border: 1px solid @bannerLine; border-radius: 12px; }
QFrame#warning { background: @warningFill; border: 1px solid @warningLine; border-radius: 12px; }
QFrame#separator { background: @border; max-height: 1px; min-height: 1px; border: none; }
QFrame#group { background: @card; border: 1px solid @border; border-radius: 12px; }

QScrollArea { background: transparent; border: none; }
QScrollArea > QWidget > QWidget { background: transparent; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }
QScrollBar::handle:vertical { background: @track; border-radius: 3px; min-height: 32px; }
QScrollBar::handle:vertical:hover { background: @tertiary; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }

QMenuBar { background: @window; color: @text; }
QMenuBar::item:selected { background: @control; border-radius: 4px; }
QMenu { background: @card; color: @text; border: 1px solid @border; border-radius: 8px; padding: 5px; }
QMenu::item { padding: 5px 22px 5px 14px; border-radius: 5px; }
QMenu::item:selected { background: @accent; color: @onAccent; }
QMenu::item:disabled { color: @tertiary; }
QMenu::separator { height: 1px; background: @border; margin: 4px 8px; }

QCheckBox { spacing: 8px; background: transparent; }

QComboBox, QSpinBox { background: @card; border: 1px solid @border; border-radius: 7px; padding: 4px 8px;
  min-height: 20px; color: @text; }
QComboBox:focus, QSpinBox:focus { border: 2px solid @focus; padding: 3px 7px; }
QComboBox::drop-down { border: none; width: 20px; }
QComboBox QAbstractItemView { background: @card; color: @text; border: 1px solid @border;
  selection-background-color: @accent; selection-color: @onAccent; outline: none; }
QTextBrowser { background: transparent; border: none; color: @text; }
)"_s;
    QColor focus = c.accent;
    focus.setAlpha(170);
    QColor accentDisabled = c.accent;
    accentDisabled.setAlpha(90);
    QColor onAccentDisabled = c.onAccent;
    onAccentDisabled.setAlpha(170);
    const QList<std::pair<QString, QColor>> tokens {
        { u"@accentHover"_s, c.dark ? c.accent.lighter(112) : c.accent.darker(110) },
        { u"@accentDisabled"_s, accentDisabled },
        { u"@onAccentDisabled"_s, onAccentDisabled },
        { u"@onAccent"_s, c.onAccent },
        { u"@accent"_s, c.accent },
        { u"@focus"_s, focus },
        { u"@window"_s, c.window },
        { u"@cardHover"_s, c.cardHover },
        { u"@card"_s, c.card },
        { u"@border"_s, c.border },
        { u"@text"_s, c.text },
        { u"@secondary"_s, c.secondary },
        { u"@tertiary"_s, c.tertiary },
        { u"@controlHover"_s, c.controlHover },
        { u"@control"_s, c.control },
        { u"@track"_s, c.track },
        { u"@red"_s, c.red },
        { u"@bannerFill"_s, mix(c.card, c.accent, c.dark ? 0.14 : 0.07) },
        { u"@bannerLine"_s, mix(c.card, c.accent, c.dark ? 0.35 : 0.25) },
        { u"@warningFill"_s, mix(c.card, c.orange, c.dark ? 0.14 : 0.08) },
        { u"@warningLine"_s, mix(c.card, c.orange, c.dark ? 0.35 : 0.3) },
    };
    for (const auto& [token, color] : tokens)
        sheet.replace(token, css(color));
    return sheet;
}

void Look::apply(Appearance appearance)
{
    startedDark(); // remember the desktop's own palette before replacing it
    const bool dark = appearance == Appearance::dark || (appearance == Appearance::system && systemIsDark());
    current() = dark ? Colors::darkColors() : Colors::light();
    const Colors& c = current();

    // Fusion draws the same everywhere and takes the palette fully.
    static bool styled = false;
    if (!styled) {
        QApplication::setStyle(new LookStyle);
        styled = true;
    }

    QPalette palette;
    palette.setColor(QPalette::Window, c.window);
    palette.setColor(QPalette::WindowText, c.text);
    palette.setColor(QPalette::Base, c.card);
    palette.setColor(QPalette::AlternateBase, c.cardHover);
    palette.setColor(QPalette::Text, c.text);
    palette.setColor(QPalette::Button, c.control);
    palette.setColor(QPalette::ButtonText, c.text);
    palette.setColor(QPalette::Highlight, c.accent);
    palette.setColor(QPalette::HighlightedText, c.onAccent);
    palette.setColor(QPalette::ToolTipBase, c.card);
    palette.setColor(QPalette::ToolTipText, c.text);
    palette.setColor(QPalette::PlaceholderText, c.tertiary);
    palette.setColor(QPalette::Link, c.accent);
    palette.setColor(QPalette::Mid, c.border);
    palette.setColor(QPalette::Dark, c.border);
    palette.setColor(QPalette::Disabled, QPalette::Text, c.tertiary);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, c.tertiary);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, c.tertiary);
    QApplication::setPalette(palette);
    QApplication::setFont(font(10));
    qApp->setStyleSheet(styleSheet(c));
    Q_EMIT notifier().changed();
}

} // namespace corvanta
