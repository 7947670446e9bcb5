#include "app/Cli.h"

#include <cstdio>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Corvanta"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("brenmoral.com"));

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
