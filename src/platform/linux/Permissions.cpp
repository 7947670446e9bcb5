#include "platform/Permissions.h"

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Linux guards no app folders behind a privacy permission, so App
// Management is what the system can't tell; notifications need no consent.
class LinuxPermissions : public Permissions {
public:
    State appManagement() const override { return State::unknown; }
    QCoro::Task<Notifications> notifications() const override { co_return Notifications::authorized; }
};

} // namespace

std::unique_ptr<Permissions> Permissions::create()
{
    return std::make_unique<LinuxPermissions>();
}

} // namespace corvanta
