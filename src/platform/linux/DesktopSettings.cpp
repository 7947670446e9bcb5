#include "platform/DesktopSettings.h"

#include <QDBusMessage>
#include <QDBusVariant>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

constexpr int portalTimeout = 500; // ms; the portal answers at once when it is there

// One setting through the portal's Settings interface; its value comes
// wrapped in a variant, in older portals twice.
QVariant portalSetting(const QDBusConnection& bus, const QString& group, const QString& key)
{
    if (!bus.isConnected())
        return {};
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s,
        u"/org/freedesktop/portal/desktop"_s, u"org.freedesktop.portal.Settings"_s, u"Read"_s);
    call << group << key;
    const QDBusMessage reply = bus.call(call, QDBus::Block, portalTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QVariant value = reply.arguments().constFirst();
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

bool DesktopSettings::reduceMotion(const QDBusConnection& bus)
{
    const QVariant animations = portalSetting(bus, u"org.gnome.desktop.interface"_s, u"enable-animations"_s);
    if (animations.userType() == QMetaType::Bool && !animations.toBool())
        return true;
    const QVariant factor = portalSetting(bus, u"org.kde.kdeglobals.KDE"_s, u"AnimationDurationFactor"_s);
    bool number = false;
    const double speed = factor.toDouble(&number);
    return factor.isValid() && number && speed == 0.0;
}

} // namespace corvanta
