#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;

namespace corvanta {

class AccountSection;
class Prefs;
class Store;

// "Corvanta Settings": the menu-bar icon, how often to check, App Store
// apps, the appearance, notch alerts and quiet hours, and the account. Every control writes
// its preference at once and follows it when it changes elsewhere.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    // With a `store` whose build has account settings, an Account section too.
    explicit SettingsWindow(Prefs& prefs, Store* store = nullptr, QWidget* parent = nullptr);

    // What the notch mode's description says, by mode.
    static QString describe(int mode);
    // The choices of the interval control, in hours; 0 means never.
    static QList<int> intervals();

    QCheckBox* menuBarBox() const { return m_menuBar; }
    QComboBox* intervalBox() const { return m_interval; }
    QCheckBox* hideAppStoreBox() const { return m_hideAppStore; }
    QComboBox* themeBox() const { return m_theme; }
    QComboBox* notchBox() const { return m_notch; }
    QLabel* notchDescription() const { return m_notchText; }
    QCheckBox* quietBox() const { return m_quiet; }
    QComboBox* quietFromBox() const { return m_quietFrom; }
    QComboBox* quietToBox() const { return m_quietTo; }
    AccountSection* account() const { return m_account; }

private:
    void sync();

    Prefs& m_prefs;
    QCheckBox* m_menuBar;
    QComboBox* m_interval;
    QCheckBox* m_hideAppStore;
    QComboBox* m_theme;
    QComboBox* m_notch;
    QLabel* m_notchText;
    QCheckBox* m_quiet;
    QComboBox* m_quietFrom;
    QComboBox* m_quietTo;
    AccountSection* m_account = nullptr;
};

} // namespace corvanta
