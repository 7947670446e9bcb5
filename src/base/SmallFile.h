#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

namespace corvanta {

// The whole of a small regular file, read with one open: none when the path
// is missing, not a regular file (a FIFO or device in its place is never
// waited on), larger than `maxSize`, or grew while being read.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 maxSize);

} // namespace corvanta
