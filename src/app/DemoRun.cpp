#include "app/DemoRun.h"

#include "app/DemoReport.h"
#include "app/DemoSecondMac.h"
#include "app/DemoWindow.h"
#include "base/Error.h"
#include "codesign/MachO.h"
#include "codesign/PortableCodeSigning.h"
#include "demo/DemoServer.h"
#include "demo/DemoSigner.h"
#include "demo/World.h"
#include "model/Prefs.h"
#include "model/Prompts.h"
#include "model/Store.h"
#include "sources/Net.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {

std::atomic<bool> stopAsked { false };

void onStop(int signal)
{
    stopAsked = true;
    // A second Ctrl-C ends the program at once.
    std::signal(signal, SIG_DFL);
}

// Restores the signal handlers that were there before.
class StopSignals {
public:
    StopSignals()
    {
        stopAsked = false;
        m_interrupt = std::signal(SIGINT, onStop);
        m_terminate = std::signal(SIGTERM, onStop);
    }
    ~StopSignals()
    {
        std::signal(SIGINT, m_interrupt);
        std::signal(SIGTERM, m_terminate);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void (*m_interrupt)(int) = SIG_DFL;
    void (*m_terminate)(int) = SIG_DFL;
};

bool hasDisplay()
{
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == u"offscreen")
        return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 1) + u" s"_s;
}

int countOf(const Store& store, Status::Kind kind)
{
    int count = 0;
    for (const AppItem* item : store.items())
        count += item->status().kind == kind ? 1 : 0;
    return count;
}

// Everything one demo run starts, each part stopped by finish() or, at the
// latest, by the destructor: the model, then the server, then the world.
class DemoRun {
public:
    DemoRun(CliContext& context, DemoRunOptions options)
        : m_context(context)
        , m_options(std::move(options))
        , m_report(context.out)
    {
        QObject::connect(&m_stopWatch, &QTimer::timeout, &m_stopWatch, [this] { watchForStop(); });
        m_stopWatch.start(100ms);
    }

    // Makes the world and starts its server; false after saying why not.
    bool start();
    DemoSession session() const;
    QCoro::Task<int> headless();
    // The second act, or one sentence saying why it is skipped.
    QCoro::Task<int> secondMac(bool window);
    // Stops the server, removes a temporary world and says what is left.
    void finish();

private:
    void openModel();
    void watchForStop();
    QString summary() const;

    CliContext& m_context;
    DemoRunOptions m_options;
    std::optional<QTemporaryDir> m_temporary;
    demo::WorldLayout m_layout;
    demo::Manifest m_manifest;
    qint64 m_madeIn = 0;
    std::unique_ptr<demo::DemoServer> m_server;

    std::unique_ptr<Net> m_net;
    std::unique_ptr<FixedHostInfo> m_host;
    std::unique_ptr<codesign::PortableCodeSigning> m_codeSigning;
    std::unique_ptr<Prefs> m_prefs;
    std::unique_ptr<Prompts> m_prompts;
    DemoReport m_report;
    std::unique_ptr<Store> m_store;
    int m_notInstallable = 0;

    QTimer m_stopWatch;
    bool m_started = false;
    bool m_stopping = false;
};

