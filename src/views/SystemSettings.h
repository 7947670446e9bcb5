#pragma once

#include <QUrl>

namespace corvanta {

// Deep links into the system's settings, opened by the permission row and blocked rows.
namespace SystemSettings {
// System Settings › Privacy & Security › App Management.
inline QUrl appManagement()
{
    return QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AppBundles"));
}
} // namespace SystemSettings

} // namespace corvanta
