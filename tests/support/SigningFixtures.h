#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// A file of the real-world collection (../shared/realworld/<folder>/<name>).
QString realworld(const QString& folder, const QString& name);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// Extracts a zip archive into `destination` with its symbolic links and modes;
// false when the archive can't be read.
bool extractZip(const QString& archive, const QString& destination);

// Copies a folder tree, symbolic links kept as links.
bool copyTree(const QString& from, const QString& to);

// Flips every bit of the byte at `offset` of the file at `path`.
void flipByte(const QString& path, qint64 offset);

} // namespace corvanta::test
