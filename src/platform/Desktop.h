#pragma once

#include <functional>
#include <memory>

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

namespace corvanta {

// What the notch alerts observe of the desktop: this application's windows,
// the screens and their notches, other applications in the way, and the
// moments the user comes back (unlock, wake).
class Desktop {
public:
    // One of this application's own windows.
    struct Window {
        QString title;
        bool visible = false;
        bool minimized = false;
        bool normalLevel = true; // not floating above other windows
    };

    struct Screen {
        QString name;
        QRect frame;
        // The notch: the width between the two top areas beside it and the
        // height of the top inset. Empty on a screen without one.
        QSize notch;
        bool underPointer = false;
        bool primary = false;

        bool hasNotch() const { return notch.width() > 0 && notch.height() > 0; }
        friend bool operator==(const Screen&, const Screen&) = default;
    };

    virtual ~Desktop() = default;

    virtual QList<Window> windows() const = 0;
    // This application is the active one, taking keyboard focus.
    virtual bool active() const = 0;
    // The frontmost application is another one and shows a window exactly
    // the size of a screen.
    virtual bool fullScreenAppInFront() const = 0;
    virtual QList<Screen> screens() const = 0;
    // A window of another application overlaps `area` (screen coordinates).
    virtual bool occupied(const QRect& area) const = 0;
    // Calls `handler` on the main thread each time the screen is unlocked
    // or the machine wakes from sleep, for as long as this object lives.
    virtual void watchWake(std::function<void()> handler) = 0;

    static std::unique_ptr<Desktop> create();
};

} // namespace corvanta
