#include "app/Commands.h"
#include "app/DemoRun.h"
#include "base/Error.h"
#include "demo/DemoServer.h"
#include "demo/DemoSigner.h"
#include "demo/World.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>
#include <variant>

#include <QCoro/QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpServer>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {

std::atomic<bool> interrupted { false };

void onInterrupt(int)
{
    interrupted = true;
}

struct DemoOptions {
    enum class Mode { run, make, serve } mode = Mode::run;
    QString folder;
    std::optional<quint16> port;
    std::chrono::milliseconds latency { 0 };
    DemoRunOptions run;
};

const QString demoUsage = u"demo takes [DIR] [--keep] [--headless], --make DIR [--port N], "
                          u"or --serve DIR [--port N] [--latency MS]."_s;

std::variant<DemoOptions, QString> runOptions(const CliContext& context)
{
    DemoOptions options;
    QStringList rest = context.arguments;
    options.run.keep = rest.removeAll(u"--keep"_s) > 0;
    options.run.headless = rest.removeAll(u"--headless"_s) > 0;
    options.run.secondMac = rest.removeAll(u"--second-mac"_s) > 0;
    if (rest.size() > 1 || (rest.size() == 1 && rest.front().startsWith(u"--"_s)))
        return demoUsage;
    if (!rest.isEmpty())
        options.run.folder = QDir(rest.front()).absolutePath();
    return options;
}

std::variant<DemoOptions, QString> demoOptions(const CliContext& context)
{
    DemoOptions options;
    QStringList rest = context.arguments;
    const auto take = [&](const QString& flag) -> std::optional<QString> {
        const qsizetype at = rest.indexOf(flag);
        if (at < 0 || at + 1 >= rest.size())
            return std::nullopt;
        const QString value = rest.at(at + 1);
        rest.remove(at, 2);
        return value;
    };
    const bool make = context.arguments.contains(u"--make"_s);
    const bool serve = context.arguments.contains(u"--serve"_s);
    if (!make && !serve)
        return runOptions(context);
    if (make && serve)
        return u"demo takes --make DIR or --serve DIR, not both."_s;
    options.mode = make ? DemoOptions::Mode::make : DemoOptions::Mode::serve;
    const std::optional<QString> folder = take(make ? u"--make"_s : u"--serve"_s);
    if (!folder)
        return u"--make and --serve need a folder."_s;
    options.folder = QDir(*folder).absolutePath();
    if (context.arguments.contains(u"--port"_s)) {
        bool ok = false;
        const uint port = take(u"--port"_s).value_or(QString()).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return u"--port needs a port number from 1 to 65535."_s;
        options.port = quint16(port);
    }
    if (context.arguments.contains(u"--latency"_s)) {
        bool ok = false;
        const int latency = take(u"--latency"_s).value_or(QString()).toInt(&ok);
        if (!ok || latency < 0 || options.mode != DemoOptions::Mode::serve)
            return u"--latency goes with --serve and needs milliseconds."_s;
        options.latency = std::chrono::milliseconds(latency);
    }
    if (!rest.isEmpty())
        return demoUsage;
    return options;
}

// A port that is free now, for a world made before its server runs.
std::optional<quint16> freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return std::nullopt;
    return probe.serverPort();
}

QString expectation(const demo::SampleApp& app)
{
    const demo::ExpectedCheck& check = app.check;
    QString text;
    if (check.status == u"update")
        text = u"update to "_s + check.release.value_or(QString()) + u" from "_s
            + check.source.value_or(QString());
    else if (check.status == u"upToDate")
        text = u"up to date ("_s + check.source.value_or(QString()) + u')';
    else
        text = u"can't verify: "_s + check.text.value_or(QString());
    if (app.update) {
        switch (app.update->outcome) {
        case demo::ExpectedUpdate::Outcome::installed:
            text += u"; installs"_s;
            break;
        case demo::ExpectedUpdate::Outcome::refused:
            text += u"; refused: "_s + app.update->text.value_or(QString());
            break;
        case demo::ExpectedUpdate::Outcome::notOffered:
            text += u"; not installed here: "_s + app.update->text.value_or(QString());
            break;
        }
    }
    return text;
}

