#pragma once

#include <QIcon>
#include <QImage>

namespace corvanta {

// Corvanta's own icon, drawn rather than shipped: a blue tile with a white
// arrow coming down into a tray. The menu bar, the windows and the Dock use it.
namespace Brand {
QImage icon(int pixels);
QIcon windowIcon();
} // namespace Brand

} // namespace corvanta
