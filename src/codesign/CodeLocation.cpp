#include "codesign/CodeLocation.h"

#include "codesign/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
