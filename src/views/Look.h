#pragma once

#include "model/Prefs.h"
#include "views/text/StatusCard.h"

#include <QColor>
#include <QFont>
#include <QObject>

namespace corvanta {

// The colours every view draws with, for one appearance.
struct Colors {
    bool dark = false;
    QColor window; // behind everything
    QColor card; // raised surfaces: cards, the hero, dialogs' lists
    QColor cardHover;
    QColor border; // hairlines around raised surfaces
    QColor text;
    QColor secondary; // smaller, quieter text
    QColor tertiary; // placeholders, disabled
    QColor accent;
    QColor onAccent; // text on the accent colour
    QColor green;
    QColor orange;
    QColor red;
    QColor control; // the fill of plain buttons and chips
    QColor controlHover;
    QColor track; // the empty part of rings and bars

    static Colors light();
    static Colors darkColors();
};

// The application's appearance: a palette, a small style sheet and the
// colours views paint with. Applied once at launch and again when the
// theme changes; views repaint on the palette change Qt sends them.
class Look : public QObject {
    Q_OBJECT

public:
    // The look in force; light until apply() runs.
    static const Colors& colors();
    static QColor tint(Tint tint);
    // The interface font at `points`, in `weight`.
    static QFont font(qreal points, QFont::Weight weight = QFont::Normal);

    // Sets the palette and style sheet of the running application.
    static void apply(Appearance appearance);
    // Whether the desktop itself is dark, for the `system` appearance.
    static bool systemIsDark();
    // The style sheet for `colors`; exposed for tests of the widgets' states.
    static QString styleSheet(const Colors& colors);
    // Blends `over` onto `under` with `amount` of `over`.
    static QColor mix(const QColor& under, const QColor& over, qreal amount);

    // Announces every apply(), for views that keep colour-dependent caches.
    static Look& notifier();

Q_SIGNALS:
    void changed();
};

} // namespace corvanta
