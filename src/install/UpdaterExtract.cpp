#include "base/Error.h"
#include "codesign/PropertyList.h"
#include "install/FileTree.h"
#include "install/Updater.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Rename.h"
#include "platform/UnpackLimits.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

namespace fs = std::filesystem;

std::optional<QString> bundleIdentifier(const QString& app)
{
    const auto plist = PropertyList::load(app + u"/Contents/Info.plist"_s);
    return plist ? plist->string(u"CFBundleIdentifier"_s) : std::nullopt;
}

// Folders named "*.app" directly in `folder`, in name order; links are left out.
QStringList appsIn(const QString& folder, QStringList* others = nullptr)
{
    QStringList apps;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir() && entry.fileName().endsWith(u".app"_s, Qt::CaseInsensitive))
            apps.append(entry.filePath());
        else if (others && entry.isDir())
            others->append(entry.filePath());
    }
    return apps;
}

std::vector<std::string> components(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// "." dropped, ".." taking away the component before it, never above "/".
std::string lexical(const std::vector<std::string>& parts)
{
    std::vector<std::string> kept;
    for (const std::string& part : parts) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!kept.empty())
                kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    std::string path;
    for (const std::string& part : kept)
        path += '/' + part;
    return path.empty() ? std::string("/") : path;
}

bool inside(const std::string& path, const std::string& root)
{
    return path == root
        || (path.size() > root.size() && path.compare(0, root.size(), root) == 0
            && (root.back() == '/' || path[root.size()] == '/'));
}

QString decode(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Ditto's failures read as the tool's would on macOS.
template<typename Body> void viaDitto(Body body)
{
    try {
        body();
    } catch (const UnpackRefusal& error) {
        throw UpdateError(error.description());
    } catch (const SystemError& error) {
        throw UpdateError(u"ditto failed: "_s + error.description());
    }
}

} // namespace

QString Updater::findApp(const QString& folder, const QString& bundleID)
{
    QStringList others;
    QStringList candidates = appsIn(folder, &others);
    for (const QString& other : std::as_const(others))
        candidates += appsIn(other);
    for (const QString& candidate : std::as_const(candidates)) {
        if (bundleIdentifier(candidate) == bundleID)
            return candidate;
    }
    if (!candidates.isEmpty())
        return candidates.first();
    throw UpdateError(u"The download doesn't contain an app."_s);
}

void Updater::confine(const QString& folder)
{
    const auto resolved = files::realPath(folder);
    if (!resolved)
        throw UpdateError(u"The download couldn't be unpacked."_s);
    const std::string root = QFile::encodeName(*resolved).toStdString();

    std::error_code error;
    fs::recursive_directory_iterator walk(root, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::directory_entry& entry = *walk;
        std::error_code kind;
        if (!entry.is_symlink(kind))
            continue;
        const fs::path link = entry.path();
        std::error_code reading;
        const std::string destination = fs::read_symlink(link, reading).native();
        if (reading)
            throw SystemError(u"Can't read the link %1: %2"_s.arg(
                                  decode(link.native()), QString::fromLocal8Bit(reading.message())),
                reading.value());

        std::vector<std::string> parts;
        if (destination.empty() || destination.front() != '/')
            parts = components(link.parent_path().native());
        for (std::string& part : components(destination))
            parts.push_back(std::move(part));
        bool escapes = !inside(lexical(parts), root);
        if (!escapes) {
            std::error_code resolving;
            const fs::path real = fs::canonical(link, resolving);
            escapes = !resolving && !inside(real.native(), root);
        }
        if (escapes) {
            throw UpdateError(
                u"The download contains a link to a location outside the app (%1 \u2192 %2). "
                u"Refusing to install."_s.arg(decode(link.filename().native()), decode(destination)));
        }
    }
    if (error)
        throw SystemError(
            u"Can't list %1: %2"_s.arg(*resolved, QString::fromLocal8Bit(error.message())), error.value());
}

Extracted Updater::extract(const QString& file, const QString& staging, const QString& bundleID) const
{
    const auto kind = format(file);
    if (!kind)
        throw UpdateError(u"Unsupported download format. Corvanta installs from .zip and .dmg only."_s);
    const QString extracted = staging + u"/extracted"_s;

    if (*kind == Format::zip) {
        viaDitto([&] { m_services.ditto.extractZip(file, extracted); });
        confine(extracted);
        return { findApp(extracted, bundleID), false };
    }

    DiskImages& images = m_services.diskImages;
    const bool agreement = images.hasLicenseAgreement(file);
    const QString mountPoint = staging + u"/mount"_s;
    QString volume;
    try {
        volume = images.attach(file, mountPoint, agreement);
    } catch (const DiskImageError& error) {
        // Already the sentence for the user: damaged, encrypted, unreadable.
        throw UpdateError(error.description());
    } catch (const UnpackRefusal& error) {
        throw UpdateError(error.description());
    } catch (const SystemError& error) {
        throw UpdateError(u"hdiutil failed: "_s + error.description());
    }
    // The image is detached on every path out, also when the copy fails.
    struct Detach {
        DiskImages& images;
        QString mountPoint;
        ~Detach() { images.detach(mountPoint); }
    } detach { images, mountPoint };

    const QString found = findApp(volume, bundleID);
    if (::mkdir(QFile::encodeName(extracted).constData(), 0700) != 0)
        throw SystemError::fromErrno(u"Can't create the folder "_s + extracted);
    const QString moved = extracted + u'/' + QFileInfo(found).fileName();
    try {
        // A volume unpacked beside the apps gives up its app by a rename; a
        // real mount is another volume, read once by a copy before any check.
        m_services.rename.noReplace(found, moved);
    } catch (const SystemError& error) {
        if (error.code() != EXDEV)
            throw;
        viaDitto([&] { m_services.ditto.copy(found, moved); });
    }
    confine(extracted);
    return { findApp(extracted, bundleID), agreement };
}

} // namespace corvanta
