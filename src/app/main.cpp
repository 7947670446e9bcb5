#include "app/Cli.h"
#include "app/Commands.h"
#include "base/Error.h"
#include "model/Launch.h"

#include <cstdio>
#include <memory>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTextStream>
#include <QTimer>

#ifdef CORVANTA_GUI
#include "views/App.h"

#include <QApplication>
#endif

namespace {

void name()
{
    QCoreApplication::setApplicationName(QStringLiteral("Corvanta"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("brenmoral.com"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
}

#ifdef CORVANTA_GUI
// No command, only launch options ("--background", "--sandbox DIR", …):
// the menu-bar application rather than the command line.
bool wantsApplication(int argc, char** argv)
{
    if (argc < 2)
        return true;
    const QString first = QString::fromLocal8Bit(argv[1]);
    return first.startsWith(u"--") && first != u"--help" && first != u"--json";
}

// `corvanta demo` opens the window on its world when there is a display,
// so that command needs widgets too.
bool demoWithWindow(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.value(0) != u"demo" || arguments.contains(u"--headless") || arguments.contains(u"--make")
        || arguments.contains(u"--serve"))
        return false;
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == u"offscreen")
        return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
#endif

// A launch whose one word that isn't an option looks like a URL may be the
// desktop handing over a sign-in callback; only then are the settings read.
bool mayBeCallback(int argc, char** argv)
{
    QStringList words;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"--sandbox" || argument == u"--firebase-config")
            ++i;
        else
            words << argument;
    }
    return words.size() == 1 && !words.front().startsWith(u'-') && words.front().contains(u":/");
}

} // namespace

int main(int argc, char** argv)
{
    if (mayBeCallback(argc, argv)) {
        QCoreApplication application(argc, argv);
        name();
        QStringList arguments = QCoreApplication::arguments();
        arguments.removeFirst();
        if (const std::optional<QUrl> callback = corvanta::commands::googleCallback(arguments)) {
            QTextStream err(stderr);
            return corvanta::commands::handOver(*callback, arguments, err);
        }
    }
#ifdef CORVANTA_GUI
    if (wantsApplication(argc, argv)) {
        QApplication application(argc, argv);
        name();
        QStringList arguments = QCoreApplication::arguments();
        arguments.removeFirst();
        const corvanta::Launch launch(arguments);
        try {
            launch.sandbox(); // a folder the window can't work in is refused before it opens
        } catch (const corvanta::Error& error) {
            QTextStream(stderr) << error.description() << '\n';
            return 2;
        }
        return corvanta::App::run(application, launch);
    }
    const std::unique_ptr<QCoreApplication> application = demoWithWindow(argc, argv)
        ? std::make_unique<QApplication>(argc, argv)
        : std::make_unique<QCoreApplication>(argc, argv);
#else
    const auto application = std::make_unique<QCoreApplication>(argc, argv);
#endif
    name();

    QTextStream out(stdout);
    QTextStream err(stderr);
    corvanta::Cli cli(out, err);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    int exitCode = 0;
    auto run = [&]() -> QCoro::Task<> {
        exitCode = co_await cli.run(arguments);
        out.flush();
        err.flush();
        QCoreApplication::exit(exitCode);
    };
    QTimer::singleShot(0, application.get(), [&] { run(); });
    application->exec();
    return exitCode;
}
