#pragma once

#include "app/Cli.h"

namespace corvanta::commands {

// One function per command; each file under app/ named after its command.
QCoro::Task<int> inspectVersion(CliContext& context);

} // namespace corvanta::commands
