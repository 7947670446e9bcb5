#include "ZipWriter.h"

#include "demo/ZipArchive.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanta::test {

namespace {

// Rewrites the headers of the entry `path`: its uncompressed size (when not
// negative) in the local header, or its Zip64 field, and in the central
// directory; its file type (when not 0) in the central directory's Unix mode.
void rewrite(QByteArray& zip, const QByteArray& path, qint64 size, unsigned type)
{
    auto* bytes = reinterpret_cast<uchar*>(zip.data());
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(bytes + at); };
    const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(bytes + at); };
    for (qsizetype at = 0; (at = zip.indexOf("PK", at)) >= 0 && at + 46 <= zip.size(); ++at) {
        if (u32(at) == 0x04034b50 && size >= 0 && zip.mid(at + 30, u16(at + 26)) == path) {
            if (u32(at + 22) != 0xffffffff) {
                qToLittleEndian<quint32>(quint32(size), bytes + at + 22);
                continue;
            }
            // Zip64: the size is the first field of the extra block 0x0001.
            const qsizetype end = at + 30 + u16(at + 26) + u16(at + 28);
            for (qsizetype extra = at + 30 + u16(at + 26); extra + 12 <= end; extra += 4 + u16(extra + 2)) {
                if (u16(extra) == 0x0001)
                    qToLittleEndian<quint64>(quint64(size), bytes + extra + 4);
            }
        } else if (u32(at) == 0x02014b50 && zip.mid(at + 46, u16(at + 28)) == path) {
            if (size >= 0)
                qToLittleEndian<quint32>(quint32(std::min<qint64>(size, 0xffffffff)), bytes + at + 24);
            if (type != 0)
                qToLittleEndian<quint16>(quint16((u16(at + 40) & 07777) | type), bytes + at + 40);
        }
    }
}

} // namespace

ZipWriter::ZipWriter(const QString& path, bool bombs)
    : m_archive(archive_write_new())
    , m_path(path)
    , m_time(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC).toSecsSinceEpoch())
{
    archive_write_set_format_zip(m_archive);
    if (bombs)
        archive_write_set_options(m_archive, "zip:zip64,zip:compression-level=1");
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
    if (m_lies.empty())
        return;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite))
        ADD_FAILURE() << "can't reopen " << m_path.toStdString();
    QByteArray zip = file.readAll();
    for (const Lie& lie : m_lies)
        rewrite(zip, lie.path, lie.size, lie.type);
    file.seek(0);
    file.write(zip);
}

ZipWriter& ZipWriter::setTime(const QDateTime& time)
{
    m_time = time.toSecsSinceEpoch();
    return *this;
}

bool ZipWriter::header(
    const QByteArray& path, unsigned type, int mode, qint64 size, const QString& target, qint64 mtime)
{
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, path.constData());
    archive_entry_set_filetype(entry, type);
    archive_entry_set_perm(entry, mode_t(mode));
    archive_entry_set_mtime(entry, mtime, 0);
    if (type == AE_IFLNK)
        archive_entry_set_symlink(entry, target.toUtf8().constData());
    archive_entry_set_size(entry, size);
    const bool written = archive_write_header(m_archive, entry) == ARCHIVE_OK;
    if (!written)
        ADD_FAILURE() << "can't add " << path.toStdString() << ": " << archive_error_string(m_archive);
    archive_entry_free(entry);
    return written;
}

void ZipWriter::add(
    const QString& path, unsigned type, int mode, const QByteArray& data, const QString& target, qint64 mtime)
{
    if (header(path.toUtf8(), type, mode, type == AE_IFREG ? data.size() : 0, target, mtime)
        && type == AE_IFREG && !data.isEmpty())
        archive_write_data(m_archive, data.constData(), std::size_t(data.size()));
}

ZipWriter& ZipWriter::zeros(const QString& path, qint64 bytes, qint64 declared)
{
    if (!header(path.toUtf8(), AE_IFREG, 0644, bytes, {}, m_time))
        return *this;
    const QByteArray block(1 << 20, '\0');
    for (qint64 left = bytes; left > 0; left -= block.size())
        archive_write_data(m_archive, block.constData(), std::size_t(std::min<qint64>(left, block.size())));
    if (declared >= 0)
        m_lies.push_back({ path.toUtf8(), declared, 0 });
    return *this;
}

ZipWriter& ZipWriter::emptyFiles(int count, const QString& below)
{
    // Deflate would set up a compressor for each entry; storing is far faster.
    archive_write_zip_set_compression_store(m_archive);
    const QByteArray suffix = '/' + below.toUtf8();
    for (int i = 0; i < count; ++i) {
        if (!header(QByteArray::number(i) + suffix, AE_IFREG, 0644, 0, {}, m_time))
            break;
    }
    archive_write_zip_set_compression_deflate(m_archive);
    return *this;
}

ZipWriter& ZipWriter::special(const QString& path, unsigned type)
{
    add(path, AE_IFREG, 0644, {}, {}, m_time);
    m_lies.push_back({ path.toUtf8(), -1, type });
    return *this;
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
    demo::appendTree(m_archive, root, prefix, m_path);
    return *this;
}

} // namespace corvanta::test
