#pragma once

#include "install/InstallPhase.h"
#include "model/Route.h"

#include <QString>

namespace corvanta {

// How the command line names a restore's phases and routes.
QString phaseName(const InstallPhase& phase);
// "install from Homebrew cask 2.0 <url>, then …", "App Store <link>" or
// "get it yourself <page>: reason".
QString routeText(const Route& route);

} // namespace corvanta
