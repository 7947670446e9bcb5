#pragma once

#include "platform/Permissions.h"

namespace corvanta::test {

// The permissions as a test says they are (Linux has none to ask for).
class ScriptedPermissions : public Permissions {
public:
    State appManagement() const override
    {
        ++probes;
        return state;
    }
    State accessibility() const override { return accessibilityState; }
    QCoro::Task<Notifications> notifications() const override { co_return Notifications::authorized; }

    State state = State::denied;
    State accessibilityState = State::unknown;
    mutable int probes = 0;
};

} // namespace corvanta::test
