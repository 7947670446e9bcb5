#pragma once

#include <QDBusConnection>

namespace corvanta::DesktopSettings {

// The desktop asks for less motion: GNOME's animations switched off, or
// KDE's animation speed set to instant, as the desktop portal reports them
// on `bus`. No portal, or no answer within a moment, reads as no.
bool reduceMotion(const QDBusConnection& bus = QDBusConnection::sessionBus());

} // namespace corvanta::DesktopSettings
