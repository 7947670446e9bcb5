#include "platform/DesktopSettings.h"

#include "PrivateBus.h"
#include "support/Await.h"

#include <QDBusContext>
#include <QDBusVariant>
#include <QHash>
#include <QObject>
#include <QtConcurrentRun>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The desktop portal's Settings interface, answering what a test sets, each
// value wrapped twice as older portals do.
class Portal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    QHash<QString, QVariant> values;

public Q_SLOTS:
    QDBusVariant Read(const QString& group, const QString& key)
    {
        const QVariant value = values.value(group + u'/' + key);
        if (!value.isValid())
            sendErrorReply(u"org.freedesktop.portal.Error.NotFound"_s, u"Requested setting not found"_s);
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value)));
    }
};

TEST(DesktopSettings, ReducedMotionAsThePortalSaysIt)
{
    PrivateBus bus;
    QDBusConnection desktop = bus.connect();
    Portal portal;
    ASSERT_TRUE(desktop.registerService(u"org.freedesktop.portal.Desktop"_s));
    ASSERT_TRUE(desktop.registerObject(
        u"/org/freedesktop/portal/desktop"_s, &portal, QDBusConnection::ExportAllSlots));
    const QDBusConnection client = bus.connect();
    const struct {
        const char* name;
        QVariant animations, factor;
        bool reduce;
    } rows[] = {
        { "GNOME animations on", true, {}, false },
        { "GNOME animations off", false, {}, true },
        { "KDE instant", {}, 0.0, true },
        { "KDE slow", {}, 2.0, false },
        { "neither says", {}, {}, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        portal.values = { { u"org.gnome.desktop.interface/enable-animations"_s, row.animations },
            { u"org.kde.kdeglobals.KDE/AnimationDurationFactor"_s, row.factor } };
        // The portal answers on this thread's loop while the call waits on another.
        QFuture<bool> asking = QtConcurrent::run([&client] { return DesktopSettings::reduceMotion(client); });
        ASSERT_TRUE(waitUntil([&] { return asking.isFinished(); }));
        EXPECT_EQ(asking.result(), row.reduce);
    }
    EXPECT_FALSE(DesktopSettings::reduceMotion(QDBusConnection(u"nowhere"_s)));
}

} // namespace

#include "DesktopSettingsTest.moc"