bool DemoRun::start()
{
    QTextStream& err = m_context.err;
    if (m_options.folder) {
        m_layout.root = QDir(*m_options.folder).absolutePath();
    } else {
        m_temporary.emplace(QDir::temp().filePath(u"corvanta-demo-XXXXXX"_s));
        if (!m_temporary->isValid()) {
            err << u"Couldn't create a folder for the demo world: "_s << m_temporary->errorString() << '\n';
            return false;
        }
        m_temporary->setAutoRemove(!m_options.keep);
        m_layout.root = m_temporary->path();
    }

    // The server listens first: the world's feeds and bundles name its address.
    m_server = std::make_unique<demo::DemoServer>(m_layout.documents());
    if (!m_server->listen()) {
        err << u"Couldn't listen on 127.0.0.1: "_s << m_server->errorString() << '\n';
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    try {
        demo::DemoSigner signer;
        m_manifest = demo::makeWorld(m_layout.root, m_server->base(), &signer);
    } catch (const Error& error) {
        err << error.description() << '\n';
        return false;
    }
    m_madeIn = timer.elapsed();
    m_started = true;
    return true;
}

DemoSession DemoRun::session() const
{
    return { m_layout.applications(), m_server->base(), m_layout.anchors(), m_layout.preferences(),
        m_manifest.macOS, m_manifest.appleSilicon, [] { return stopAsked.load(); } };
}

void DemoRun::openModel()
{
    const DemoSession demo = session();
    const Launch launch({ u"--sandbox"_s, demo.sandbox, u"--mock"_s, demo.mock.toString() });
    m_net = std::make_unique<Net>();
    m_host = std::make_unique<FixedHostInfo>(demo.macOS, demo.appleSilicon);
    // The Mac the world is made for, whatever this machine is: an Intel-only
    // download must meet an Apple silicon Mac to be refused.
    m_codeSigning
        = std::make_unique<codesign::PortableCodeSigning>(codesign::TrustAnchors::fromFolder(demo.anchors),
            demo.appleSilicon ? codesign::cpu::arm64 : codesign::cpu::x86_64);
    auto settings = std::make_unique<QSettings>(demo.preferences, QSettings::IniFormat);
    settings->clear();
    m_prefs = std::make_unique<Prefs>(std::move(settings), launch);
    m_prompts = std::make_unique<FixedPrompts>(false, m_context.out);

    StoreServices services { *m_net, *m_codeSigning, *m_host, *m_prefs };
    QTextStream* out = &m_context.out;
    services.openURL
        = [out](const QUrl& url) { *out << "Open " << url.toString() << " to continue there.\n"; };
    m_store = std::make_unique<Store>(services, launch);
    m_store->setPrompts(m_prompts.get());
}

void DemoRun::watchForStop()
{
    if (!stopAsked || m_stopping)
        return;
    m_stopping = true;
    m_context.err << "\nStopping after the current step; Ctrl-C again to quit at once.\n";
    m_context.err.flush();
    // Taken out of the queue, as a user would, so "Update All" ends after the app it is at.
    if (m_store) {
        for (AppItem* item : m_store->items()) {
            if (item->phase().kind == InstallPhase::Kind::queued)
                item->setPhase(InstallPhase::idle());
        }
    }
}

QCoro::Task<int> DemoRun::headless()
{
    openModel();
    const DemoSession demo = session();
    m_report.line(
        u"Corvanta demo: %1 sample apps made in %2 with fresh keys, in %3"_s.arg(m_manifest.apps.size())
            .arg(seconds(m_madeIn), m_layout.root));
    m_report.line(u"Served at %1; signed by a demo certificate authority trusted for this run only."_s.arg(
        demo.mock.toString()));
    m_report.line(u"This Mac: macOS %1 on %2."_s.arg(
        demo.macOS.text(), demo.appleSilicon ? u"Apple silicon"_s : u"an Intel processor"_s));
    // A Ctrl-C while the world was made, before the watch could look.
    watchForStop();
    if (m_stopping)
        co_return 130;

    m_report.section(u"Check"_s);
    QCoro::Task<> checking = m_store->refresh(false, false);
    co_await std::move(checking);
    m_report.table(*m_store);
    if (m_stopping)
        co_return 130;

    const QList<AppItem*> installable = m_store->installable();
    m_notInstallable = countOf(*m_store, Status::Kind::update) - int(installable.size());
    m_report.section(u"Update All: %1 updates Corvanta can install, one at a time"_s.arg(installable.size()));
    if (installable.isEmpty()) {
        m_report.line(u"  Nothing to install."_s);
    } else {
        m_report.follow(installable);
        QCoro::Task<> updating = m_store->updateAll();
        co_await std::move(updating);
    }
    if (m_stopping)
        co_return 130;

    m_report.section(u"Check again"_s);
    QCoro::Task<> again = m_store->refresh(false, false);
    co_await std::move(again);
    m_report.table(*m_store);
    m_report.line(QString());
    m_report.line(summary());
    co_return m_stopping ? 130 : 0;
}

QCoro::Task<int> DemoRun::secondMac(bool window)
{
    if (const std::optional<QString> reason = SecondMac::unavailable()) {
        m_report.line(QString());
        m_report.line(*reason);
        co_return 0;
    }
    const DemoSession demo = session();
    SecondMac act(m_context.out,
        { m_layout, demo.mock, demo.macOS, demo.appleSilicon, QCoreApplication::applicationFilePath(),
            [] { return stopAsked.load(); } });
    int code = 0;
    try {
        QCoro::Task<bool> running = act.run();
        code = co_await std::move(running) ? 0 : 130;
        if (code == 0 && window) {
            m_report.line(u"The Library view of the second Mac is open; close it to end the demo."_s);
            m_context.out.flush();
            QCoro::Task<std::optional<int>> showing
                = openLibraryWindow(act.secondMac(), [] { return stopAsked.load(); });
            code = (co_await std::move(showing)).value_or(0);
        }
    } catch (const Error& error) {
        m_context.err << error.description() << '\n';
        code = 1;
    }
    act.finish();
    m_report.line(u"Stopped the Authentication and Firestore emulators."_s);
    co_return code;
}

QString DemoRun::summary() const
{
    QString text
        = u"Summary: installed %1 %2 and refused %3, leaving %4 as %5 were"_s.arg(m_report.installed())
              .arg(m_report.installed() == 1 ? u"update"_s : u"updates"_s)
              .arg(m_report.refused())
              .arg(m_report.refused() == 1 ? u"that app"_s : u"those apps"_s)
              .arg(m_report.refused() == 1 ? u"it"_s : u"they"_s);
    if (m_notInstallable > 0)
        text += u"; %1 more %2 for the App Store, the app itself or its website"_s.arg(m_notInstallable)
                    .arg(m_notInstallable == 1 ? u"is"_s : u"are"_s);
    text += u". Now %1 of %2 apps are up to date and %3 can't be verified."_s
                .arg(countOf(*m_store, Status::Kind::upToDate))
                .arg(m_store->items().size())
                .arg(countOf(*m_store, Status::Kind::cantVerify));
    if (m_report.installed() > 0)
        text += u" The old versions are in "_s + m_layout.trash() + u'.';
    return text;
}

void DemoRun::finish()
{
    m_stopWatch.stop();
    // The model first: nothing may write into the world once it goes.
    m_store.reset();
    m_prompts.reset();
    m_prefs.reset();
    if (m_server)
        m_server->close();
    if (!m_started)
        return;
    QString text = u"Stopped the demo server"_s;
    if (m_temporary && !m_options.keep) {
        text += m_temporary->remove() ? QString(u" and removed "_s + m_layout.root)
                                      : QString(u"; couldn't remove "_s + m_layout.root + u" completely"_s);
    } else if (!m_layout.root.isEmpty() && QFileInfo::exists(m_layout.manifest())) {
        text += u"; the world stays in "_s + m_layout.root + u" (corvanta demo --serve "_s + m_layout.root
            + u" serves it again)"_s;
    }
    m_report.line(text + u'.');
}

} // namespace

QCoro::Task<int> runDemo(CliContext& context, DemoRunOptions options)
{
    const StopSignals stopSignals;
    const bool window = !options.headless && hasDisplay();
    const bool secondMac = options.secondMac;
    DemoRun run(context, std::move(options));
    if (!run.start()) {
        run.finish();
        co_return 1;
    }
    std::optional<int> code;
    if (window) {
        const DemoSession session = run.session();
        QCoro::Task<std::optional<int>> opening = openDemoWindow(session);
        code = co_await std::move(opening);
    }
    if (!code) {
        QCoro::Task<int> running = run.headless();
        code = co_await std::move(running);
    }
    if (*code == 0 && secondMac) {
        QCoro::Task<int> restoring = run.secondMac(window);
        code = co_await std::move(restoring);
    }
    run.finish();
    co_return *code;
}

} // namespace corvanta
