#include "views/App.h"

#include "codesign/PortableCodeSigning.h"
#include "discovery/Version.h"
#include "model/Prefs.h"
#include "model/Setup.h"
#include "model/SingleInstance.h"
#include "model/Store.h"
#include "notch/NotchScheduler.h"
#include "notch/UpdateIsland.h"
#include "platform/DesktopSettings.h"
#include "platform/Ditto.h"
#include "platform/LoginItem.h"
#include "platform/Permissions.h"
#include "platform/Trash.h"
#include "platform/WebAuthSession.h"
#include "platform/linux/LinuxHostInfo.h"
#include "sources/Net.h"
#include "views/AccountSection.h"
#include "views/Brand.h"
#include "views/Look.h"
#include "views/MainWindow.h"
#include "views/NotchPanel.h"
#include "views/RemovalPrompt.h"
#include "views/SettingsWindow.h"
#include "views/SetupWindow.h"
#include "views/StoreWatch.h"
#include "views/TourOverlay.h"
#include "views/TrayIcon.h"
#include "views/WelcomeWindow.h"
#include "views/WindowPrompts.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {
// How long the window waits at launch before it opens, so a scene that
// opened by itself isn't opened twice.
constexpr auto windowDelay = 300ms;
// The welcome waits a moment so it opens over the main window, not under it.
constexpr auto welcomeDelay = 400ms;
// Whether this copy is newer than the running one, which then gives way.
bool takesOver(const std::optional<QString>& running)
{
    const std::optional<Version> theirs = Version::parse(running);
    const std::optional<Version> ours = Version::parse(QCoreApplication::applicationVersion());
    return theirs && ours && *theirs < *ours;
}

} // namespace

App::App(const Launch& launch, std::unique_ptr<Prefs> prefs, QObject* parent)
    : QObject(parent)
    , m_launch(launch)
    , m_quietStart(launch.has(u"--background"))
    , m_net(std::make_unique<Net>())
    , m_host(std::make_unique<LinuxHostInfo>())
    , m_prefs(prefs ? std::move(prefs) : Prefs::open(launch))
{
    const QString anchors = launch.value(u"--anchors").value_or(codesign::TrustAnchors::defaultFolder());
    // Architecture checks judge downloads for the Mac this is, as the host says.
    m_codeSigning
        = std::make_unique<codesign::PortableCodeSigning>(codesign::TrustAnchors::fromFolder(anchors),
            m_host->isAppleSilicon() ? CpuType::arm64 : CpuType::x86_64);
    StoreServices services { *m_net, *m_codeSigning, *m_host, *m_prefs };
    services.reduceMotion = DesktopSettings::reduceMotion();
    m_store = std::make_unique<Store>(std::move(services), launch);
    m_watch = std::make_unique<StoreWatch>(*m_store);
    m_prompts = std::make_unique<WindowPrompts>(*m_store, [this]() -> QWidget* { return m_main.get(); });
    m_store->setPrompts(m_prompts.get());

    m_main = std::make_unique<MainWindow>(*m_watch);
    connect(m_main->settingsAction(), &QAction::triggered, this, &App::openSettings);
    connect(m_main->quitAction(), &QAction::triggered, this, &App::quit);
    connect(m_store.get(), &Store::removingChanged, this, &App::openRemoval);

    m_notch = std::make_unique<NotchPanel>(*m_store, m_store->island());
    m_main->setCloseHook([this](QMainWindow* window) { return m_notch->foldWindow(window); });
    connect(&m_store->island(), &UpdateIsland::openMainWindow, this, &App::openMainWindow);

    m_tray = std::make_unique<TrayIcon>(*m_store);
    connect(m_tray.get(), &TrayIcon::openMainWindow, this, &App::openMainWindow);
    connect(m_tray.get(), &TrayIcon::openSettings, this, &App::openSettings);
    connect(m_tray.get(), &TrayIcon::quit, this, &App::quit);
    connect(m_prefs.get(), &Prefs::themeChanged, this, &App::applyTheme);

    m_login = LoginItem::create(QCoreApplication::applicationFilePath());
    m_trash = Trash::create();
    m_ditto = Ditto::create();
    m_permissions = Permissions::create();
    m_setup = std::make_unique<Setup>(Setup::Services { .defaults = m_prefs->settings(),
        .login = *m_login,
        .trash = *m_trash,
        .ditto = *m_ditto,
        .bundle = Setup::bundleOf(QCoreApplication::applicationFilePath()),
        .home = QDir::homePath() });
    m_main->tourAction()->setEnabled(true);
    m_main->welcomeAction()->setEnabled(true);
    connect(m_main->tourAction(), &QAction::triggered, this, &App::startTour);
    connect(m_main->welcomeAction(), &QAction::triggered, this, &App::openWelcome);
}

