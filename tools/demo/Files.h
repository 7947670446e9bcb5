#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta::demo {

// All of the file at `path`. Throws Error when it can't be read.
QByteArray readFile(const QString& path);
// Writes `bytes` to `path`, creating its folder; an executable gets mode 0755.
// Throws Error.
void writeFile(const QString& path, const QByteArray& bytes, bool executable = false);
// A symbolic link at `path` to `target` exactly as written, creating its folder. Throws Error.
void makeLink(const QString& target, const QString& path);

} // namespace corvanta::demo
