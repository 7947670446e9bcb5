#pragma once

#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct archive;

namespace corvanta::test {

// Writes zip archives for tests with libarchive, including the entries a
// hostile archive would hold: absolute paths, ".." components, links that
// lead anywhere, bombs and headers that lie. Paths are stored exactly as given.
class ZipWriter {
public:
    // Fails the test when it can't open. With `bombs`, every entry carries
    // Zip64 extensions, so that zeros() may declare more than 4 GB, and data
    // is deflated at the fastest level, which keeps gigabytes quick to write.
    explicit ZipWriter(const QString& path, bool bombs = false);
    ~ZipWriter(); // finishes the archive if close() wasn't called
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    ZipWriter& file(const QString& path, const QByteArray& data, int mode = 0644);
    ZipWriter& folder(const QString& path, int mode = 0755);
    ZipWriter& link(const QString& path, const QString& target);
    // Every file, folder and link under `root`, stored under `prefix` (e.g.
    // "Foo.app" for the bundle at `root`), with their modes and times.
    ZipWriter& tree(const QString& root, const QString& prefix);

    // `bytes` zero bytes at `path`, whose headers declare `declared` bytes
    // instead when it is given.
    ZipWriter& zeros(const QString& path, qint64 bytes, qint64 declared = -1);
    // `count` empty files at "0/<below>", "1/<below>", "2/<below>"…
    ZipWriter& emptyFiles(int count, const QString& below);
    // An empty entry of file type `type` (AE_IFCHR, AE_IFSOCK…), which
    // libarchive refuses to write: stored as a file, its type set at close().
    ZipWriter& special(const QString& path, unsigned type);

    // Entries get this modification time (default: 2024-01-02 03:04:05 UTC).
    ZipWriter& setTime(const QDateTime& time);

    void close();

private:
    void add(const QString& path, unsigned type, int mode, const QByteArray& data, const QString& target,
        qint64 mtime);
    bool header(
        const QByteArray& path, unsigned type, int mode, qint64 size, const QString& target, qint64 mtime);

    // A header rewritten once libarchive is done: what it won't write itself.
    struct Lie {
        QByteArray path;
        qint64 size = -1;
        unsigned type = 0;
    };

    struct archive* m_archive = nullptr;
    QString m_path;
    qint64 m_time;
    std::vector<Lie> m_lies;
};

} // namespace corvanta::test
