#include "model/Prefs.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

namespace corvanta {

Q_LOGGING_CATEGORY(lcPrefs, "corvanta.model.prefs")

namespace {

// The settings backend of Linux keeps no types, so "true" and "24" come
// back as text: accept both the typed and the textual form, nothing else.
std::optional<bool> asBool(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        if (value.toString() == u"true")
            return true;
        if (value.toString() == u"false")
            return false;
    }
    return std::nullopt;
}

std::optional<int> asInt(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toInt();
    case QMetaType::QString: {
        bool ok = false;
        const int number = value.toString().toInt(&ok);
        return ok ? std::optional(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> asStrings(const QVariant& value)
{
    // A one-element list comes back from a text backend as a plain string.
    if (value.typeId() == QMetaType::QString)
        return QStringList { value.toString() };
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList result;
        for (const QVariant& item : value.toList()) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            result << item.toString();
        }
        return result;
    }
    return std::nullopt;
}

std::optional<QMap<QString, QString>> asStringMap(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    QMap<QString, QString> result;
    const QVariantMap map = value.toMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.value().typeId() != QMetaType::QString)
            return std::nullopt;
        result.insert(it.key(), it.value().toString());
    }
    return result;
}

} // namespace

QString rawValue(Theme theme)
{
    switch (theme) {
    case Theme::system:
        return u"system"_s;
    case Theme::light:
        return u"light"_s;
    case Theme::dark:
        return u"dark"_s;
    }
    Q_UNREACHABLE();
}

std::optional<Theme> themeFromRaw(QStringView raw)
{
    for (Theme theme : { Theme::system, Theme::light, Theme::dark }) {
        if (rawValue(theme) == raw)
            return theme;
    }
    return std::nullopt;
}

Prefs::Prefs(std::unique_ptr<QSettings> settings, const Launch& launch, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_appearanceArgument(launch.value(u"--appearance"))
    , m_skipOnboarding(launch.has(u"--skip-onboarding"))
{
    const bool sandbox = launch.value(u"--sandbox").has_value();
    m_registered = {
        { u"showMenuBar"_s, true },
        { u"intervalHours"_s, 24 },
        { u"notchPanel"_s, true },
        { u"quietHours"_s, !sandbox },
        { u"quietFrom"_s, 22 },
        { u"quietTo"_s, 8 },
    };
    load();
}

Prefs::~Prefs() = default;

std::unique_ptr<Prefs> Prefs::open(const Launch& launch, QObject* parent)
{
    std::unique_ptr<QSettings> settings;
    if (launch.value(u"--sandbox")) {
        // Organisation and application as the platform joins them into the domain name.
        settings = std::make_unique<QSettings>(
            QSettings::NativeFormat, QSettings::UserScope, u"brenmoral.com"_s, u"corvanta.sandbox"_s);
        settings->clear();
        settings->sync();
    } else {
        settings = std::make_unique<QSettings>(
            QSettings::NativeFormat, QSettings::UserScope, u"brenmoral.com"_s, u"corvanta"_s);
    }
    return std::make_unique<Prefs>(std::move(settings), launch, parent);
}

QVariant Prefs::stored(const QString& key) const
{
    return m_settings->value(key, m_registered.value(key));
}

void Prefs::write(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError)
        qCWarning(lcPrefs) << "could not save" << key;
}

void Prefs::load()
{
    m_hideAppStore = asBool(stored(u"hideAppStore"_s)).value_or(false);
    m_showMenuBar = asBool(stored(u"showMenuBar"_s)).value_or(true);
    m_intervalHours = asInt(stored(u"intervalHours"_s)).value_or(24);
    m_ignoredApps = asStrings(stored(u"ignoredApps"_s)).value_or(QStringList());
    m_ignoredVersions = asStringMap(stored(u"ignoredVersions"_s)).value_or(QMap<QString, QString>());
    m_notified = asStrings(stored(u"notified"_s)).value_or(QStringList());

    const std::optional<NotchMode> mode = notchModeFromRaw(stored(u"notchMode"_s).toString());
    if (mode)
        m_notchMode = *mode;
    else
        m_notchMode = asBool(stored(u"notchPanel"_s)).value_or(true) ? NotchMode::smart : NotchMode::never;

    m_quietHours = asBool(stored(u"quietHours"_s)).value_or(m_registered[u"quietHours"_s].toBool());
    m_quietFrom = asInt(stored(u"quietFrom"_s)).value_or(22);
    m_quietTo = asInt(stored(u"quietTo"_s)).value_or(8);
    m_onboarded = asBool(stored(u"onboarded"_s)).value_or(false) || m_skipOnboarding;
    const QVariant nudge = stored(u"nudgeDismissed"_s);
    if (nudge.typeId() == QMetaType::QDateTime && nudge.toDateTime().isValid())
        m_nudgeDismissed = nudge.toDateTime();
    m_nudgeDismissals = asInt(stored(u"nudgeDismissals"_s)).value_or(0);
    m_toured = asBool(stored(u"toured"_s)).value_or(false);
    m_theme = themeFromRaw(stored(u"theme"_s).toString()).value_or(Theme::dark);
    const QVariant memory = stored(u"notchMemory"_s);
    if (memory.typeId() == QMetaType::QByteArray)
        m_notchMemory = NotchMemory::decode(memory.toByteArray()).value_or(NotchMemory());
    const QVariant device = stored(u"deviceName"_s);
    m_deviceName = device.typeId() == QMetaType::QString ? device.toString() : QString();
}

