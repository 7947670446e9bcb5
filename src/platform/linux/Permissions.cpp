#include "platform/Permissions.h"

#include "platform/Notifier.h"

#include <QGuiApplication>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Linux guards no app folders behind a privacy permission, so App
// Management is what the system can't tell. Notifications need no consent,
// but they need a notification server to show them.
class LinuxPermissions : public Permissions {
public:
    State appManagement() const override { return State::unknown; }

    // X11 shows every client the other windows without asking; Wayland shows
    // none and has nothing to grant, so the state is unknown there.
    State accessibility() const override
    {
        if (QGuiApplication::platformName() == u"xcb"_s)
            return State::granted;
        return State::unknown;
    }

    QCoro::Task<Notifications> notifications() const override
    {
        const std::unique_ptr<Notifier> notifier = Notifier::create();
        QCoro::Task<Notifications> asking = notifier->requestAuthorization();
        co_return co_await std::move(asking);
    }
};

} // namespace

std::unique_ptr<Permissions> Permissions::create()
{
    return std::make_unique<LinuxPermissions>();
}

} // namespace corvanta
