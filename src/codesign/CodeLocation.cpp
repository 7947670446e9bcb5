#include "codesign/CodeLocation.h"

#include "codesign/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

// The executable named by the Info.plist, when the name is a plain file name
// (a name with a slash could point anywhere).
QString executableName(const std::optional<QVariantMap>& info)
{
    if (!info)
        return {};
    const QString name = info->value(u"CFBundleExecutable"_s).toString();
    if (name.isEmpty() || name.contains(u'/') || name == u"." || name == u"..")
        return {};
    return name;
}

} // namespace

QString linkTarget(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    char buffer[4096];
    const ssize_t length = ::readlink(native.constData(), buffer, sizeof buffer);
    if (length < 0 || std::size_t(length) >= sizeof buffer)
        return {};
    return QFile::decodeName(QByteArray(buffer, length));
}

std::optional<QString> resolvedPath(const QString& path)
{
    // More links than this on one path is a loop, as the kernel sees it.
    constexpr int maxLinks = 40;
    // Not cleaned first: "link/.." is wherever the link leads, then up.
    QStringList pending = path.split(u'/', Qt::SkipEmptyParts);
    QString current; // resolved so far; empty for "/"
    int links = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == u".")
            continue;
        if (part == u"..") {
            current.truncate(std::max<qsizetype>(current.lastIndexOf(u'/'), 0));
            continue;
        }
        const QString candidate = current + u'/' + part;
        struct stat info { };
        if (::lstat(QFile::encodeName(candidate).constData(), &info) != 0) {
            pending.prepend(candidate);
            return QDir::cleanPath(pending.join(u'/'));
        }
        if (!S_ISLNK(info.st_mode)) {
            current = candidate;
            continue;
        }
        const QString target = linkTarget(candidate);
        if (++links > maxLinks || target.isEmpty())
            return std::nullopt;
        if (target.startsWith(u'/'))
            current.clear();
        pending = target.split(u'/', Qt::SkipEmptyParts) + pending;
    }
    return current.isEmpty() ? u"/"_s : current;
}

bool linkedBelow(const QString& root, const QString& path, bool file)
{
    if (!path.startsWith(root + u'/'))
        return true;
    const QStringList parts = path.mid(root.size() + 1).split(u'/', Qt::SkipEmptyParts);
    QString current = root;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        current += u'/' + parts[i];
        struct stat info { };
        if (::lstat(QFile::encodeName(current).constData(), &info) != 0)
            return false;
        const bool last = i + 1 == parts.size();
        if (last && file ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode))
            return true;
    }
    return false;
}

std::optional<CodeLocation> CodeLocation::locate(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    CodeLocation location;
    location.path = QDir::cleanPath(info.absoluteFilePath());
    if (!info.isDir()) {
        location.executablePath = location.path;
        return location;
    }

    const QString root = location.path;
    if (QFileInfo(root + u"/Contents"_s).isDir()) {
        location.kind = BundleKind::app;
        location.contentRoot = root + u"/Contents"_s;
        location.infoPlistPath = location.contentRoot + u"/Info.plist"_s;
        location.infoPlist = PropertyList::readDictionary(location.infoPlistPath);
        if (const QString name = executableName(location.infoPlist); !name.isEmpty())
            location.executablePath = location.contentRoot + u"/MacOS/"_s + name;
    } else if (QFileInfo(root + u"/Versions/Current"_s).isDir()) {
        location.kind = BundleKind::framework;
        // Seal paths are relative to the version folder that Current names,
        // which must be a sibling ("A"), never a path leading elsewhere.
        const QString current = root + u"/Versions/Current"_s;
        QString version = u"Current"_s;
        if (QFileInfo(current).isSymLink()) {
            version = linkTarget(current);
            if (version.isEmpty() || version.contains(u'/') || version == u"." || version == u"..")
                return std::nullopt;
        }
        location.contentRoot = root + u"/Versions/"_s + version;
        location.infoPlistPath = location.contentRoot + u"/Resources/Info.plist"_s;
        location.infoPlist = PropertyList::readDictionary(location.infoPlistPath);
        if (const QString name = executableName(location.infoPlist); !name.isEmpty())
            location.executablePath = location.contentRoot + u'/' + name;
    } else if (QFileInfo(root + u"/Info.plist"_s).isFile()) {
        location.kind = BundleKind::shallow;
        location.contentRoot = root;
        location.infoPlistPath = root + u"/Info.plist"_s;
        location.infoPlist = PropertyList::readDictionary(location.infoPlistPath);
        if (const QString name = executableName(location.infoPlist); !name.isEmpty())
            location.executablePath = root + u'/' + name;
    } else {
        return std::nullopt;
    }
    location.resourceSealPath = location.contentRoot + u"/_CodeSignature/CodeResources"_s;
    return location;
}

} // namespace corvanta::codesign
