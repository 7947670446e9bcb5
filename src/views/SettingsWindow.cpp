#include "views/SettingsWindow.h"

#include "model/Prefs.h"
#include "model/Store.h"
#include "views/AccountSection.h"
#include "views/Look.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString intervalText(int hours)
{
    switch (hours) {
    case 0:
        return u"Never"_s;
    case 1:
        return u"Every hour"_s;
    case 24:
        return u"Every day"_s;
    case 168:
        return u"Every week"_s;
    default:
        return hours % 24 == 0 ? u"Every %1 days"_s.arg(hours / 24) : u"Every %1 hours"_s.arg(hours);
    }
}

QString hourText(int hour)
{
    return u"%1:00"_s.arg(hour, 2, 10, QLatin1Char('0'));
}

const QList<NotchMode> notchModes { NotchMode::smart, NotchMode::daily, NotchMode::login, NotchMode::never };

QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(Look::font(10.5, QFont::DemiBold));
    return label;
}

QLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setProperty("role", u"secondary"_s);
    label->setWordWrap(true);
    label->setFont(Look::font(9));
    return label;
}

// Labels of one width in every group, so the controls line up down the window.
QLabel* rowLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setMinimumWidth(118);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QFrame* group(QWidget* parent, QFormLayout*& form)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(u"group"_s);
    form = new QFormLayout(frame);
    form->setContentsMargins(16, 14, 16, 14);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(10);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    return frame;
}

} // namespace

QList<int> SettingsWindow::intervals()
{
    return { 0, 1, 6, 12, 24, 72, 168 };
}

QString SettingsWindow::describe(int mode)
{
    switch (NotchMode(mode)) {
    case NotchMode::smart:
        return u"Smart: once after login, after unlocking if it's been 8 hours, and when a check finds "
               u"something new, at most once a day. It waits out quiet hours, full-screen apps and other "
               u"apps' "
               u"notch panels."_s;
    case NotchMode::daily:
        return u"Daily: at most once a day, after login or when a check finds something new."_s;
    case NotchMode::login:
        return u"At login: only once, after you log in."_s;
    case NotchMode::never:
        return u"Never: updates show in the menu bar, or as a notification."_s;
    }
    return {};
}

