#include "model/Prefs.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

class PrefsTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString file() const { return dir.filePath(u"prefs.ini"_s); }

    std::unique_ptr<Prefs> open(const QStringList& arguments = {})
    {
        return std::make_unique<Prefs>(
            std::make_unique<QSettings>(file(), QSettings::IniFormat), Launch(arguments));
    }
    void store(const QString& key, const QVariant& value)
    {
        QSettings settings(file(), QSettings::IniFormat);
        settings.setValue(key, value);
    }
};

TEST_F(PrefsTest, AFreshStoreGivesEveryDefault)
{
    const auto prefs = open();
    EXPECT_FALSE(prefs->hideAppStore());
    EXPECT_TRUE(prefs->showMenuBar());
    EXPECT_EQ(prefs->intervalHours(), 24);
    EXPECT_TRUE(prefs->ignoredApps().isEmpty());
    EXPECT_TRUE(prefs->ignoredVersions().isEmpty());
    EXPECT_TRUE(prefs->notified().isEmpty());
    EXPECT_EQ(prefs->notchMode(), NotchMode::smart);
    EXPECT_TRUE(prefs->quietHours());
    EXPECT_EQ(prefs->quietFrom(), 22);
    EXPECT_EQ(prefs->quietTo(), 8);
    EXPECT_FALSE(prefs->onboarded());
    EXPECT_EQ(prefs->theme(), Theme::dark);
    EXPECT_FALSE(prefs->toured());
    EXPECT_FALSE(prefs->nudgeDismissed().has_value());
    EXPECT_EQ(prefs->nudgeDismissals(), 0);
    EXPECT_EQ(prefs->notchMemory(), NotchMemory());
    EXPECT_EQ(prefs->deviceName(), u""_s);
    EXPECT_EQ(prefs->appearance(), Appearance::dark);
}

TEST_F(PrefsTest, QuietHoursAreOffByDefaultInTheSandbox)
{
    EXPECT_FALSE(open({ u"--sandbox"_s, u"/tmp/x"_s })->quietHours());
}

TEST_F(PrefsTest, EveryPropertySurvivesARestart)
{
    const QDateTime nudge = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    NotchMemory memory;
    memory.lastShown = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    memory.lastShownKeys = { u"a@1"_s, u"b@2"_s };
    memory.dismissals = 2;
    {
        const auto prefs = open();
        prefs->setHideAppStore(true);
        prefs->setShowMenuBar(false);
        prefs->setIntervalHours(0);
        prefs->setIgnoredApps({ u"com.example.one"_s });
        prefs->setIgnoredVersions({ { u"com.example.two"_s, u"2.0"_s } });
        prefs->setNotified({ u"com.example.two@2.0"_s, u"com.example.three@?"_s });
        prefs->setNotchMode(NotchMode::daily);
        prefs->setQuietHours(false);
        prefs->setQuietFrom(23);
        prefs->setQuietTo(6);
        prefs->setOnboarded(true);
        prefs->setTheme(Theme::light);
        prefs->setToured(true);
        prefs->setNudgeDismissed(nudge);
        prefs->setNudgeDismissals(3);
        prefs->setNotchMemory(memory);
        prefs->setDeviceName(u"Studio"_s);
    }
    const auto prefs = open();
    EXPECT_TRUE(prefs->hideAppStore());
    EXPECT_FALSE(prefs->showMenuBar());
    EXPECT_EQ(prefs->intervalHours(), 0);
    EXPECT_EQ(prefs->ignoredApps(), QStringList { u"com.example.one"_s });
    EXPECT_EQ(prefs->ignoredVersions().value(u"com.example.two"_s), u"2.0"_s);
    EXPECT_EQ(prefs->notified().size(), 2);
    EXPECT_EQ(prefs->notchMode(), NotchMode::daily);
    EXPECT_FALSE(prefs->quietHours());
    EXPECT_EQ(prefs->quietFrom(), 23);
    EXPECT_EQ(prefs->quietTo(), 6);
    EXPECT_TRUE(prefs->onboarded());
    EXPECT_EQ(prefs->theme(), Theme::light);
    EXPECT_TRUE(prefs->toured());
    EXPECT_EQ(prefs->nudgeDismissed(), nudge);
    EXPECT_EQ(prefs->nudgeDismissals(), 3);
    EXPECT_EQ(prefs->notchMemory(), memory);
    EXPECT_EQ(prefs->deviceName(), u"Studio"_s);
}

