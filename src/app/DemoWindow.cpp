#include "app/DemoWindow.h"

namespace corvanta {

// HOOK: no window is built into the command line yet; the demo runs headless.
QCoro::Task<std::optional<int>> openDemoWindow(const DemoSession&)
{
    co_return std::nullopt;
}

} // namespace corvanta
