#include "diskimage/SevenZip.h"

#include "platform/DiskImages.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

// Complaints 7-Zip makes about links it declines to create; restoreLinks
// creates them afterwards, so they don't fail an extraction.
bool isLinkComplaint(const QByteArray& line)
{
    return line.contains("Dangerous link path was ignored") || line.contains("Dangerous symbolic link path");
}

// The link's text exactly as stored (QFile::symLinkTarget resolves it).
QByteArray linkText(const QString& path)
{
    QByteArray buffer(4096, '\0');
    const ssize_t length
        = ::readlink(QFile::encodeName(path).constData(), buffer.data(), std::size_t(buffer.size()));
    return length < 0 ? QByteArray() : buffer.left(length);
}

QString failure(const QString& detail)
{
    QString sentence = u"The disk image's volume couldn't be read: "_s + detail.trimmed();
    if (!sentence.endsWith(u'.'))
        sentence += u'.';
    return sentence;
}

} // namespace

std::optional<unsigned> parseModeText(const QString& text)
{
    if (text.size() != 10)
        return std::nullopt;
    unsigned mode = 0;
    for (int i = 0; i < 9; ++i) {
        const QChar c = text[1 + i];
        const unsigned bit = 1u << (8 - i);
        const int column = i % 3; // read, write, execute
        if (c == u'-')
            continue;
        if (column == 0 && c == u'r')
            mode |= bit;
        else if (column == 1 && c == u'w')
            mode |= bit;
        else if (column == 2 && (c == u'x' || c == u's' || c == u't'))
            mode |= bit;
        else if (column == 2 && (c == u'S' || c == u'T'))
            ; // the special bit without execute
        else
            return std::nullopt;
        if (column == 2 && (c == u's' || c == u'S'))
            mode |= i == 2 ? 04000u : 02000u;
        if (column == 2 && (c == u't' || c == u'T'))
            mode |= 01000u;
    }
    return mode;
}

SevenZip::SevenZip(QString program)
    : m_program(std::move(program))
{
}

QByteArray SevenZip::run(const QStringList& arguments, int& exitCode, QByteArray* errors) const
{
    QProcess process;
    // File names travel as UTF-8 whatever the caller's locale.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(m_program, arguments);
    if (!process.waitForStarted())
        throw DiskImageError(
            u"Corvanta needs 7-Zip (7zz) to open disk images, and it couldn't be started."_s);
    QByteArray output;
    QByteArray stderrBytes;
    while (!process.waitForFinished(100)) {
        output += process.readAllStandardOutput();
        stderrBytes += process.readAllStandardError();
        if (process.state() == QProcess::NotRunning)
            break;
    }
    output += process.readAllStandardOutput();
    stderrBytes += process.readAllStandardError();
    exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (errors)
        *errors = stderrBytes;
    return output;
}

std::optional<VolumeListing> SevenZip::list(const QString& raw) const
{
    int exitCode = 0;
    const QByteArray output
        = run({ u"l"_s, u"-slt"_s, u"-sns-"_s, u"-sccUTF-8"_s, u"-bd"_s, u"--"_s, raw }, exitCode);
    if (exitCode != 0)
        return std::nullopt;

    VolumeListing listing;
    bool inItems = false;
    QString path;
    for (const QByteArray& rawLine : output.split('\n')) {
        const QString line = QString::fromUtf8(rawLine);
        if (!inItems) {
            if (line == u"----------"_s)
                inItems = true;
            else if (line.startsWith(u"Type = "_s))
                listing.type = line.mid(7); // the innermost archive comes last
            continue;
        }
        if (line.startsWith(u"Path = "_s))
            path = line.mid(7);
        else if (line.startsWith(u"Mode = l"_s) && !path.isEmpty())
            listing.links.append(path);
        else if (line.startsWith(u"Mode = d"_s) && !path.isEmpty())
            if (const auto mode = parseModeText(line.mid(7)))
                listing.folderModes.emplace_back(path, *mode);
    }
    if (listing.type.isEmpty())
        return std::nullopt;
    return listing;
}

void SevenZip::extract(const QString& raw, const VolumeListing& listing, const QString& destination) const
{
    int exitCode = 0;
    QByteArray errors;
    const QByteArray output = run({ u"x"_s, u"-y"_s, u"-sns-"_s, u"-sccUTF-8"_s, u"-bd"_s,
                                      u"-t"_s + listing.type, u"-o"_s + destination, u"--"_s, raw },
        exitCode, &errors);
    if (exitCode == 0 || exitCode == 1) // 1: warnings only, such as data after the end of the volume
        return;
    QStringList complaints;
    const QByteArray messages = errors + '\n' + output;
    for (const QByteArray& line : messages.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("ERROR:") && !isLinkComplaint(trimmed))
            complaints.append(QString::fromUtf8(trimmed.mid(6)).trimmed());
    }
    const bool onlyLinks = exitCode == 2 && complaints.isEmpty() && messages.contains("Dangerous");
    if (onlyLinks)
        return;
    if (complaints.isEmpty())
        complaints.append(u"7-Zip exited with status %1"_s.arg(exitCode));
    throw DiskImageError(failure(complaints.join(u"; "_s)));
}

void SevenZip::restoreLinks(
    const QString& raw, const VolumeListing& listing, const QString& destination) const
{
    const QString prefix = destination + u'/';
    for (const QString& link : listing.links) {
        const QString path = prefix + link;
        const QFileInfo info(path);
        QByteArray target;
        if (info.isSymLink()) {
            const QString written = QFile::decodeName(linkText(path));
            if (written == destination)
                target = "/";
            else if (written.startsWith(prefix))
                target = QFile::encodeName(written.mid(destination.size()));
            else
                continue; // kept as written
        } else {
            // Not created: ask 7-Zip for the link's text.
            int exitCode = 0;
            target = run({ u"x"_s, u"-so"_s, u"-spd"_s, u"-sns-"_s, u"-bd"_s, u"-t"_s + listing.type, u"--"_s,
                             raw, link },
                exitCode);
            while (target.endsWith('\0'))
                target.chop(1);
            if (exitCode != 0 || target.isEmpty())
                throw DiskImageError(failure(u"the link "_s + link + u" can't be read"_s));
        }
        const QByteArray encoded = QFile::encodeName(path);
        if (::unlink(encoded.constData()) != 0 && errno != ENOENT)
            throw SystemError::fromErrno(u"Couldn't replace "_s + path);
        if (::symlink(target.constData(), encoded.constData()) != 0)
            throw SystemError::fromErrno(u"Couldn't create the link "_s + path);
    }
}

} // namespace corvanta::udif
