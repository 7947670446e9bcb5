#include "diskimage/SevenZip.h"

#include "platform/DiskImages.h"

#include <csignal>

#include <QProcess>
#include <QProcessEnvironment>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

// Complaints 7-Zip makes about links it declines to create; finishVolume
// creates them afterwards, so they don't fail an extraction.
bool isLinkComplaint(const QByteArray& line)
{
    return line.contains("Dangerous link path was ignored") || line.contains("Dangerous symbolic link path");
}

QString failure(const QString& detail)
{
    QString sentence = u"The disk image's volume couldn't be read: "_s + detail.trimmed();
    if (!sentence.endsWith(u'.'))
        sentence += u'.';
    return sentence;
}

} // namespace

SevenZip::SevenZip(QString program)
    : m_program(std::move(program))
{
}

SevenZip::Result SevenZip::run(
    const QStringList& arguments, std::optional<qint64> fileSizeLimit, qsizetype outputLimit) const
{
    QProcess process;
    // File names travel as UTF-8 whatever the caller's locale.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    if (fileSizeLimit) {
        // The kernel stops a file growing past the limit with SIGXFSZ, which
        // ends 7-Zip there and then: a hard stop behind the listing's sizes.
        const auto limit = rlim_t(std::max<qint64>(*fileSizeLimit, 0));
        process.setChildProcessModifier([limit] {
            const rlimit size { limit, limit };
            const rlimit core { 0, 0 };
            ::setrlimit(RLIMIT_CORE, &core);
            if (::setrlimit(RLIMIT_FSIZE, &size) != 0)
                ::_exit(126);
        });
    }
    process.start(m_program, arguments);
    if (!process.waitForStarted())
        throw DiskImageError(
            u"Corvanta needs 7-Zip (7zz) to open disk images, and it couldn't be started."_s);
    Result result;
    while (!process.waitForFinished(100)) {
        result.output += process.readAllStandardOutput();
        result.errors += process.readAllStandardError();
        if (outputLimit >= 0 && result.output.size() > outputLimit)
            process.kill();
        if (process.state() == QProcess::NotRunning)
            break;
    }
    result.output += process.readAllStandardOutput();
    result.errors += process.readAllStandardError();
    const bool exited = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = exited ? process.exitCode() : -1;
    result.signal = exited ? 0 : process.exitCode(); // Qt reports the signal as the exit code of a crash
    return result;
}

std::optional<VolumeListing> SevenZip::list(const QString& raw) const
{
    // A million entries, the most any app has, list in well under this.
    constexpr qsizetype longestListing = qsizetype(512) << 20;
    const Result result = run({ u"l"_s, u"-slt"_s, u"-sns-"_s, u"-sccUTF-8"_s, u"-bd"_s, u"--"_s, raw },
        std::nullopt, longestListing);
    if (result.output.size() > longestListing)
        throw DiskImageError(
            u"The disk image's volume lists more files than any app has. Refusing to open it."_s);
    if (result.exitCode != 0)
        return std::nullopt;
    return parseListing(result.output);
}

void SevenZip::extract(
    const QString& raw, const QString& type, const QString& destination, qint64 largestFile) const
{
    const Result result = run({ u"x"_s, u"-y"_s, u"-sns-"_s, u"-sccUTF-8"_s, u"-bd"_s, u"-t"_s + type,
                                  u"-o"_s + destination, u"--"_s, raw },
        largestFile);
    if (result.signal == SIGXFSZ)
        throw DiskImageError(
            u"The disk image's volume holds more data than it lists. Refusing to open it."_s);
    if (result.exitCode == 0
        || result.exitCode == 1) // 1: warnings only, such as data after the end of the volume
        return;
    QStringList complaints;
    const QByteArray messages = result.errors + '\n' + result.output;
    for (const QByteArray& line : messages.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("ERROR:") && !isLinkComplaint(trimmed))
            complaints.append(QString::fromUtf8(trimmed.mid(6)).trimmed());
    }
    const bool onlyLinks = result.exitCode == 2 && complaints.isEmpty() && messages.contains("Dangerous");
    if (onlyLinks)
        return;
    if (complaints.isEmpty())
        complaints.append(result.exitCode < 0 ? u"7-Zip stopped unexpectedly"_s
                                              : u"7-Zip exited with status %1"_s.arg(result.exitCode));
    throw DiskImageError(failure(complaints.join(u"; "_s)));
}

QByteArray SevenZip::readLink(const QString& raw, const QString& type, const QByteArray& path) const
{
    // -so writes to a pipe, which no file-size limit touches: a link's text
    // is never longer than a path.
    constexpr qsizetype longestPath = 4096;
    Result result = run({ u"x"_s, u"-so"_s, u"-spd"_s, u"-sns-"_s, u"-bd"_s, u"-t"_s + type, u"--"_s, raw,
                            QString::fromUtf8(path) },
        std::nullopt, longestPath);
    if (result.exitCode != 0 || result.output.size() > longestPath)
        return {};
    while (result.output.endsWith('\0'))
        result.output.chop(1);
    return result.output;
}

} // namespace corvanta::udif
