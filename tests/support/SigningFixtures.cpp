#include "support/SigningFixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

QString realworld(const QString& folder, const QString& name)
{
    return QStringLiteral(CORVANTA_REALWORLD) + u'/' + folder + u'/' + name;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

bool extractZip(const QString& archivePath, const QString& destination)
{
    struct archive* reader = archive_read_new();
    archive_read_support_format_zip_seekable(reader);
    if (archive_read_open_filename(reader, QFile::encodeName(archivePath).constData(), 1 << 16)
        != ARCHIVE_OK) {
        archive_read_free(reader);
        return false;
    }
    struct archive* writer = archive_write_disk_new();
    archive_write_disk_set_options(writer,
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    bool ok = true;
    struct archive_entry* entry = nullptr;
    while (true) {
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK) {
            ok = false;
            break;
        }
        const QString target = destination + u'/' + QString::fromUtf8(archive_entry_pathname(entry));
        const QByteArray native = QFile::encodeName(target);
        archive_entry_set_pathname(entry, native.constData());
        if (archive_write_header(writer, entry) != ARCHIVE_OK) {
            ok = false;
            break;
        }
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        while (archive_read_data_block(reader, &block, &size, &offset) == ARCHIVE_OK)
            archive_write_data_block(writer, block, size, offset);
        archive_write_finish_entry(writer);
    }
    archive_write_free(writer);
    archive_read_free(reader);
    return ok;
}

bool copyTree(const QString& from, const QString& to)
{
    const QFileInfo source(from);
    if (source.isSymLink()) {
        char buffer[4096];
        const ssize_t length = ::readlink(QFile::encodeName(from).constData(), buffer, sizeof buffer);
        return length >= 0
            && ::symlink(QByteArray(buffer, length).constData(), QFile::encodeName(to).constData()) == 0;
    }
    if (source.isDir()) {
        if (!QDir().mkpath(to))
            return false;
        const QStringList names
            = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (!copyTree(from + u'/' + name, to + u'/' + name))
                return false;
        }
        return true;
    }
    return QFile::copy(from, to);
}

void flipByte(const QString& path, qint64 offset)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(offset))
        return;
    char byte = 0;
    file.getChar(&byte);
    file.seek(offset);
    file.putChar(char(~byte));
}

} // namespace corvanta::test
