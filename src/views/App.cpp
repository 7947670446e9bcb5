#include "views/App.h"

#include "codesign/PortableCodeSigning.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "notch/NotchScheduler.h"
#include "notch/UpdateIsland.h"
#include "platform/linux/LinuxHostInfo.h"
#include "sources/Net.h"
#include "views/Brand.h"
#include "views/Look.h"
#include "views/MainWindow.h"
#include "views/NotchPanel.h"
#include "views/RemovalPrompt.h"
#include "views/SettingsWindow.h"
#include "views/SingleInstance.h"
#include "views/StoreWatch.h"
#include "views/TrayIcon.h"
#include "views/WindowPrompts.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {
// How long the window waits at launch before it opens, so a scene that
// opened by itself isn't opened twice.
constexpr auto windowDelay = 300ms;
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
    m_store = std::make_unique<Store>(StoreServices { *m_net, *m_codeSigning, *m_host, *m_prefs }, launch);
    m_watch = std::make_unique<StoreWatch>(*m_store);
    m_prompts = std::make_unique<WindowPrompts>(*m_store, [this]() -> QWidget* { return m_main.get(); });
    m_store->setPrompts(m_prompts.get());

    m_main = std::make_unique<MainWindow>(*m_watch);
    connect(m_main->settingsAction(), &QAction::triggered, this, &App::openSettings);
    connect(m_main->quitAction(), &QAction::triggered, this, &App::quit);
    connect(m_store.get(), &Store::removingChanged, this, &App::openRemoval);

    m_notch = std::make_unique<NotchPanel>(*m_store, m_store->island());
    connect(&m_store->island(), &UpdateIsland::openMainWindow, this, &App::openMainWindow);

    m_tray = std::make_unique<TrayIcon>(*m_store);
    connect(m_tray.get(), &TrayIcon::openMainWindow, this, &App::openMainWindow);
    connect(m_tray.get(), &TrayIcon::openSettings, this, &App::openSettings);
    connect(m_tray.get(), &TrayIcon::quit, this, &App::quit);
    connect(m_prefs.get(), &Prefs::themeChanged, this, &App::applyTheme);
}

App::~App()
{
    // Windows go before the model they show.
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
    // 2–3. Taking over from other copies, the welcome and the setup window
    // come with first-run setup; nothing to do until it exists.
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
    // 9. Permissions again whenever the program comes to the front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_store->refreshPermissions();
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
        m_settings = new SettingsWindow(*m_prefs);
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
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
    SingleInstance instance(SingleInstance::nameFor(launch));
    if (!instance.claim())
        return 0; // the running copy comes forward instead
    App app(launch);
    connect(&instance, &SingleInstance::activated, &app, &App::openMainWindow);
    app.start();
    return application.exec();
}

} // namespace corvanta