SettingsWindow::SettingsWindow(Prefs& prefs, Store* store, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_prefs(prefs)
    , m_menuBar(new QCheckBox(u"Show Corvanta in the menu bar"_s, this))
    , m_interval(new QComboBox(this))
    , m_hideAppStore(new QCheckBox(u"Hide Mac App Store apps"_s, this))
    , m_theme(new QComboBox(this))
    , m_notch(new QComboBox(this))
    , m_notchText(note(QString(), this))
    , m_quiet(new QCheckBox(u"Quiet hours"_s, this))
    , m_quietFrom(new QComboBox(this))
    , m_quietTo(new QComboBox(this))
{
    setWindowTitle(u"Corvanta Settings"_s);
    setObjectName(u"Window"_s);
    setMinimumWidth(580);

    for (int hours : intervals())
        m_interval->addItem(intervalText(hours), hours);
    m_theme->addItem(u"Match the system"_s, int(Theme::system));
    m_theme->addItem(u"Light"_s, int(Theme::light));
    m_theme->addItem(u"Dark"_s, int(Theme::dark));
    m_notch->addItem(u"Smart"_s, int(NotchMode::smart));
    m_notch->addItem(u"Daily"_s, int(NotchMode::daily));
    m_notch->addItem(u"At login"_s, int(NotchMode::login));
    m_notch->addItem(u"Never"_s, int(NotchMode::never));
    for (int hour = 0; hour < 24; ++hour) {
        m_quietFrom->addItem(hourText(hour), hour);
        m_quietTo->addItem(hourText(hour), hour);
    }
    for (QComboBox* box : { m_interval, m_theme, m_notch })
        box->setMinimumWidth(190);
    m_notchText->setObjectName(u"notchDescription"_s);
    m_notchText->setMinimumHeight(QFontMetrics(m_notchText->font()).lineSpacing() * 3);
    m_notchText->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QFormLayout* general = nullptr;
    QFrame* generalBox = group(this, general);
    general->addRow(rowLabel(u"Menu bar"_s, this), m_menuBar);
    general->addRow(rowLabel(u"Check for updates"_s, this), m_interval);
    general->addRow(rowLabel(u"App Store"_s, this), m_hideAppStore);
    general->addRow(rowLabel(u"Appearance"_s, this), m_theme);

    QFormLayout* notch = nullptr;
    QFrame* notchBox = group(this, notch);
    notch->addRow(rowLabel(u"Show updates"_s, this), m_notch);
    notch->addRow(QString(), m_notchText);
    auto* hours = new QHBoxLayout;
    hours->setSpacing(8);
    hours->addWidget(m_quiet);
    hours->addStretch();
    hours->addWidget(new QLabel(u"from"_s, this));
    hours->addWidget(m_quietFrom);
    hours->addWidget(new QLabel(u"to"_s, this));
    hours->addWidget(m_quietTo);
    notch->addRow(rowLabel(u"Do not disturb"_s, this), hours);
    notch->addRow(
        QString(), note(u"During quiet hours the notch stays still; updates wait until they end."_s, this));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 20, 22, 22);
    layout->setSpacing(10);
    layout->addWidget(sectionTitle(u"General"_s, this));
    layout->addWidget(generalBox);
    layout->addSpacing(8);
    layout->addWidget(sectionTitle(u"Notch alerts"_s, this));
    layout->addWidget(notchBox);
    if (store && store->cloud()) {
        m_account = new AccountSection(*store, this);
        layout->addSpacing(8);
        layout->addWidget(sectionTitle(u"Account"_s, this));
        layout->addWidget(m_account);
    }
    layout->addStretch();

    connect(m_menuBar, &QCheckBox::toggled, &prefs, &Prefs::setShowMenuBar);
    connect(m_hideAppStore, &QCheckBox::toggled, &prefs, &Prefs::setHideAppStore);
    connect(m_quiet, &QCheckBox::toggled, &prefs, &Prefs::setQuietHours);
    connect(m_interval, &QComboBox::activated, this,
        [this] { m_prefs.setIntervalHours(m_interval->currentData().toInt()); });
    connect(m_theme, &QComboBox::activated, this,
        [this] { m_prefs.setTheme(Theme(m_theme->currentData().toInt())); });
    connect(m_notch, &QComboBox::activated, this,
        [this] { m_prefs.setNotchMode(NotchMode(m_notch->currentData().toInt())); });
    connect(m_quietFrom, &QComboBox::activated, this,
        [this] { m_prefs.setQuietFrom(m_quietFrom->currentData().toInt()); });
    connect(m_quietTo, &QComboBox::activated, this,
        [this] { m_prefs.setQuietTo(m_quietTo->currentData().toInt()); });

    for (auto signal : { &Prefs::showMenuBarChanged, &Prefs::intervalHoursChanged,
             &Prefs::hideAppStoreChanged, &Prefs::themeChanged, &Prefs::notchModeChanged,
             &Prefs::quietHoursChanged, &Prefs::quietFromChanged, &Prefs::quietToChanged })
        connect(&prefs, signal, this, &SettingsWindow::sync);
    sync();
}

void SettingsWindow::sync()
{
    const QSignalBlocker blockers[] { QSignalBlocker(m_menuBar), QSignalBlocker(m_hideAppStore),
        QSignalBlocker(m_quiet) };
    m_menuBar->setChecked(m_prefs.showMenuBar());
    m_hideAppStore->setChecked(m_prefs.hideAppStore());
    m_quiet->setChecked(m_prefs.quietHours());

    // An interval set elsewhere that isn't among the choices still shows.
    const int hours = m_prefs.intervalHours();
    if (m_interval->findData(hours) < 0)
        m_interval->addItem(intervalText(hours), hours);
    m_interval->setCurrentIndex(m_interval->findData(hours));
    m_theme->setCurrentIndex(m_theme->findData(int(m_prefs.theme())));
    m_notch->setCurrentIndex(m_notch->findData(int(m_prefs.notchMode())));
    m_notchText->setText(describe(int(m_prefs.notchMode())));
    m_quietFrom->setCurrentIndex(m_quietFrom->findData(m_prefs.quietFrom()));
    m_quietTo->setCurrentIndex(m_quietTo->findData(m_prefs.quietTo()));
    const bool quiet = m_prefs.quietHours();
    m_quietFrom->setEnabled(quiet);
    m_quietTo->setEnabled(quiet);
}

} // namespace corvanta
