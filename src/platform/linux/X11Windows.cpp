#include "platform/linux/X11Windows.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>

namespace corvanta {

namespace {

template<typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template<typename T> Reply<T> owned(T* reply)
{
    return Reply<T>(reply, &std::free);
}

// The 32-bit values of a window property; empty when it is absent.
std::vector<uint32_t> cardinals(
    xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    const auto reply = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 64), nullptr));
    if (!reply || reply->format != 32)
        return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return { values, values + xcb_get_property_value_length(reply.get()) / 4 };
}

} // namespace

X11Windows::X11Windows(const QByteArray& display)
{
    if (display.isEmpty())
        return;
    m_connection = xcb_connect(display.constData(), &m_screen);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
}

X11Windows::~X11Windows()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

unsigned X11Windows::atom(const char* name) const
{
    const auto reply = owned(xcb_intern_atom_reply(m_connection,
        xcb_intern_atom(m_connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : static_cast<unsigned>(XCB_ATOM_NONE);
}

bool X11Windows::fullScreenAppInFront() const
{
    if (!m_connection)
        return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < m_screen && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return false;
    const xcb_screen_t* screen = screens.data;
    const std::vector<uint32_t> active
        = cardinals(m_connection, screen->root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (active.empty() || active.front() == XCB_WINDOW_NONE)
        return false;
    const xcb_window_t window = active.front();
    // Our own windows never count: the question is about another app.
    const std::vector<uint32_t> pid = cardinals(m_connection, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (!pid.empty() && pid.front() == static_cast<uint32_t>(::getpid()))
        return false;
    const xcb_atom_t fullScreen = atom("_NET_WM_STATE_FULLSCREEN");
    for (const uint32_t state : cardinals(m_connection, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM)) {
        if (state == fullScreen && fullScreen != XCB_ATOM_NONE)
            return true;
    }
    const auto geometry
        = owned(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    return geometry && geometry->width == screen->width_in_pixels
        && geometry->height == screen->height_in_pixels;
}

} // namespace corvanta
