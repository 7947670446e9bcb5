#include "support/Program.h"

#include "support/Await.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

QProcessEnvironment programEnvironment(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QDir folder(home);
    environment.insert(u"HOME"_s, home);
    environment.insert(u"XDG_CONFIG_HOME"_s, folder.filePath(u"config"_s));
    environment.insert(u"XDG_CACHE_HOME"_s, folder.filePath(u"cache"_s));
    environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
    return environment;
}

ProgramRun runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
    std::chrono::milliseconds timeout, const QByteArray& input)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CORVANTA_BINARY), arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ended = waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeout);
    EXPECT_TRUE(ended) << "corvanta " << arguments.join(u' ').toStdString() << " didn't end in time";
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace corvanta::test
