#include "app/Cli.h"

#include <cstdio>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
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
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef CORVANTA_GUI
    if (wantsApplication(argc, argv)) {
        QApplication application(argc, argv);
        name();
        QStringList arguments = QCoreApplication::arguments();
        arguments.removeFirst();
        return corvanta::App::run(application, corvanta::Launch(arguments));
    }
#endif
    QCoreApplication application(argc, argv);
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
    QTimer::singleShot(0, &application, [&] { run(); });
    application.exec();
    return exitCode;
}