TEST_F(PrefsTest, ClearingTheNudgeDateRemovesItsKey)
{
    const auto prefs = open();
    prefs->setNudgeDismissed(QDateTime::currentDateTimeUtc());
    prefs->setNudgeDismissed(std::nullopt);
    EXPECT_FALSE(QSettings(file(), QSettings::IniFormat).contains(u"nudgeDismissed"_s));
}

TEST_F(PrefsTest, TheLegacyPanelSwitchDecidesUntilAModeIsChosen)
{
    store(u"notchPanel"_s, false);
    EXPECT_EQ(open()->notchMode(), NotchMode::never);
    store(u"notchMode"_s, u"bogus"_s);
    EXPECT_EQ(open()->notchMode(), NotchMode::never);
    open()->setNotchMode(NotchMode::login);
    EXPECT_EQ(open()->notchMode(), NotchMode::login);
    EXPECT_EQ(QSettings(file(), QSettings::IniFormat).value(u"notchPanel"_s).toString(), u"false"_s);
}

TEST_F(PrefsTest, MistypedValuesFallBackSilently)
{
    store(u"intervalHours"_s, u"soon"_s);
    store(u"showMenuBar"_s, u"maybe"_s);
    store(u"theme"_s, u"sepia"_s);
    store(u"ignoredVersions"_s, QVariantMap { { u"com.example"_s, 3 } });
    store(u"notchMemory"_s, QByteArray("{\"dismissals\": \"many\"}"));
    store(u"nudgeDismissed"_s, u"yesterday"_s);
    const auto prefs = open();
    EXPECT_EQ(prefs->intervalHours(), 24);
    EXPECT_TRUE(prefs->showMenuBar());
    EXPECT_EQ(prefs->theme(), Theme::dark);
    EXPECT_TRUE(prefs->ignoredVersions().isEmpty());
    EXPECT_EQ(prefs->notchMemory(), NotchMemory());
    EXPECT_FALSE(prefs->nudgeDismissed().has_value());
}

TEST_F(PrefsTest, SkipOnboardingReadsTrueWithoutWriting)
{
    EXPECT_TRUE(open({ u"--skip-onboarding"_s })->onboarded());
    EXPECT_FALSE(QSettings(file(), QSettings::IniFormat).contains(u"onboarded"_s));
    EXPECT_FALSE(open()->onboarded());
}

TEST_F(PrefsTest, TheAppearanceArgumentWinsOverTheTheme)
{
    open()->setTheme(Theme::system);
    EXPECT_EQ(open()->appearance(), Appearance::system);
    EXPECT_EQ(open({ u"--appearance"_s, u"light"_s })->appearance(), Appearance::light);
    EXPECT_EQ(open({ u"--appearance"_s, u"dark"_s })->appearance(), Appearance::dark);
    EXPECT_EQ(open({ u"--appearance"_s, u"purple"_s })->appearance(), Appearance::light);
}

TEST_F(PrefsTest, AssigningNotifiesObservers)
{
    const auto prefs = open();
    int changes = 0;
    QObject::connect(prefs.get(), &Prefs::intervalHoursChanged, prefs.get(), [&] { ++changes; });
    prefs->setIntervalHours(6);
    EXPECT_EQ(changes, 1);
}

TEST(PrefsDomains, TheSandboxIsWipedAndTheNormalSettingsUntouched)
{
    QTemporaryDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    const Launch sandbox({ u"--sandbox"_s, home.filePath(u"Applications"_s) });
    Prefs::open(Launch())->setIntervalHours(5);
    Prefs::open(sandbox)->setIntervalHours(7);
    EXPECT_EQ(Prefs::open(sandbox)->intervalHours(), 24);
    EXPECT_EQ(Prefs::open(Launch())->intervalHours(), 5);
}

} // namespace
