#pragma once

#include "model/Launch.h"
#include "notch/NotchMemory.h"

#include <memory>
#include <optional>

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QSettings>
#include <QStringList>

namespace corvanta {

enum class Theme { system, light, dark };
QString rawValue(Theme theme);
std::optional<Theme> themeFromRaw(QStringView raw);

// How the interface should look: following the system, or forced.
enum class Appearance { system, light, dark };

// Every user setting and every small remembered state, persisted at once on
// each assignment. One instance, made by the composition root on the main thread.
class Prefs : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hideAppStore READ hideAppStore WRITE setHideAppStore NOTIFY hideAppStoreChanged)
    Q_PROPERTY(bool showMenuBar READ showMenuBar WRITE setShowMenuBar NOTIFY showMenuBarChanged)
    Q_PROPERTY(int intervalHours READ intervalHours WRITE setIntervalHours NOTIFY intervalHoursChanged)
    Q_PROPERTY(QStringList ignoredApps READ ignoredApps WRITE setIgnoredApps NOTIFY ignoredAppsChanged)
    Q_PROPERTY(bool quietHours READ quietHours WRITE setQuietHours NOTIFY quietHoursChanged)
    Q_PROPERTY(int quietFrom READ quietFrom WRITE setQuietFrom NOTIFY quietFromChanged)
    Q_PROPERTY(int quietTo READ quietTo WRITE setQuietTo NOTIFY quietToChanged)
    Q_PROPERTY(bool onboarded READ onboarded WRITE setOnboarded NOTIFY onboardedChanged)
    Q_PROPERTY(bool toured READ toured WRITE setToured NOTIFY touredChanged)
    Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)

public:
    // The sandbox's own settings domain, wiped at every sandboxed start.
    static inline const QString sandboxDomain = QStringLiteral("com.brenmoral.corvanta.sandbox");

    // Loads from `settings`. Use open() to choose the store as the program does.
    Prefs(std::unique_ptr<QSettings> settings, const Launch& launch, QObject* parent = nullptr);
    ~Prefs() override;

    // The program's own settings, or under --sandbox a freshly wiped sandbox domain.
    static std::unique_ptr<Prefs> open(const Launch& launch, QObject* parent = nullptr);

    bool hideAppStore() const { return m_hideAppStore; }
    bool showMenuBar() const { return m_showMenuBar; }
    int intervalHours() const { return m_intervalHours; }
    const QStringList& ignoredApps() const { return m_ignoredApps; }
    const QMap<QString, QString>& ignoredVersions() const { return m_ignoredVersions; }
    const QStringList& notified() const { return m_notified; }
    NotchMode notchMode() const { return m_notchMode; }
    bool quietHours() const { return m_quietHours; }
    int quietFrom() const { return m_quietFrom; }
    int quietTo() const { return m_quietTo; }
    bool onboarded() const { return m_onboarded; }
    Theme theme() const { return m_theme; }
    bool toured() const { return m_toured; }
    const std::optional<QDateTime>& nudgeDismissed() const { return m_nudgeDismissed; }
    int nudgeDismissals() const { return m_nudgeDismissals; }
    const NotchMemory& notchMemory() const { return m_notchMemory; }
    const QString& deviceName() const { return m_deviceName; }

    void setHideAppStore(bool value);
    void setShowMenuBar(bool value);
    void setIntervalHours(int value);
    void setIgnoredApps(const QStringList& value);
    void setIgnoredVersions(const QMap<QString, QString>& value);
    void setNotified(const QStringList& value);
    void setNotchMode(NotchMode value);
    void setQuietHours(bool value);
    void setQuietFrom(int value);
    void setQuietTo(int value);
    void setOnboarded(bool value);
    void setTheme(Theme value);
    void setToured(bool value);
    void setNudgeDismissed(const std::optional<QDateTime>& value);
    void setNudgeDismissals(int value);
    void setNotchMemory(const NotchMemory& value);
    void setDeviceName(const QString& value);

    // The appearance the interface applies: --appearance wins over the theme.
    Appearance appearance() const;

    QSettings& settings() { return *m_settings; }

Q_SIGNALS:
    void hideAppStoreChanged();
    void showMenuBarChanged();
    void intervalHoursChanged();
    void ignoredAppsChanged();
    void ignoredVersionsChanged();
    void notifiedChanged();
    void notchModeChanged();
    void quietHoursChanged();
    void quietFromChanged();
    void quietToChanged();
    void onboardedChanged();
    void themeChanged();
    void touredChanged();
    void nudgeDismissedChanged();
    void nudgeDismissalsChanged();
    void notchMemoryChanged();
    void deviceNameChanged();

private:
    void load();
    QVariant stored(const QString& key) const;
    void write(const QString& key, const QVariant& value);
    // Sets a property, writes its key at once and tells observers.
    template<typename T>
    void assign(
        T& member, const T& value, const QString& key, const QVariant& stored, void (Prefs::*changed)())
    {
        member = value;
        write(key, stored);
        Q_EMIT(this->*changed)();
    }

    std::unique_ptr<QSettings> m_settings;
    QMap<QString, QVariant> m_registered;
    std::optional<QString> m_appearanceArgument;
    bool m_skipOnboarding = false;

    bool m_hideAppStore = false;
    bool m_showMenuBar = true;
    int m_intervalHours = 24;
    QStringList m_ignoredApps;
    QMap<QString, QString> m_ignoredVersions;
    QStringList m_notified;
    NotchMode m_notchMode = NotchMode::smart;
    bool m_quietHours = true;
    int m_quietFrom = 22;
    int m_quietTo = 8;
    bool m_onboarded = false;
    Theme m_theme = Theme::dark;
    bool m_toured = false;
    std::optional<QDateTime> m_nudgeDismissed;
    int m_nudgeDismissals = 0;
    NotchMemory m_notchMemory;
    QString m_deviceName;
};

} // namespace corvanta
