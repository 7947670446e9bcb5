#pragma once

#include <cstddef>
#include <optional>

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace corvanta {

// Reads `size` bytes at `offset` of the open file `fd`, going on after
// interruptions and short reads; fewer only at the end of the file. -1 on an
// error, with errno saying which.
qsizetype readAt(int fd, void* buffer, std::size_t size, off_t offset);

// The whole of a small regular file, read with one open: none when the path
// is missing, not a regular file (a FIFO or device in its place is never
// waited on), larger than `maxSize`, or grew while being read.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 maxSize);

} // namespace corvanta
