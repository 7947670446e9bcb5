#pragma once

#include "account/CloudConfig.h"
#include "account/Session.h"

namespace corvanta {

// The library client: the settings it talks to and the signed-in session it
// talks as, its ID token fresh when it was handed out.
struct Cloud {
    CloudConfig config;
    Session session;
};

} // namespace corvanta
