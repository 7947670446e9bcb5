#include "base/Error.h"
#include "install/Updater.h"

#include <cerrno>

#include <QFileInfo>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Starts `tool` with both output streams in one channel and waits for it to
// end; false when it couldn't start.
bool start(QProcess& process, const QString& tool, const QStringList& arguments,
    const std::optional<QByteArray>& input)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!input)
        process.setStandardInputFile(QProcess::nullDevice());
    process.start(tool, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(-1))
        return false;
    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    process.waitForFinished(-1);
    return true;
}

} // namespace

QByteArray Updater::run(
    const QString& tool, const QStringList& arguments, const std::optional<QByteArray>& input)
{
    QProcess process;
    if (!start(process, tool, arguments, input)) {
        const int code = QFileInfo::exists(tool) ? EACCES : ENOENT;
        throw SystemError(u"Can't run %1: %2"_s.arg(tool, process.errorString()), code);
    }
    const QByteArray captured = process.readAll();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw UpdateError(QFileInfo(tool).fileName() + u" failed: "_s + QString::fromUtf8(captured));
    return captured;
}

ToolOutput Updater::output(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    if (!start(process, tool, arguments, std::nullopt))
        return {};
    const QString text = QString::fromUtf8(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit)
        return { -1, text };
    return { process.exitCode(), text };
}

} // namespace corvanta
