#include "ZipWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::test {

ZipWriter::ZipWriter(const QString& path)
    : m_archive(archive_write_new())
    , m_time(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC).toSecsSinceEpoch())
{
    archive_write_set_format_zip(m_archive);
    if (archive_write_open_filename(m_archive, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        ADD_FAILURE() << "can't write " << path.toStdString() << ": " << archive_error_string(m_archive);
}

ZipWriter::~ZipWriter()
{
    close();
}

void ZipWriter::close()
{
    if (!m_archive)
        return;
    archive_write_close(m_archive);
    archive_write_free(m_archive);
    m_archive = nullptr;
}

ZipWriter& ZipWriter::setTime(const QDateTime& time)
{
    m_time = time.toSecsSinceEpoch();
    return *this;
}

void ZipWriter::add(
    const QString& path, unsigned type, int mode, const QByteArray& data, const QString& target, qint64 mtime)
{
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, path.toUtf8().constData());
    archive_entry_set_filetype(entry, type);
    archive_entry_set_perm(entry, mode_t(mode));
    archive_entry_set_mtime(entry, mtime, 0);
    if (type == AE_IFLNK)
        archive_entry_set_symlink(entry, target.toUtf8().constData());
    archive_entry_set_size(entry, type == AE_IFREG ? data.size() : 0);
    if (archive_write_header(m_archive, entry) != ARCHIVE_OK)
        ADD_FAILURE() << "can't add " << path.toStdString() << ": " << archive_error_string(m_archive);
    if (type == AE_IFREG && !data.isEmpty())
        archive_write_data(m_archive, data.constData(), std::size_t(data.size()));
    archive_entry_free(entry);
}

ZipWriter& ZipWriter::file(const QString& path, const QByteArray& data, int mode)
{
    add(path, AE_IFREG, mode, data, {}, m_time);
    return *this;
}

ZipWriter& ZipWriter::folder(const QString& path, int mode)
{
    add(path.endsWith(u'/') ? path : path + u'/', AE_IFDIR, mode, {}, {}, m_time);
    return *this;
}

ZipWriter& ZipWriter::link(const QString& path, const QString& target)
{
    add(path, AE_IFLNK, 0755, {}, target, m_time);
    return *this;
}

ZipWriter& ZipWriter::tree(const QString& root, const QString& prefix)
{
    struct stat top { };
    ::lstat(QFile::encodeName(root).constData(), &top);
    add(prefix + u'/', AE_IFDIR, int(top.st_mode & 07777), {}, {}, top.st_mtim.tv_sec);
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    QStringList paths;
    while (walk.hasNext())
        paths.append(walk.next());
    paths.sort();
    for (const QString& path : std::as_const(paths)) {
        struct stat st { };
        ::lstat(QFile::encodeName(path).constData(), &st);
        const QString name = prefix + path.mid(root.size());
        const int mode = int(st.st_mode & 07777);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
            add(name, AE_IFLNK, mode, {}, QFile::decodeName(QByteArray(target, length > 0 ? length : 0)),
                st.st_mtim.tv_sec);
        } else if (S_ISDIR(st.st_mode))
            add(name + u'/', AE_IFDIR, mode, {}, {}, st.st_mtim.tv_sec);
        else {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                ADD_FAILURE() << "can't read " << path.toStdString();
            add(name, AE_IFREG, mode, file.readAll(), {}, st.st_mtim.tv_sec);
        }
    }
    return *this;
}

} // namespace corvanta::test