void Prefs::setHideAppStore(bool value)
{
    assign(m_hideAppStore, value, u"hideAppStore"_s, value, &Prefs::hideAppStoreChanged);
}

void Prefs::setShowMenuBar(bool value)
{
    assign(m_showMenuBar, value, u"showMenuBar"_s, value, &Prefs::showMenuBarChanged);
}

void Prefs::setIntervalHours(int value)
{
    assign(m_intervalHours, value, u"intervalHours"_s, value, &Prefs::intervalHoursChanged);
}

void Prefs::setIgnoredApps(const QStringList& value)
{
    assign(m_ignoredApps, value, u"ignoredApps"_s, value, &Prefs::ignoredAppsChanged);
}

void Prefs::setIgnoredVersions(const QMap<QString, QString>& value)
{
    QVariantMap stored;
    for (auto it = value.begin(); it != value.end(); ++it)
        stored.insert(it.key(), it.value());
    assign(m_ignoredVersions, value, u"ignoredVersions"_s, stored, &Prefs::ignoredVersionsChanged);
}

void Prefs::setNotified(const QStringList& value)
{
    assign(m_notified, value, u"notified"_s, value, &Prefs::notifiedChanged);
}

void Prefs::setNotchMode(NotchMode value)
{
    assign(m_notchMode, value, u"notchMode"_s, rawValue(value), &Prefs::notchModeChanged);
}

void Prefs::setQuietHours(bool value)
{
    assign(m_quietHours, value, u"quietHours"_s, value, &Prefs::quietHoursChanged);
}

void Prefs::setQuietFrom(int value)
{
    assign(m_quietFrom, value, u"quietFrom"_s, value, &Prefs::quietFromChanged);
}

void Prefs::setQuietTo(int value)
{
    assign(m_quietTo, value, u"quietTo"_s, value, &Prefs::quietToChanged);
}

void Prefs::setOnboarded(bool value)
{
    assign(m_onboarded, value, u"onboarded"_s, value, &Prefs::onboardedChanged);
}

void Prefs::setTheme(Theme value)
{
    assign(m_theme, value, u"theme"_s, rawValue(value), &Prefs::themeChanged);
}

void Prefs::setToured(bool value)
{
    assign(m_toured, value, u"toured"_s, value, &Prefs::touredChanged);
}

void Prefs::setNudgeDismissed(const std::optional<QDateTime>& value)
{
    m_nudgeDismissed = value;
    if (value) {
        write(u"nudgeDismissed"_s, *value);
    } else {
        m_settings->remove(u"nudgeDismissed"_s);
        m_settings->sync();
    }
    Q_EMIT nudgeDismissedChanged();
}

void Prefs::setNudgeDismissals(int value)
{
    assign(m_nudgeDismissals, value, u"nudgeDismissals"_s, value, &Prefs::nudgeDismissalsChanged);
}

void Prefs::setNotchMemory(const NotchMemory& value)
{
    assign(m_notchMemory, value, u"notchMemory"_s, value.encode(), &Prefs::notchMemoryChanged);
}

void Prefs::setDeviceName(const QString& value)
{
    assign(m_deviceName, value, u"deviceName"_s, value, &Prefs::deviceNameChanged);
}

Appearance Prefs::appearance() const
{
    if (m_appearanceArgument)
        return *m_appearanceArgument == u"dark" ? Appearance::dark : Appearance::light;
    switch (m_theme) {
    case Theme::system:
        return Appearance::system;
    case Theme::light:
        return Appearance::light;
    case Theme::dark:
        return Appearance::dark;
    }
    Q_UNREACHABLE();
}

} // namespace corvanta
