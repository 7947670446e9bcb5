#pragma once

#include "model/Launch.h"
#include "views/RemovalPrompt.h"
#include "views/SettingsWindow.h"
#include "views/SetupWindow.h"
#include "views/TourOverlay.h"
#include "views/WelcomeWindow.h"

#include <memory>

#include <QObject>
#include <QPointer>

class QApplication;

namespace corvanta {

class Ditto;
class HostInfo;
class LoginItem;
class Permissions;
class Setup;
class Trash;
class MainWindow;
class NotchPanel;
class TrayIcon;
class Net;
class Prefs;
class Store;
class StoreWatch;
class WindowPrompts;

namespace codesign {
class PortableCodeSigning;
}

// The menu-bar application: makes the one model and its windows, and runs
// the launch steps in their order. Closing the main window never quits;
// only Quit does.
class App : public QObject {
    Q_OBJECT

public:
    // `prefs` replaces the program's own settings (tests); null opens them as the launch says.
    explicit App(const Launch& launch, std::unique_ptr<Prefs> prefs = nullptr, QObject* parent = nullptr);
    ~App() override;

    // Runs the application in `application` until Quit: one copy per user, a
    // later launch brings this one's window forward. Returns the exit code.
    static int run(QApplication& application, const Launch& launch);

    // The launch steps: theme, schedule, the main window unless the start is
    // quiet, the menu-bar icon, the first refresh and the permission probe.
    void start();

    // Shows the main window, making it if needed, and brings it forward.
    void openMainWindow();
    void openSettings();
    // The welcome pages ("Show Welcome Again"), the setup window at `step`, the guided tour.
    void openWelcome();
    void openSetup(int step);
    void startTour();
    void quit();
    // Whether Quit also ends the application's event loop (yes, unless a
    // caller such as the demo has more to do after the window closes).
    void setQuitsApplication(bool quits) { m_quitsApplication = quits; }

    bool quietStart() const { return m_quietStart; }
    Store& store() { return *m_store; }
    Prefs& prefs() { return *m_prefs; }
    StoreWatch& watch() { return *m_watch; }
    MainWindow* mainWindow() const { return m_main.get(); }
    SettingsWindow* settingsWindow() const { return m_settings; }
    RemovalPrompt* removalPrompt() const { return m_removal; }
    WelcomeWindow* welcomeWindow() const { return m_welcome; }
    SetupWindow* setupWindow() const { return m_setupWindow; }
    TourOverlay* tour() const { return m_tour; }
    Setup& setup() { return *m_setup; }
    NotchPanel* notchPanel() const { return m_notch.get(); }
    TrayIcon* trayIcon() const { return m_tray.get(); }

Q_SIGNALS:
    void quitRequested();

private:
    void applyTheme();
    void openRemoval();

    Launch m_launch;
    bool m_quietStart = false;
    bool m_quitsApplication = true;
    std::unique_ptr<Net> m_net;
    std::unique_ptr<HostInfo> m_host;
    std::unique_ptr<codesign::PortableCodeSigning> m_codeSigning;
    std::unique_ptr<Prefs> m_prefs;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<StoreWatch> m_watch;
    std::unique_ptr<WindowPrompts> m_prompts;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<NotchPanel> m_notch;
    std::unique_ptr<TrayIcon> m_tray;
    QPointer<SettingsWindow> m_settings;
    QPointer<RemovalPrompt> m_removal;
    std::unique_ptr<LoginItem> m_login;
    std::unique_ptr<Trash> m_trash;
    std::unique_ptr<Ditto> m_ditto;
    std::unique_ptr<Permissions> m_permissions;
    std::unique_ptr<Setup> m_setup;
    QPointer<WelcomeWindow> m_welcome;
    QPointer<SetupWindow> m_setupWindow;
    QPointer<TourOverlay> m_tour;
};

} // namespace corvanta