App::~App()
{
    // Windows go before the model they show.
    delete m_welcome;
    delete m_setupWindow;
    delete m_removal;
    delete m_settings;
    m_tray.reset();
    m_notch.reset();
    m_main.reset();
    m_store->setPrompts(nullptr);
}

void App::start()
{
    // The menu bar keeps the program alive with no window open.
    QApplication::setQuitOnLastWindowClosed(false);
    // 1. The appearance, before any window shows.
    applyTheme();
    QApplication::setWindowIcon(Brand::windowIcon());
    // 2. Which copy runs was settled on the single-instance socket (run()).
    // 3. The welcome on a first run, else the setup still to do.
    if (!m_prefs->onboarded()) {
        QTimer::singleShot(welcomeDelay, this, &App::openWelcome);
    } else if (!m_quietStart && !m_launch.has(u"--sandbox")) {
        if (const std::optional<SetupStep> step = m_setup->needs())
            openSetup(static_cast<int>(*step));
    }
    // 4. The check schedule; it restarts by itself when the interval changes.
    m_store->startSchedule();
    // 5. The window, unless the start is quiet.
    if (m_quietStart) {
        m_main->hide();
    } else {
        QTimer::singleShot(windowDelay, this, [this] {
            if (!m_main->isVisible())
                openMainWindow();
        });
    }
    // 6. The notch alerts listen for unlocking and waking.
    m_store->notchScheduler().start();
    // 7. The menu-bar icon, following the preference and the count.
    m_tray->start();
    // 8. The first refresh (announcing everything on a quiet start) and the permission probe.
    m_store->refresh(m_quietStart, m_quietStart);
    m_store->refreshPermissions();
    // 9. Permissions again whenever the program comes to the front, and a
    // notch panel gives way once the user is in the app.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            return;
        m_store->refreshPermissions();
        m_store->island().appBecameActive();
    });
}

void App::applyTheme()
{
    Look::apply(m_prefs->appearance());
}

void App::openMainWindow()
{
    m_main->show();
    if (m_main->isMinimized())
        m_main->showNormal();
    m_main->raise();
    m_main->activateWindow();
}

void App::openSettings()
{
    if (!m_settings) {
        m_settings = new SettingsWindow(*m_prefs, m_store.get());
        if (AccountSection* account = m_settings->account()) {
            connect(account, &AccountSection::signInRequested, this, [this] {
                m_store->setFilter(Filter::library);
                openMainWindow();
            });
        }
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void App::openWelcome()
{
    if (!m_welcome) {
        m_welcome = new WelcomeWindow(*m_store);
        m_welcome->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_welcome, &WelcomeWindow::signInRequested, this, [this] {
            m_store->setFilter(Filter::library);
            openMainWindow();
        });
        connect(m_welcome, &WelcomeWindow::tourRequested, this, &App::startTour);
    }
    m_welcome->show();
    m_welcome->raise();
    m_welcome->activateWindow();
}

void App::openSetup(int step)
{
    if (!m_setupWindow) {
        m_setupWindow = new SetupWindow(*m_setup, *m_permissions, static_cast<SetupStep>(step));
        m_setupWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_setupWindow->show();
    m_setupWindow->raise();
    m_setupWindow->activateWindow();
}

void App::startTour()
{
    openMainWindow();
    if (m_tour)
        m_tour->end();
    m_store->setFilter(Filter::all);
    m_tour = new TourOverlay(*m_main, *m_store);
}

void App::openRemoval()
{
    AppItem* item = m_store->removing();
    if (!item || (m_removal && m_removal->isVisible()))
        return;
    QWidget* parent = m_main->isVisible() ? m_main.get() : nullptr;
    m_removal = new RemovalPrompt(*m_store, item, parent);
    m_removal->setAttribute(Qt::WA_DeleteOnClose);
    m_removal->open();
}

void App::quit()
{
    Q_EMIT quitRequested();
    if (m_quitsApplication)
        QCoreApplication::quit();
}

int App::run(QApplication& application, const Launch& launch)
{
    SingleInstance instance(SingleInstance::nameFor(launch), QCoreApplication::applicationVersion());
    // Of two copies the newer one runs: an older one is asked to quit.
    if (!launch.has(u"--sandbox") && takesOver(instance.runningVersion()))
        instance.takeOver();
    if (!instance.claim())
        return 0; // the running copy comes forward instead
    App app(launch);
    connect(&instance, &SingleInstance::activated, &app, &App::openMainWindow);
    connect(&instance, &SingleInstance::quitRequested, &app, &App::quit);
    // The browser's answer to a Google sign-in, handed over by the desktop.
    connect(&instance, &SingleInstance::urlOpened, &app, [&app](const QUrl& url) {
        app.store().webAuth().deliver(url);
        app.openMainWindow();
    });
    app.start();
    return application.exec();
}

} // namespace corvanta
