#include "platform/linux/X11Windows.h"

#include <cstring>

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

// A real X server (Xvfb) with no window manager: the test plays the window
// manager's part and keeps the EWMH properties itself, as a real one would.
class FullScreen : public testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(u"Xvfb"_s).isEmpty())
            GTEST_SKIP() << "Xvfb is not installed";
        // Xvfb picks a free display and writes its number to standard output once it serves.
        server.start(u"Xvfb"_s,
            { u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"800x600x24"_s, u"-nolisten"_s, u"tcp"_s });
        ASSERT_TRUE(server.waitForStarted());
        while (!server.canReadLine())
            ASSERT_TRUE(server.waitForReadyRead(30'000)) << "Xvfb gave no display";
        display = ":" + server.readLine().trimmed();
        connection = xcb_connect(display.constData(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection), 0);
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    }

    void TearDown() override
    {
        if (connection)
            xcb_disconnect(connection);
        server.kill();
        server.waitForFinished();
    }

    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t result = reply->atom;
        std::free(reply);
        return result;
    }

    xcb_window_t window(uint16_t width, uint16_t height)
    {
        const xcb_window_t id = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, id, root, 0, 0, width, height, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(connection, id);
        return id;
    }

    void set(xcb_window_t on, const char* property, xcb_atom_t type, std::vector<uint32_t> values)
    {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, on, atom(property), type, 32,
            static_cast<uint32_t>(values.size()), values.data());
        xcb_flush(connection);
    }

    QProcess server;
    QByteArray display;
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

TEST_F(FullScreen, TheActiveWindowOfAnotherAppInTheFullScreenState)
{
    const X11Windows windows(display);
    ASSERT_TRUE(windows.connected());
    EXPECT_FALSE(windows.fullScreenAppInFront()) << "no active window";

    const xcb_window_t small = window(300, 200);
    const xcb_window_t big = window(800, 600);
    set(small, "_NET_WM_PID", XCB_ATOM_CARDINAL, { 1 });
    set(big, "_NET_WM_PID", XCB_ATOM_CARDINAL, { 1 });
    const struct {
        const char* name;
        xcb_window_t active;
        bool fullState;
        uint32_t pid;
        bool inFront;
    } rows[] = {
        { "a small window", small, false, 1, false },
        { "a small window in the full-screen state", small, true, 1, true },
        { "a window the size of the screen", big, false, 1, true },
        { "our own full-screen window", small, true, static_cast<uint32_t>(::getpid()), false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        set(row.active, "_NET_WM_PID", XCB_ATOM_CARDINAL, { row.pid });
        set(row.active, "_NET_WM_STATE", XCB_ATOM_ATOM,
            row.fullState ? std::vector<uint32_t> { atom("_NET_WM_STATE_FULLSCREEN") }
                          : std::vector<uint32_t> {});
        set(root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, { row.active });
        EXPECT_EQ(windows.fullScreenAppInFront(), row.inFront);
    }
    EXPECT_FALSE(X11Windows(QByteArray()).fullScreenAppInFront());
}

} // namespace
