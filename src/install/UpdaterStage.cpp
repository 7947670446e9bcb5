#include "base/Error.h"
#include "codesign/PropertyList.h"
#include "install/FileTree.h"
#include "install/Updater.h"
#include "platform/Rename.h"

#include <cerrno>
#include <map>
#include <string>

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// No app needs others to write its files, nor privileges or sticky folders.
constexpr mode_t unsafeBits = S_IWGRP | S_IWOTH | S_ISUID | S_ISGID | S_ISVTX;
// Deeper than the unpacking caps allow; a guard against a tree that grew.
constexpr int maxDepth = 128;

QString decode(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

struct CloseDir {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

// One pass over the staged bundle through folder descriptors, never following
// a link: refuses what no app holds, notes each file's links, and takes the
// unsafe bits off every file and folder.
class TreeWalk {
public:
    explicit TreeWalk(const QString& app)
        : m_app(app)
    {
    }

    void walk(int folder, const std::string& relative, int depth)
    {
        if (depth > maxDepth)
            throw UpdateError(u"The download nests folders too deep for an app. Refusing to install."_s);
        const int listing = ::dup(folder);
        std::unique_ptr<DIR, CloseDir> entries(listing >= 0 ? ::fdopendir(listing) : nullptr);
        if (!entries) {
            if (listing >= 0)
                ::close(listing);
            throw SystemError::fromErrno(u"Can't list "_s + shown(relative));
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(entries.get());
            if (!entry) {
                if (errno != 0)
                    throw SystemError::fromErrno(u"Can't list "_s + shown(relative));
                return;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = relative.empty() ? name : relative + '/' + name;
            struct stat st { };
            if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                throw SystemError::fromErrno(u"Can't read "_s + shown(path));
            if (S_ISLNK(st.st_mode))
                continue; // confined separately: links must resolve inside the app
            if (S_ISREG(st.st_mode)) {
                if (st.st_nlink > 1) {
                    auto& [seen, links, where] = m_hardLinks[{ st.st_dev, st.st_ino }];
                    ++seen;
                    links = st.st_nlink;
                    where = path;
                }
                if ((st.st_mode & unsafeBits)
                    && ::fchmodat(folder, name.c_str(), st.st_mode & 07777 & ~unsafeBits, 0) != 0)
                    throw SystemError::fromErrno(u"Can't set the permissions of "_s + shown(path));
                continue;
            }
            if (!S_ISDIR(st.st_mode)) {
                throw UpdateError(
                    u"The download contains a special file (%1), which no app holds. Refusing to install."_s
                        .arg(decode(path)));
            }
            Descriptor child { ::openat(
                folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) };
            if (child.fd < 0)
                throw SystemError::fromErrno(u"Can't open "_s + shown(path));
            if ((st.st_mode & unsafeBits) && ::fchmod(child.fd, st.st_mode & 07777 & ~unsafeBits) != 0)
                throw SystemError::fromErrno(u"Can't set the permissions of "_s + shown(path));
            walk(child.fd, path, depth + 1);
        }
    }

    // A file linked from outside the app would change with it, or change it.
    void checkHardLinks() const
    {
        for (const auto& [inode, links] : m_hardLinks) {
            if (std::get<0>(links) < std::get<1>(links)) {
                throw UpdateError(
                    u"The download contains a hard link to a file outside the app (%1). Refusing to install."_s
                        .arg(decode(std::get<2>(links))));
            }
        }
    }

private:
    QString shown(const std::string& relative) const
    {
        return relative.empty() ? m_app : m_app + u'/' + decode(relative);
    }

    QString m_app;
    std::map<std::pair<dev_t, ino_t>, std::tuple<nlink_t, nlink_t, std::string>> m_hardLinks;
};

// What the code-signature check and the scan read must be the bundle's own
// folders and files: a link there would have them vouch for another tree.
void checkSpine(const QString& app)
{
    const auto kind = [](const QString& path) -> std::optional<mode_t> {
        struct stat st { };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return std::nullopt;
        return st.st_mode & S_IFMT;
    };
    const auto refuse = [&](const QString& relative) {
        return UpdateError(
            u"The download's app has a link where its own %1 must be. Refusing to install."_s.arg(relative));
    };
    if (kind(app) != S_IFDIR)
        throw refuse(QFileInfo(app).fileName());
    if (const auto contents = kind(app + u"/Contents"_s); contents != S_IFDIR) {
        if (contents == S_IFLNK)
            throw refuse(u"Contents"_s);
        throw UpdateError(u"The download's app has no Contents folder. Refusing to install."_s);
    }
    QStringList spine { u"Contents/Info.plist"_s, u"Contents/MacOS"_s, u"Contents/_CodeSignature"_s,
        u"Contents/_CodeSignature/CodeResources"_s, u"Contents/CodeResources"_s };
    if (kind(app + u"/Contents/Info.plist"_s) == S_IFREG) {
        if (const auto plist = PropertyList::load(app + u"/Contents/Info.plist"_s))
            if (const auto executable = plist->string(u"CFBundleExecutable"_s);
                executable && !executable->contains(u'/'))
                spine.append(u"Contents/MacOS/"_s + *executable);
    }
    for (const QString& relative : spine) {
        if (kind(app + u'/' + relative) == S_IFLNK)
            throw refuse(relative);
    }
}

} // namespace

void Updater::checkBundleTree(const QString& app)
{
    checkSpine(app);
    Descriptor root { ::open(
        QFile::encodeName(app).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) };
    if (root.fd < 0)
        throw SystemError::fromErrno(u"Can't open "_s + app);
    struct stat st { };
    if (::fstat(root.fd, &st) != 0)
        throw SystemError::fromErrno(u"Can't read "_s + app);
    if ((st.st_mode & unsafeBits) && ::fchmod(root.fd, st.st_mode & 07777 & ~unsafeBits) != 0)
        throw SystemError::fromErrno(u"Can't set the permissions of "_s + app);
    TreeWalk walk(app);
    walk.walk(root.fd, {}, 0);
    walk.checkHardLinks();
    // Links may only lead to another place inside this very app, such as a
    // framework's Versions/Current; never to a sibling in the unpacked tree.
    confine(app);
}

QString Updater::stage(const QString& found, const QString& staging, const QString& fileName) const
{
    const QString staged = staging + u'/' + fileName;
    if (found != staged)
        m_services.rename.noReplace(found, staged);
    checkBundleTree(staged);
    return staged;
}

} // namespace corvanta
