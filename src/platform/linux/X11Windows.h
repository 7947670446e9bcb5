#pragma once

#include <QByteArray>

struct xcb_connection_t;

namespace corvanta {

// What the window manager of an X11 display says about other programs'
// windows, through the EWMH properties it keeps on the root window and on
// each window. A display that can't be opened answers no to everything.
class X11Windows {
public:
    // `display` as DISPLAY gives it; empty: no display.
    explicit X11Windows(const QByteArray& display);
    ~X11Windows();
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    bool connected() const { return m_connection != nullptr; }
    // The active window (_NET_ACTIVE_WINDOW) belongs to another process and
    // is full screen: in the _NET_WM_STATE_FULLSCREEN state, or exactly the
    // size of the screen.
    bool fullScreenAppInFront() const;

private:
    unsigned atom(const char* name) const;

    xcb_connection_t* m_connection = nullptr;
    int m_screen = 0;
};

} // namespace corvanta
