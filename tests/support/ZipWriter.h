#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct archive;

namespace corvanta::test {

// Writes zip archives for tests with libarchive, including the entries a
// hostile archive would hold: absolute paths, ".." components and links
// that lead anywhere. Paths are stored exactly as given.
class ZipWriter {
public:
    explicit ZipWriter(const QString& path); // fails the test when it can't open
    ~ZipWriter(); // finishes the archive if close() wasn't called
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    ZipWriter& file(const QString& path, const QByteArray& data, int mode = 0644);
    ZipWriter& folder(const QString& path, int mode = 0755);
    ZipWriter& link(const QString& path, const QString& target);
    // Every file, folder and link under `root`, stored under `prefix` (e.g.
    // "Foo.app" for the bundle at `root`), with their modes and times.
    ZipWriter& tree(const QString& root, const QString& prefix);

    // Entries get this modification time (default: 2024-01-02 03:04:05 UTC).
    ZipWriter& setTime(const QDateTime& time);

    void close();

private:
    void add(const QString& path, unsigned type, int mode, const QByteArray& data, const QString& target,
        qint64 mtime);

    struct archive* m_archive = nullptr;
    qint64 m_time;
};

} // namespace corvanta::test
