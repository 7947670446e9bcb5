#include "demo/ZipArchive.h"

#include "base/Error.h"

#include <climits>
#include <memory>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

using ArchivePtr = std::unique_ptr<struct archive, decltype(&archive_write_free)>;
using EntryPtr = std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)>;

Error failure(struct archive* archive, const QString& output)
{
    return Error(u"Couldn't write the zip archive "_s + output + u": "_s
        + QString::fromUtf8(archive_error_string(archive)));
}

void add(struct archive* archive, const QString& output, const QString& path, const QString& name)
{
    struct stat info { };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        throw SystemError::fromErrno(u"Couldn't read "_s + path);
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname_utf8(entry.get(), name.toUtf8().constData());
    archive_entry_set_mode(entry.get(), info.st_mode);
    archive_entry_set_mtime(entry.get(), info.st_mtime, 0);
    QByteArray data;
    if (S_ISLNK(info.st_mode)) {
        // The target exactly as written; QFileInfo would make it absolute.
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length
            = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
        if (length < 0)
            throw SystemError::fromErrno(u"Couldn't read the link "_s + path);
        target.truncate(length);
        archive_entry_set_symlink(entry.get(), target.constData());
        archive_entry_set_size(entry.get(), 0);
    } else if (S_ISREG(info.st_mode)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(u"Couldn't read "_s + path + u": "_s + file.errorString());
        data = file.readAll();
        archive_entry_set_size(entry.get(), data.size());
    } else {
        archive_entry_set_size(entry.get(), 0);
    }
    if (archive_write_header(archive, entry.get()) != ARCHIVE_OK)
        throw failure(archive, output);
    if (!data.isEmpty() && archive_write_data(archive, data.constData(), size_t(data.size())) != data.size())
        throw failure(archive, output);
}

} // namespace

void zipTree(const QString& root, const QString& prefix, const QString& output)
{
    ArchivePtr archive(archive_write_new(), archive_write_free);
    if (archive_write_set_format_zip(archive.get()) != ARCHIVE_OK
        || archive_write_open_filename(archive.get(), QFile::encodeName(output).constData()) != ARCHIVE_OK)
        throw failure(archive.get(), output);

    appendTree(archive.get(), root, prefix, output);
    if (archive_write_close(archive.get()) != ARCHIVE_OK)
        throw failure(archive.get(), output);
}

void appendTree(struct archive* archive, const QString& root, const QString& prefix, const QString& output)
{
    add(archive, output, root, prefix + u'/');
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    QStringList paths;
    while (walk.hasNext())
        paths << walk.next();
    // Parents before children, in a stable order, so the archive is the same every time.
    paths.sort();
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QString name
            = prefix + path.mid(root.size()) + (info.isDir() && !info.isSymLink() ? u"/"_s : u""_s);
        add(archive, output, path, name);
    }
}

} // namespace corvanta::demo
