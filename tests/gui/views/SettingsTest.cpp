#include "model/Prefs.h"
#include "support/QtPrinters.h"
#include "views/SettingsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

class SettingsTest : public testing::Test {
protected:
    QTemporaryDir folder;
    Prefs prefs { std::make_unique<QSettings>(folder.filePath(u"prefs.ini"_s), QSettings::IniFormat),
        Launch() };

    // Picks the entry showing `text`, as a click in the open list does.
    static void choose(QComboBox* box, const QString& text)
    {
        const int index = box->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        Q_EMIT box->activated(index);
    }
};

TEST_F(SettingsTest, EveryControlWritesItsPreference)
{
    SettingsWindow window(prefs);
    EXPECT_TRUE(window.menuBarBox()->isChecked());
    EXPECT_EQ(window.intervalBox()->currentText(), u"Every day"_s);
    EXPECT_EQ(window.themeBox()->currentText(), u"Dark"_s);
    EXPECT_EQ(window.notchBox()->currentText(), u"Smart"_s);
    EXPECT_EQ(window.quietFromBox()->currentText(), u"22:00"_s);
    EXPECT_EQ(window.quietToBox()->currentText(), u"08:00"_s);

    QTest::mouseClick(window.menuBarBox(), Qt::LeftButton, {}, QPoint(8, window.menuBarBox()->height() / 2));
    EXPECT_FALSE(prefs.showMenuBar());
    window.hideAppStoreBox()->click();
    EXPECT_TRUE(prefs.hideAppStore());
    choose(window.intervalBox(), u"Never"_s);
    EXPECT_EQ(prefs.intervalHours(), 0);
    choose(window.themeBox(), u"Light"_s);
    EXPECT_EQ(prefs.theme(), Theme::light);
    choose(window.notchBox(), u"At login"_s);
    EXPECT_EQ(prefs.notchMode(), NotchMode::login);
    window.quietBox()->click();
    EXPECT_FALSE(prefs.quietHours());
    EXPECT_FALSE(window.quietFromBox()->isEnabled());
    window.quietBox()->click();
    choose(window.quietFromBox(), u"23:00"_s);
    choose(window.quietToBox(), u"07:00"_s);
    EXPECT_EQ(prefs.quietFrom(), 23);
    EXPECT_EQ(prefs.quietTo(), 7);

    // What was written is what the next start reads.
    Prefs reread(
        std::make_unique<QSettings>(folder.filePath(u"prefs.ini"_s), QSettings::IniFormat), Launch());
    EXPECT_EQ(reread.intervalHours(), 0);
    EXPECT_EQ(reread.notchMode(), NotchMode::login);
    EXPECT_EQ(reread.theme(), Theme::light);
}

TEST_F(SettingsTest, TheNotchDescriptionFollowsTheMode)
{
    SettingsWindow window(prefs);
    EXPECT_EQ(window.notchDescription()->text(),
        u"Smart: once after login, after unlocking if it's been 8 hours, and when a check finds something "
        u"new, at "
        u"most once a day. It waits out quiet hours, full-screen apps and other apps' notch panels."_s);
    QStringList seen;
    for (NotchMode mode : { NotchMode::daily, NotchMode::login, NotchMode::never }) {
        prefs.setNotchMode(mode);
        EXPECT_FALSE(seen.contains(window.notchDescription()->text()));
        seen << window.notchDescription()->text();
        EXPECT_EQ(window.notchBox()->currentData().toInt(), int(mode));
    }
}

TEST_F(SettingsTest, ChangesMadeElsewhereShow)
{
    SettingsWindow window(prefs);
    prefs.setIntervalHours(5); // not one of the choices
    EXPECT_EQ(window.intervalBox()->currentText(), u"Every 5 hours"_s);
    prefs.setShowMenuBar(false);
    EXPECT_FALSE(window.menuBarBox()->isChecked());
    prefs.setTheme(Theme::system);
    EXPECT_EQ(window.themeBox()->currentText(), u"Match the system"_s);
}

} // namespace