QString summary(const demo::Manifest& manifest, const demo::WorldLayout& layout, qint64 milliseconds)
{
    int updates = 0;
    int current = 0;
    int unverifiable = 0;
    for (const demo::SampleApp& app : manifest.apps) {
        updates += app.check.status == u"update" ? 1 : 0;
        current += app.check.status == u"upToDate" ? 1 : 0;
        unverifiable += app.check.status == u"cantVerify" ? 1 : 0;
    }
    QString text
        = u"Made the demo world in %1 in %2 s, with fresh keys; its code is %3.\n"_s.arg(layout.root)
              .arg(double(milliseconds) / 1000.0, 0, 'f', 2)
              .arg(manifest.signedCode
                      ? u"signed by a demo certificate authority whose root is in "_s + layout.anchors()
                      : u"unsigned"_s);
    text += u"%1 sample apps: %2 with an update, %3 up to date, %4 that can't be verified.\n\n"_s
                .arg(manifest.apps.size())
                .arg(updates)
                .arg(current)
                .arg(unverifiable);
    qsizetype width = 0;
    for (const demo::SampleApp& app : manifest.apps)
        width = std::max(width, app.path.size());
    for (const demo::SampleApp& app : manifest.apps) {
        text += u"  "_s + app.path.leftJustified(width + 2)
            + app.version.value_or(app.build.value_or(u"?"_s)).leftJustified(8)
            + app.signing.leftJustified(13) + expectation(app) + u'\n';
    }
    const QString base = manifest.base.toString();
    text += u"\nServe it:  corvanta demo --serve "_s + layout.root
        + u"\nCheck it:  corvanta check --sandbox "_s + layout.applications() + u" --mock "_s + base + u'\n';
    return text;
}

QCoro::Task<int> make(CliContext& context, const DemoOptions& options)
{
    const std::optional<quint16> port = options.port ? options.port : freePort();
    if (!port) {
        context.err << "No free port on 127.0.0.1 for the demo server.\n";
        co_return 1;
    }
    const QUrl base(u"http://127.0.0.1:%1/"_s.arg(*port));
    QElapsedTimer timer;
    timer.start();
    try {
        demo::DemoSigner signer;
        const demo::Manifest manifest = demo::makeWorld(options.folder, base, &signer);
        const qint64 milliseconds = timer.elapsed();
        if (context.json) {
            QJsonObject json = manifest.toJson();
            json.insert(u"milliseconds"_s, milliseconds);
            context.out << QJsonDocument(json).toJson(QJsonDocument::Indented);
        } else {
            context.out << summary(manifest, demo::WorldLayout { options.folder }, milliseconds);
        }
    } catch (const Error& error) {
        context.err << error.description() << '\n';
        co_return 1;
    }
    co_return 0;
}

QCoro::Task<int> serve(CliContext& context, const DemoOptions& options)
{
    const demo::WorldLayout layout { options.folder };
    std::optional<demo::Manifest> manifest;
    try {
        manifest = demo::Manifest::load(layout.manifest());
    } catch (const Error& error) {
        context.err << error.description() << '\n';
        co_return 1;
    }
    // The world's bundles name the server's address, so it serves where it was made for.
    const quint16 port = quint16(manifest->base.port());
    if (options.port && *options.port != port) {
        context.err
            << u"The world in %1 was made for port %2; make it again with --port %3 to serve it there.\n"_s
                   .arg(layout.root)
                   .arg(port)
                   .arg(*options.port);
        co_return 1;
    }
    demo::DemoServer server(layout.documents());
    server.setLatency(options.latency);
    if (!server.listen(port)) {
        context.err << u"Couldn't listen on 127.0.0.1:%1: %2\n"_s.arg(port).arg(server.errorString());
        co_return 1;
    }
    QObject::connect(&server, &demo::DemoServer::served, &server,
        [&context](const QString& method, const QString& target, int status) {
            context.out << status << ' ' << method << ' ' << target << '\n';
            context.out.flush();
        });
    context.out << u"Serving the demo world in %1 at %2"_s.arg(layout.root, server.base().toString())
                << (options.latency.count() > 0 ? u" with %1 ms latency"_s.arg(options.latency.count())
                                                : QString())
                << u".\nCheck it:  corvanta check --sandbox %1 --mock %2\nPress Ctrl-C to stop.\n"_s.arg(
                       layout.applications(), server.base().toString());
    context.out.flush();

    interrupted = false;
    const auto previousInterrupt = std::signal(SIGINT, onInterrupt);
    const auto previousTerminate = std::signal(SIGTERM, onInterrupt);
    while (!interrupted)
        co_await QCoro::sleepFor(100ms);
    std::signal(SIGINT, previousInterrupt);
    std::signal(SIGTERM, previousTerminate);
    server.close();
    context.out << "Stopped.\n";
    co_return 0;
}

} // namespace

QCoro::Task<int> commands::demo(CliContext& context)
{
    std::variant<DemoOptions, QString> parsed = demoOptions(context);
    if (const QString* problem = std::get_if<QString>(&parsed))
        co_return context.usage(*problem);
    const DemoOptions options = std::get<DemoOptions>(std::move(parsed));
    // Named tasks: GCC 12 destroys temporaries of a co_await expression twice.
    QCoro::Task<int> task = options.mode == DemoOptions::Mode::run ? runDemo(context, options.run)
        : options.mode == DemoOptions::Mode::make                  ? make(context, options)
                                                                   : serve(context, options);
    co_return co_await std::move(task);
}

} // namespace corvanta
