#include "platform/UnpackLimits.h"

#include <QFile>
#include <QLocale>

#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// In binary gigabytes, as file managers count them: "32 GB", "1.5 GB".
QString gigabytes(qint64 bytes)
{
    QString number = QLocale::c().toString(double(bytes) / double(1LL << 30), 'f', 1);
    if (number.endsWith(u".0"_s))
        number.chop(2);
    return number + u" GB"_s;
}

} // namespace

UnpackBudget::UnpackBudget(qint64 downloadBytes)
    : m_download(qMax<qint64>(downloadBytes, 1))
{
}

void UnpackBudget::add(int depth, qint64 logicalBytes)
{
    if (depth > maxDepth)
        throw UnpackRefusal(
            u"The download nests folders more than %1 deep, which no app does. Refusing to install."_s.arg(
                maxDepth));
    if (++m_entries > maxEntries)
        throw UnpackRefusal(
            u"The download holds more than %1 files, which no app does. Refusing to install."_s.arg(
                QLocale(QLocale::English).toString(maxEntries)));
    addBytes(logicalBytes);
}

void UnpackBudget::addBytes(qint64 logicalBytes)
{
    if (logicalBytes < 0 || logicalBytes > maxTotalBytes - m_bytes)
        throw UnpackRefusal(
            u"The download unpacks to more than %1, which no app does. Refusing to install."_s.arg(
                gigabytes(maxTotalBytes)));
    m_bytes += logicalBytes;
    if (m_bytes > ratioFloor && m_bytes / m_download > maxRatio)
        throw UnpackRefusal(
            u"The download unpacks to more than %1 times its own size, which no app does. Refusing to install."_s
                .arg(maxRatio));
}

void UnpackBudget::requireFreeSpace(const QString& folder, qint64 bytes)
{
    struct statvfs volume { };
    if (::statvfs(QFile::encodeName(folder).constData(), &volume) != 0)
        throw SystemError::fromErrno(u"Can't read the free space of "_s + folder);
    const auto available = qint64(volume.f_bavail) * qint64(volume.f_frsize);
    if (available - freeSpaceMargin < bytes)
        throw UnpackRefusal(
            u"There isn't enough free space to unpack the download: it needs %1 and %2 is free."_s.arg(
                gigabytes(bytes + freeSpaceMargin), gigabytes(available)));
}

} // namespace corvanta
