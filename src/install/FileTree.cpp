#include "install/FileTree.h"

#include <cstdlib>
#include <memory>
#include <string>

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::files {

namespace {

struct CloseDir {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

bool removeAt(const std::string& path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.c_str()) == 0;
    // Unpacked apps may hold read-only folders, whose entries can't be
    // removed until the folder is writable again.
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    bool ok = true;
    {
        std::unique_ptr<DIR, CloseDir> folder(::opendir(path.c_str()));
        if (!folder)
            return false;
        while (const dirent* entry = ::readdir(folder.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                ok = removeAt(path + '/' + name) && ok;
        }
    }
    return ::rmdir(path.c_str()) == 0 && ok;
}

} // namespace

bool exists(const QString& path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

std::optional<QString> realPath(const QString& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(QFile::encodeName(path).constData(), nullptr), &std::free);
    if (!real)
        return std::nullopt;
    return QFile::decodeName(real.get());
}

bool removeTree(const QString& path) noexcept
{
    try {
        if (path.isEmpty())
            return false;
        return removeAt(QFile::encodeName(path).toStdString());
    } catch (...) {
        return false;
    }
}

} // namespace corvanta::files
